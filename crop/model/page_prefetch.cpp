#include "crop/model/page_prefetch.h"

#include "render/page_render.h"
#include "render/rendering_library.h"

#include <algorithm>
#include <cstring>

namespace crop {

PagePrefetch::PagePrefetch(QObject *parent) : QObject(parent) {
    m_delay.setSingleShot(true);
    m_delay.setInterval(kReadAheadDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &PagePrefetch::ScheduleReadAhead);
}

PagePrefetch::~PagePrefetch() { Stop(); }

void PagePrefetch::Start(const std::string &path, std::shared_ptr<const platform::Secret> password, int pageCount,
                         bool pdf, bool metafile, uint64_t generation, std::shared_ptr<const render::PageTurns> turns) {
    Stop();
    m_scheduler = std::make_shared<render::RenderScheduler>(path, 2, std::move(password), std::move(turns));
    // A background job that fails is told in the status bar; the others go on.
    m_scheduler->SetFailureHandler([self = QPointer<PagePrefetch>(this)](const std::string &what) {
        const QString text = QStringLiteral("A background task failed: %1.").arg(QString::fromLocal8Bit(what));
        QMetaObject::invokeMethod(
            self,
            [self, text] {
                if (self)
                    emit self->StatusMessage(text);
            },
            Qt::QueuedConnection);
    });
    m_cache = std::make_shared<render::PageCache>();
    m_pageCount = pageCount;
    m_pdf = pdf;
    m_metafile = metafile;
    m_generation = generation;
    m_page = 1;
    m_direction = 1;
    m_fileChanged = false;
    m_sharpHeld = false;
    m_delay.start();
}

void PagePrefetch::Stop() {
    m_delay.stop();
    if (m_scheduler)
        m_scheduler->Stop();
    DropSharp();
    m_scheduler.reset();
    m_cache.reset();
    m_readAheadJob = 0;
}

void PagePrefetch::Shown(int page, int direction) {
    m_page = page;
    if (direction != 0)
        m_direction = direction;
    ScheduleReadAhead();
}

void PagePrefetch::FileChanged() {
    if (m_fileChanged || !m_cache)
        return;
    m_fileChanged = true;
    Yield();
    m_cache->Clear();
    DropSharp();
}

void PagePrefetch::ForgetPictures() {
    Yield();
    if (m_cache)
        m_cache->Clear();
    DropSharp();
}

void PagePrefetch::SetReadAhead(bool on) {
    m_readAhead = on;
    if (!on) {
        Yield();
        if (m_cache)
            m_cache->Clear();
    } else {
        ScheduleReadAhead();
    }
}

void PagePrefetch::Yield() {
    if (m_scheduler && m_readAheadJob)
        m_scheduler->Cancel(m_readAheadJob);
    m_readAheadJob = 0;
}

std::shared_ptr<const render::PageCache::Page> PagePrefetch::Find(int page) const {
    return m_cache && !m_fileChanged ? m_cache->Find(page) : nullptr;
}

void PagePrefetch::ScheduleReadAhead() {
    m_delay.stop();
    if (!m_scheduler || !m_cache || !m_readAhead || m_fileChanged || m_metafile)
        return;
    const std::vector<int> pages = render::PageCache::PagesAhead(m_page, m_direction, m_pageCount);
    m_cache->Want(pages);
    // One job renders the pages in turn, the most wanted first, so that
    // reading ahead takes one render thread and the thumbnails have the
    // other. The job for the pages wanted before makes way for it.
    Yield();
    if (std::all_of(pages.begin(), pages.end(), [this](int page) { return m_cache->Contains(page); }))
        return;
    std::weak_ptr<render::PageCache> cache = m_cache;
    m_readAheadJob = m_scheduler->Submit(
        render::RenderScheduler::kReadAhead, [cache, pages](render::PageSource *source, LS_CancelFlag *cancel) {
            for (int page : pages) {
                const std::shared_ptr<render::PageCache> target = cache.lock();
                if (!target || !source)
                    return true;
                if (target->Contains(page))
                    continue;
                const uint64_t epoch = target->Epoch();
                QString reason, note;
                QRect pageRect;
                render::BitmapHandle bitmap = render::RenderPageBitmap(*source, page, pageRect, reason, note, cancel);
                if (cancel && render::Ravel().IsCancelled(cancel))
                    return false;  // goes on later if only put aside
                if (!bitmap)
                    continue;  // shown as it always was when asked for
                render::PageCache::Page entry;
                entry.page = page;
                entry.bitmap = std::shared_ptr<const render::Bitmap>(std::move(bitmap));
                entry.widthPt = pageRect.width();
                entry.heightPt = pageRect.height();
                entry.note = note.toStdString();
                target->Insert(std::move(entry), epoch);
            }
            return true;
        });
}

void PagePrefetch::DropSharp() {
    if (m_scheduler && m_sharpJob)
        m_scheduler->Cancel(m_sharpJob);
    m_sharpJob = 0;
    m_sharp = {};
    m_sharpGuard.Drop();
}

void PagePrefetch::HoldSharp(bool on) {
    m_sharpHeld = on;
    DropSharp();
}

void PagePrefetch::RequestSharpRegion(int page, QSize pageSize, const QRect &area) {
    if (!m_scheduler || m_fileChanged || !m_pdf || m_sharpHeld || area.isEmpty() || pageSize.isEmpty())
        return;
    if (m_sharpJob)
        m_scheduler->Cancel(m_sharpJob);
    const uint64_t generation = m_generation;
    const JobTicket ticket = m_sharpGuard.Begin();
    m_sharpJob = m_scheduler->Submit(
        render::RenderScheduler::kVisible,
        [this, ticket, page, generation, pageSize, area](render::PageSource *source, LS_CancelFlag *cancel) {
            if (!source)
                return true;
            render::BitmapHandle bitmap = source->RenderRegion(page, pageSize.width(), pageSize.height(), area.x(),
                                                               area.y(), area.width(), area.height(), cancel);
            if (!bitmap)
                return !(cancel && render::Ravel().IsCancelled(cancel));
            // Rows are stored bottom-up, blue first.
            QImage image(bitmap->width, bitmap->height, QImage::Format_BGR888);
            if (image.isNull() || bitmap->bitsPerPixel != 24)
                return true;
            for (int y = 0; y < bitmap->height; ++y)
                std::memcpy(image.scanLine(y), bitmap->bits + size_t(bitmap->height - 1 - y) * size_t(bitmap->stride),
                            size_t(bitmap->width) * 3);
            SharpRegion region{page, generation, pageSize, area, image.convertToFormat(QImage::Format_RGB32)};
            // Only the ticket is read here: this object may be gone.
            ticket.Post([this, region] {
                m_sharp = region;
                emit SharpRegionReady();
            });
            return true;
        });
}

}  // namespace crop
