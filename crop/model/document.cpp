#include "crop/model/document.h"

#include "crop/detect/shrink.h"
#include "crop/model/auto_crop_job.h"
#include "crop/model/crop_list.h"
#include "platform/exe_folder.h"
#include "platform/file_names.h"
#include "platform/temp_files.h"
#include "render/rendering_library.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace crop {
namespace {

QString PageText(int page) { return QStringLiteral("Page No: %1").arg(page); }
QString CannotShow(int page, const QString &reason) {
    return QStringLiteral("Page %1 cannot be shown: %2.").arg(page).arg(reason);
}
const char *const kNoMemory = "there is not enough memory for its picture";

// Whether the file can be read at all; `reason` says why not.
bool CanRead(const QString &path, QString &reason) {
    QString error;
    switch (CheckReadable(path, error)) {
    case InputProblem::Missing:
        reason = QStringLiteral("the file does not exist");
        return false;
    case InputProblem::Folder:
        reason = QStringLiteral("it is a folder, not a file");
        return false;
    case InputProblem::Unreadable:
        reason = QStringLiteral("the file cannot be read (%1)").arg(error);
        return false;
    case InputProblem::None:
        break;
    }
    return true;
}

// What tells one content of a file from another without reading it.
std::string FileStamp(const QString &path) {
    struct stat st {};
    if (::stat(platform::NativePath(path).c_str(), &st) != 0)
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "%llu:%llu:%lld:%ld:%lld:%ld", (unsigned long long)st.st_dev,
                  (unsigned long long)st.st_ino, (long long)st.st_mtim.tv_sec, long(st.st_mtim.tv_nsec),
                  (long long)st.st_ctim.tv_sec, long(st.st_ctim.tv_nsec));
    return std::string(text) + ":" + std::to_string(st.st_size);
}

// `shown` (normalised) at the same place from the top-left corner of a
// page `width` x `height` points, clipped to it: the page's value, or
// nothing when no part of it lies on the page.
std::optional<std::string> PlacedFromTopLeft(const CropRect &shown, double width, double height) {
    const CropRect clipped{std::clamp(shown.left, 0.0, width), std::clamp(shown.top, 0.0, height),
                           std::clamp(shown.right, 0.0, width), std::clamp(shown.bottom, 0.0, height)};
    if (shown.IsEmpty() || clipped.left >= clipped.right || clipped.top >= clipped.bottom)
        return std::nullopt;
    return PageValueFor(clipped, int(std::trunc(height)));
}

}  // namespace

COrvaneDoc::COrvaneDoc(QObject *parent)
    : QObject(parent),
      m_pagePicture(std::make_unique<CPagePicture>()),
      m_cropFile(std::make_unique<CropFile>(platform::WorkingFolder())) {
    connect(&m_cropRun, &CropRun::Progress, this, [this](int done, int total) {
        emit StatusMessage(QStringLiteral("Writing %1: page %2 of %3").arg(m_cropRun.CurrentJob().output).arg(done).arg(total));
    });
    connect(&m_cropRun, &CropRun::Finished, this, &COrvaneDoc::CropRunEnded);
    m_readAheadDelay.setSingleShot(true);
    m_readAheadDelay.setInterval(kReadAheadDelayMs);
    connect(&m_readAheadDelay, &QTimer::timeout, this, &COrvaneDoc::ScheduleReadAhead);
    // Rectangles left from an earlier run belong to no open document.
    ResetCropFile(0);
}

COrvaneDoc::~COrvaneDoc() {
    // A run still going ends here, telling nobody.
    disconnect(&m_cropRun, nullptr, this, nullptr);
    m_cropRun.Stop();
    StopBackground();
}

void COrvaneDoc::StopBackground() {
    m_readAheadDelay.stop();
    if (m_scheduler)
        m_scheduler->Stop();
    // Work over the whole document ends with its scheduler.
    const bool shrinking = IsShrinkingAll() || IsSplitting();
    const bool overlay = OverlayWanted();
    m_shrinkWalk.reset();
    if (m_splitWalk)
        m_splitWalk->Cancel();
    m_splitWalk.reset();
    m_overlayWalk.reset();
    m_overlayCanvas.reset();
    m_overlayPicture.reset();
    m_overlaySizes.clear();
    m_overlayShown = false;
    m_overlayRectPending = false;
    if (!m_outliers.empty()) {
        m_outliers.clear();
        emit OutliersChanged();
    }
    if (shrinking)
        emit WholeDocumentWorkChanged(false);
    if (overlay)
        emit OverlayChanged();
    m_sharp = {};
    m_sharpJob = 0;
    m_scheduler.reset();
    m_cache.reset();
    m_readAheadJob = 0;
}

void COrvaneDoc::SetReadAhead(bool on) {
    m_readAhead = on;
    if (!on) {
        YieldReadAhead();
        if (m_cache)
            m_cache->Clear();
    } else {
        ScheduleReadAhead();
    }
}

void COrvaneDoc::YieldReadAhead() {
    if (m_scheduler && m_readAheadJob)
        m_scheduler->Cancel(m_readAheadJob);
    m_readAheadJob = 0;
}

void COrvaneDoc::ScheduleReadAhead() {
    m_readAheadDelay.stop();
    if (!m_scheduler || !m_cache || !m_readAhead || m_fileChanged ||
        m_pageSource->Kind() == render::SourceKind::Metafile)
        return;
    const std::vector<int> pages = render::PageCache::PagesAhead(m_currentPage, m_direction, m_pageCount);
    m_cache->Want(pages);
    // One job renders the pages in turn, the most wanted first, so that
    // reading ahead takes one render thread and the thumbnails have the
    // other. The job for the pages wanted before makes way for it.
    if (m_readAheadJob)
        m_scheduler->Cancel(m_readAheadJob);
    m_readAheadJob = 0;
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

void COrvaneDoc::RequestSharpRegion(QSize pageSize, const QRect &area) {
    if (!m_scheduler || m_fileChanged || m_pageSource->Kind() != render::SourceKind::Pdf || area.isEmpty() ||
        pageSize.isEmpty() || m_overlayShown)
        return;
    if (m_sharpJob)
        m_scheduler->Cancel(m_sharpJob);
    const int page = m_currentPage;
    const uint64_t generation = m_generation;
    m_sharpJob = m_scheduler->Submit(
        render::RenderScheduler::kVisible,
        [this, page, generation, pageSize, area](render::PageSource *source, LS_CancelFlag *cancel) {
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
            // The document outlives its render threads: they are stopped
            // before it goes.
            QMetaObject::invokeMethod(
                this,
                [this, region] {
                    if (region.generation != m_generation || region.page != m_currentPage || m_overlayShown)
                        return;
                    m_sharp = region;
                    emit SharpRegionReady();
                },
                Qt::QueuedConnection);
            return true;
        });
}

void COrvaneDoc::SetTitle(const QString &title) {
    m_title = title;
    emit TitleChanged(title);
}

bool COrvaneDoc::OpenDocumentFile(const QString &path, QString &reason, const platform::Secret *password,
                                  render::OpenFailure *why) {
    if (why)
        *why = render::OpenFailure::None;
    const QString full = QFileInfo(path).absoluteFilePath();
    if (IsOpen() && full == m_documentPath)
        return true;  // already open
    return OpenDocument(full, reason, password, why);
}

bool COrvaneDoc::OpenDocument(const QString &path, QString &reason, const platform::Secret *password,
                              render::OpenFailure *why) {
    if (why)
        *why = render::OpenFailure::Unreadable;
    if (IsCropRunning()) {
        reason = QStringLiteral("a cropped copy is being written; wait until it is done");
        return false;
    }
    if (IsShrinkingAll() || IsSplitting()) {
        reason = QStringLiteral("%1 is running; stop it (Esc) or wait until it is done")
                     .arg(IsSplitting() ? QStringLiteral("Split Pages") : QStringLiteral("Shrink All Pages"));
        return false;
    }
    if (path.isEmpty()) {
        reason = QStringLiteral("no file was named");
        return false;
    }
    const QString full = QFileInfo(path).absoluteFilePath();
    if (!CanRead(full, reason))
        return false;
    render::OpenFailure openFailure = render::OpenFailure::Unreadable;
    std::unique_ptr<render::PageSource> source =
        render::PageSource::Open(platform::NativePath(full), 1, password, &openFailure);
    if (why)
        *why = openFailure;
    if (!source) {
        reason = openFailure == render::OpenFailure::NeedsPassword    ? QStringLiteral("it is locked by a password")
                 : openFailure == render::OpenFailure::WrongPassword ? QStringLiteral("the password is not its own")
                     : QStringLiteral("it is damaged or not a document this program reads");
        return false;
    }
    const int pages = source->PageCount();
    if (pages < 1) {
        reason = QStringLiteral("it has no pages that can be read; it may be damaged");
        return false;
    }
    // What the pages' regions need is had before the shown document goes.
    try {
        CropSet probe(pages);
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("there is not enough memory to open its %1 pages").arg(pages);
        return false;
    }
    auto picture = std::make_unique<CPagePicture>();
    QString failure, note;
    QRect pageRect;
    render::BitmapHandle bitmap = render::RenderPageBitmap(*source, 1, pageRect, failure, note);
    if (!picture->SetFromBitmap(bitmap.get(), pageRect) && bitmap)
        failure = QString::fromLatin1(kNoMemory);
    bitmap.reset();

    // The new document replaces the shown one only now.
    StopBackground();
    ResetCropFile(pages);
    m_pageSource = std::move(source);
    m_pageCount = pages;
    m_currentPage = 1;
    m_pagePicture = std::move(picture);
    m_documentPath = full;
    ++m_generation;
    m_password = password && !password->Empty() ? std::make_shared<const platform::Secret>(password->View()) : nullptr;
    m_scheduler = std::make_shared<render::RenderScheduler>(platform::NativePath(full), 2, m_password);
    // A background job that fails is told in the status bar; the others go on.
    m_scheduler->SetFailureHandler([self = QPointer<COrvaneDoc>(this)](const std::string &what) {
        const QString text = QStringLiteral("A background task failed: %1.").arg(QString::fromLocal8Bit(what));
        QMetaObject::invokeMethod(
            self, [self, text] { if (self) emit self->StatusMessage(text); }, Qt::QueuedConnection);
    });
    m_cache = std::make_shared<render::PageCache>();
    m_fileStamp = FileStamp(full);
    m_fileChanged = false;
    m_direction = 1;
    LoadCurrentPageRect();
    SetTitle(QFileInfo(full).fileName());
    emit PageTextChanged(PageText(1));
    emit DocumentOpened();
    // Reading ahead waits until the document has settled: the first screen
    // of thumbnails has the processor first.
    m_readAheadDelay.start();
    if (!m_pagePicture->HasPicture())
        emit StatusMessage(CannotShow(1, failure));
    else if (!note.isEmpty())
        emit StatusMessage(note);
    return true;
}

bool COrvaneDoc::ShowPage(int page) {
    if (!IsOpen())
        return false;
    if (page >= 1 && page <= m_pageCount && !HideOverlay()) {
        // The user stays on the overlay, with what is drawn on it.
        emit ShowPageFailed(page, QStringLiteral("the overlay is still shown"));
        return false;
    }
    emit PageTextChanged(PageText(page));
    if (page == m_currentPage)
        return true;  // shown in place of the overlay: nothing is rendered again
    if (page < 1 || page > m_pageCount)
        return false;
    QString failure, note;
    QRect pageRect;
    // A page rendered ahead is shown as it is; any other is rendered here,
    // with the renders ahead stopped meanwhile.
    if (m_cache && !m_fileChanged && FileChangedOnDisk()) {
        // The file changed since it was opened: what was rendered ahead
        // may no longer be what it holds. Pages are rendered when asked
        // for from here on, as the shown page is.
        m_fileChanged = true;
        YieldReadAhead();
        m_cache->Clear();
        if (m_sharpJob)
            m_scheduler->Cancel(m_sharpJob);
        m_sharp = {};
    }
    std::shared_ptr<const render::PageCache::Page> cached = m_cache ? m_cache->Find(page) : nullptr;
    render::BitmapHandle rendered;
    if (cached) {
        pageRect = QRect(0, 0, cached->widthPt, cached->heightPt);
        note = QString::fromStdString(cached->note);
    } else {
        YieldReadAhead();
        rendered = render::RenderPageBitmap(*m_pageSource, page, pageRect, failure, note);
        ++m_windowRenders;
    }
    const render::Bitmap *bitmap = cached ? cached->bitmap.get() : rendered.get();
    if (!bitmap) {
        emit PageTextChanged(PageText(m_currentPage));
        emit StatusMessage(CannotShow(page, failure));
        emit ShowPageFailed(page, failure);
        ScheduleReadAhead();
        return false;
    }
    // Copied over the previous page's picture, whose memory it reuses.
    m_direction = page < m_currentPage ? -1 : 1;
    m_currentPage = page;
    if (!m_pagePicture->SetFromBitmap(bitmap, pageRect))
        note = CannotShow(page, QString::fromLatin1(kNoMemory));
    rendered.reset();
    LoadCurrentPageRect();
    emit PageShown(page);
    ScheduleReadAhead();
    if (!note.isEmpty())
        emit StatusMessage(note);
    return true;
}

void COrvaneDoc::CloseDocument() {
    if (IsCropRunning())
        return;  // the tool reads it
    const bool wasOpen = IsOpen();
    StopBackground();
    m_pageSource.reset();
    m_password.reset();  // overwritten once the last reader lets it go
    m_pageCount = 0;
    m_currentPage = 0;
    m_pagePicture = std::make_unique<CPagePicture>();
    m_documentPath.clear();
    ResetCropFile(0);
    m_cropRect = {};
    emit CropRectChanged();
    SetTitle(QStringLiteral("Untitled"));
    if (wasOpen)
        emit DocumentClosed();
}

void COrvaneDoc::SetAutoShrink(bool on) {
    std::string error;
    if (!m_cropFile->SetAutoShrink(on, error))
        emit StatusMessage(QStringLiteral("The Auto Shrink setting cannot be kept: %1.").arg(QString::fromStdString(error)));
    if (on == m_autoShrink)
        return;
    m_autoShrink = on;
    emit AutoShrinkChanged(on);
}

void COrvaneDoc::ToggleAutoShrink() {
    RefreshAutoShrink();
    SetAutoShrink(!m_autoShrink);
}

void COrvaneDoc::RefreshAutoShrink() {
    const bool on = m_cropFile->AutoShrink();
    if (on == m_autoShrink)
        return;
    m_autoShrink = on;
    emit AutoShrinkChanged(on);
}

bool COrvaneDoc::WriteCropFile() {
    std::string error;
    if (m_cropFile->Commit(error))
        return true;
    emit StatusMessage(QStringLiteral("The crop rectangles cannot be saved: %1.").arg(QString::fromStdString(error)));
    return false;
}

void COrvaneDoc::ResetCropFile(int pageCount) {
    std::string error;
    const bool reset = m_cropFile->Reset(error);
    if (!reset)
        emit StatusMessage(QStringLiteral("The crop file cannot be emptied: %1.").arg(QString::fromStdString(error)));
    m_touched.clear();
    m_stepOpen = false;
    m_changedSinceSave = false;
    m_savedList.clear();
    const bool hadHistory = CanUndo() || CanRedo();
    m_regions.Reset(pageCount);
    if (hadHistory)
        emit UndoStateChanged();
    // A reset that failed leaves the setting as it was.
    if (reset)
        RefreshAutoShrink();
}

CropRect COrvaneDoc::SelectedShown() const {
    // Nothing can be edited on a page without a picture; no rectangle of
    // another page stays.
    const int selected = m_regions.Selected(m_currentPage);
    if (!HasPicture() || selected < 0)
        return {};
    return RectFromPageValue(StoredRectValue(m_regions.Regions(m_currentPage)[size_t(selected)]), PageHeightPoints());
}

void COrvaneDoc::LoadCurrentPageRect() {
    m_cropRect = SelectedShown();
    emit CropRectChanged();
}

std::vector<CropRect> COrvaneDoc::PageRegions() const {
    if (!HasPicture())
        return {};
    if (m_overlayShown)  // its one rectangle
        return m_cropRect.IsEmpty() ? std::vector<CropRect>() : std::vector<CropRect>{m_cropRect};
    std::vector<CropRect> shown;
    for (const CropRect &r : m_regions.Regions(m_currentPage))
        shown.push_back(RectFromPageValue(StoredRectValue(r), PageHeightPoints()));
    return shown;
}

int COrvaneDoc::SelectedRegion() const {
    if (!HasPicture())
        return -1;
    if (m_overlayShown)
        return m_cropRect.IsEmpty() ? -1 : 0;
    return m_regions.Selected(m_currentPage);
}

bool COrvaneDoc::SelectRegion(int index) {
    if (m_overlayShown || !HasPicture() || !m_regions.Select(m_currentPage, index))
        return false;
    LoadCurrentPageRect();
    return true;
}

bool COrvaneDoc::SelectNextRegion(bool backwards) {
    if (m_overlayShown || !HasPicture() || m_regions.RegionCount(m_currentPage) < 2 ||
        !m_regions.SelectNext(m_currentPage, backwards))
        return false;
    LoadCurrentPageRect();
    return true;
}

std::vector<std::string> COrvaneDoc::ValuesOf(int page) const {
    std::vector<std::string> values;
    for (const CropRect &r : m_regions.Regions(page))
        values.push_back(StoredRectValue(r));
    return values;
}

void COrvaneDoc::SaveCurrentPageRect() { EditSelected(PageValueFor(m_cropRect, PageHeightPoints())); }

void COrvaneDoc::BeginEdit() {
    if (!m_stepOpen)
        m_regions.BeginStep(m_currentPage);
    m_stepOpen = true;
}

void COrvaneDoc::EditValues(int page, const std::vector<std::string> &values) {
    BeginEdit();
    std::vector<CropRect> rects;
    for (const std::string &value : values)
        rects.push_back(StoredRect(value));
    m_regions.SetRegions(page, std::move(rects));
    m_touched.insert(page);
}

void COrvaneDoc::EditSelected(const std::string &value) {
    BeginEdit();
    const int selected = m_regions.Selected(m_currentPage);
    if (selected < 0)
        m_regions.Add(m_currentPage, StoredRect(value));
    else
        m_regions.Change(m_currentPage, selected, StoredRect(value));
    m_touched.insert(m_currentPage);
}

void COrvaneDoc::CommitEdit() {
    // Every page the edit touched, as it is now, into the file at once.
    bool changed = false;
    for (int page : m_touched) {
        std::vector<std::string> values = ValuesOf(page);
        if (m_cropFile->StoredValues(page) == values)
            continue;
        m_cropFile->SetPageValues(page, values);
        changed = true;
    }
    m_touched.clear();
    m_nudgePage = 0;  // an arrow-key move after this is a step of its own
    // The edit's changes are one step; one that changed nothing none.
    if (m_stepOpen)
        m_regions.EndStep();
    m_stepOpen = false;
    if (changed) {
        WriteCropFile();
        m_changedSinceSave = true;
        emit UndoStateChanged();
    }
    emit CropRectChanged();
}

std::optional<std::string> COrvaneDoc::ShrunkValue(const CropRect &rect) const {
    if (!HasPicture() || rect.IsEmpty())
        return std::nullopt;
    // A rectangle drawn from right to left, or upwards, is searched as it
    // is seen; the search would find nothing in it as stored.
    // On the overlay, the content of every page of it.
    const CPagePicture &picture = PagePicture();
    const std::optional<CropRect> shrunk = ShrinkPageRect(picture, picture.PageRect().size(), rect.Normalized());
    if (!shrunk)
        return std::nullopt;  // no result: the rectangle stays as it was
    const double h = PageHeightPoints();
    return FormatPageValue({shrunk->left, h - shrunk->top, shrunk->right, h - shrunk->bottom});
}

void COrvaneDoc::EditSelectedShrunk(const std::string &value) {
    EditSelected(value);
    // The rectangle is the one the file now holds.
    m_cropRect = RectFromPageValue(value, PageHeightPoints());
}

void COrvaneDoc::SetCurrentPageRect(const CropRect &rect, bool drawn) {
    if (!Editable())
        return;
    m_cropRect = rect;
    if (m_overlayShown) {
        m_overlayRectPending = true;
        if (drawn)
            RefreshAutoShrink();
        if (drawn && m_autoShrink)
            ShrinkOnOverlay();
        emit CropRectChanged();
        return;
    }
    if (drawn) {
        RefreshAutoShrink();
        if (const std::optional<std::string> shrunk = m_autoShrink ? ShrunkValue(m_cropRect) : std::nullopt) {
            EditSelectedShrunk(*shrunk);
            CommitEdit();
            return;
        }
    }
    SaveCurrentPageRect();
    CommitEdit();
}

void COrvaneDoc::AddRegion(const CropRect &rect, bool drawn) {
    if (!Editable())
        return;
    if (m_overlayShown || m_regions.RegionCount(m_currentPage) == 0) {
        SetCurrentPageRect(rect, drawn);
        return;
    }
    if (m_regions.RegionCount(m_currentPage) >= CropSet::kMaxRegions) {
        emit StatusMessage(QStringLiteral("The region was not added: a page holds at most %1 regions, and this one has "
                                          "them all. Delete one first (Delete Rectangle, Del).")
                               .arg(CropSet::kMaxRegions));
        return;
    }
    if (drawn)
        RefreshAutoShrink();
    const std::optional<std::string> shrunk = drawn && m_autoShrink ? ShrunkValue(rect) : std::nullopt;
    BeginEdit();
    m_regions.Add(m_currentPage, StoredRect(shrunk ? *shrunk : PageValueFor(rect, PageHeightPoints())));
    m_touched.insert(m_currentPage);
    m_cropRect = shrunk ? RectFromPageValue(*shrunk, PageHeightPoints()) : rect;
    CommitEdit();
}

void COrvaneDoc::DeleteSelectedRegion() {
    if (!Editable())
        return;
    const int selected = m_regions.Selected(m_currentPage);
    if (m_overlayShown || m_regions.RegionCount(m_currentPage) < 2 || selected < 0) {
        DeleteCurrentPageRect();
        return;
    }
    BeginEdit();
    m_regions.Remove(m_currentPage, selected);
    m_touched.insert(m_currentPage);
    m_cropRect = SelectedShown();
    CommitEdit();
}

void COrvaneDoc::CopySelectedRegion() {
    const CropRect r = m_cropRect.Normalized();
    if (!HasPicture() || m_regions.Selected(m_currentPage) < 0 || r.IsEmpty()) {
        emit StatusMessage(QStringLiteral("Nothing was copied: the shown page has no region selected."));
        return;
    }
    m_copied = r;
    emit StatusMessage(QStringLiteral("Copied the selected region (%1 \u00d7 %2 pt); Paste (Ctrl+V) puts it on the shown page.")
                           .arg(r.right - r.left, 0, 'f', 1)
                           .arg(r.bottom - r.top, 0, 'f', 1));
}

void COrvaneDoc::PasteRegion() {
    if (!Editable() || m_overlayShown)
        return;
    if (!m_copied) {
        emit StatusMessage(QStringLiteral("Nothing to paste: copy a region first (Ctrl+C)."));
        return;
    }
    const std::optional<std::pair<double, double>> size = ShownPageSize(m_currentPage);
    if (!size)
        return;
    const CropRect r{std::max(0.0, m_copied->left), std::max(0.0, m_copied->top), std::min(size->first, m_copied->right),
                     std::min(size->second, m_copied->bottom)};
    if (r.right - r.left < 1 || r.bottom - r.top < 1) {
        emit StatusMessage(QStringLiteral("The copied region lies outside this page; nothing was pasted."));
        return;
    }
    const int before = m_regions.RegionCount(m_currentPage);
    AddRegion(r, false);
    if (m_regions.RegionCount(m_currentPage) > before)
        emit StatusMessage(QStringLiteral("Pasted the region onto page %1.").arg(m_currentPage));
}

void COrvaneDoc::NudgeSelectedRegion(double left, double top, double right, double bottom) {
    const int selected = m_regions.Selected(m_currentPage);
    if (!Editable() || m_overlayShown || selected < 0)
        return;
    CropRect r = m_cropRect.Normalized();
    r = {r.left + left, r.top + top, r.right + right, r.bottom + bottom};
    if (r.right - r.left < 1 || r.bottom - r.top < 1)
        return;  // never shrunk to nothing
    const auto now = std::chrono::steady_clock::now();
    const bool join =
        m_nudgePage == m_currentPage && now - m_nudgeTime < m_nudgeWindow;
    const CropRect stored = StoredRect(PageValueFor(r, PageHeightPoints()));
    if (join)
        m_regions.ChangeJoiningLast(m_currentPage, selected, stored);
    else
        m_regions.Change(m_currentPage, selected, stored);
    m_touched.insert(m_currentPage);
    m_cropRect = r;
    CommitEdit();
    m_nudgePage = m_currentPage;
    m_nudgeTime = now;
}

std::optional<std::pair<double, double>> COrvaneDoc::SizeOf(const std::vector<std::pair<double, double>> &sizes,
                                                             int page) const {
    return page >= 1 && page <= int(sizes.size()) ? std::optional(sizes[size_t(page - 1)]) : ShownPageSize(page);
}

std::optional<std::pair<double, double>> COrvaneDoc::ShownPageSize(int page) const {
    if (std::optional<std::pair<double, double>> size = PageSizeOf(page))
        return size;
    if (page == m_currentPage && HasPicture())  // a picture's frame as it is shown
        return std::pair<double, double>(m_pagePicture->PageWidth(), m_pagePicture->PageHeight());
    return std::nullopt;
}

void COrvaneDoc::SetMargins(const Margins &margins, const std::vector<int> &pages) {
    if (!Editable() || m_overlayShown)
        return;
    const int selected = m_regions.Selected(m_currentPage);
    // Every page measured at once where the page source can; else one by one.
    const std::vector<std::pair<double, double>> sizes = m_pageSource->PageSizes();
    int tooSmall = 0;
    BeginEdit();
    for (int page : pages) {
        const std::optional<std::pair<double, double>> size = SizeOf(sizes, page);
        const std::optional<CropRect> rect = size ? InsideMargins(margins, size->first, size->second) : std::nullopt;
        if (!rect) {
            ++tooSmall;
            continue;
        }
        const std::string value = PageValueFor(*rect, int(std::trunc(std::min(size->second, 1.0e9))));
        if (page == m_currentPage) {
            EditSelected(value);
            continue;
        }
        std::vector<std::string> values = ValuesOf(page);
        if (values.empty())
            values.push_back(value);
        else
            values[selected >= 0 && selected < int(values.size()) ? size_t(selected) : 0] = value;
        EditValues(page, values);
    }
    m_cropRect = SelectedShown();
    CommitEdit();
    if (tooSmall > 0)
        emit StatusMessage(QStringLiteral("%1 of the %2 pages are too small for these margins; they keep what they had.")
                               .arg(tooSmall)
                               .arg(pages.size()));
}

void COrvaneDoc::ShrinkOnOverlay() {
    // To what every page of the overlay holds.
    if (m_cropRect.IsEmpty())
        return;
    if (const auto shrunk = ShrinkPageRect(PagePicture(), PagePicture().PageRect().size(), m_cropRect.Normalized()))
        m_cropRect = *shrunk;
}

void COrvaneDoc::DeleteCurrentPageRect() {
    if (!Editable())
        return;
    m_cropRect = {};
    if (m_overlayShown) {
        m_overlayRectPending = true;
        emit CropRectChanged();
        return;
    }
    EditValues(m_currentPage, {});
    CommitEdit();
}

void COrvaneDoc::ShrinkCurrentPageRect() {
    if (!Editable())
        return;
    if (m_overlayShown) {
        m_overlayRectPending = true;
        ShrinkOnOverlay();
        emit CropRectChanged();
        return;
    }
    // Shrunk, it is the one the file holds; without a result it is loaded
    // as the file holds it.
    if (const std::optional<std::string> shrunk = ShrunkValue(m_cropRect)) {
        EditSelectedShrunk(*shrunk);
    } else {
        LoadCurrentPageRect();
    }
    CommitEdit();
}

void COrvaneDoc::ApplyRectToPages(PageRange range) { ApplyRectToPages(PagesOf(PageSet(int(range)), m_pageCount)); }

void COrvaneDoc::ApplyRectToPages(const std::vector<int> &pages) {
    if (!Editable())
        return;
    if (m_overlayShown) {
        // The same place from each page's own top-left corner.
        const CropRect shown = m_cropRect.Normalized();
        for (int page : pages) {
            const auto size = m_overlaySizes.find(page);
            if (size == m_overlaySizes.end())
                continue;  // a page the overlay could not render keeps its rectangle
            const std::optional<std::string> placed = PlacedFromTopLeft(shown, size->second.first, size->second.second);
            EditValues(page, placed ? std::vector<std::string>{*placed} : std::vector<std::string>());
        }
        CommitEdit();
        m_overlayRectPending = false;
        emit StatusMessage(QStringLiteral("The rectangle was given to every page of the overlay."));
        return;
    }
    // Pages of the shown page's size get its values as they are; a page of
    // another size gets each region as the user sees it, at the same place
    // from its top-left corner, clipped to it.
    std::vector<std::string> values = ValuesOf(m_currentPage);
    const std::vector<CropRect> shownRegions = PageRegions();
    const int selected = m_regions.Selected(m_currentPage);
    // A page without a region spreads its empty rectangle, which leaves
    // the pages as they are.
    const bool none = values.empty();
    if (none)
        values.push_back(PageValueFor(CropRect{}, PageHeightPoints()));
    // Every page measured at once where the page source can; else one by one.
    const std::vector<std::pair<double, double>> sizes =
        none ? std::vector<std::pair<double, double>>() : m_pageSource->PageSizes();
    for (int page : pages) {
        std::optional<std::pair<double, double>> size;
        if (!none)
            size = SizeOf(sizes, page);
        if (size && !(size->first > 0 && size->second > 0))
            size.reset();  // no size (or not a number): the value as it is
        else if (size)
            size = std::pair{std::min(size->first, 1.0e9), std::min(size->second, 1.0e9)};
        if (!size || (int(std::trunc(size->first)) == m_pagePicture->PageWidth() &&
                      int(std::trunc(size->second)) == PageHeightPoints())) {
            EditValues(page, values);
            continue;
        }
        std::vector<std::string> placed;
        for (const CropRect &shown : shownRegions)
            if (std::optional<std::string> value = PlacedFromTopLeft(shown.Normalized(), size->first, size->second))
                placed.push_back(std::move(*value));
        EditValues(page, placed);
    }
    // The shown page keeps its selection.
    m_regions.Select(m_currentPage, selected);
    CommitEdit();
}

std::optional<std::pair<double, double>> COrvaneDoc::PageSizeOf(int page) const {
    if (!m_pageSource || m_pageSource->Kind() != render::SourceKind::Pdf)
        return std::nullopt;  // a picture's frames are measured only by decoding them
    render::PageExtent extent;
    if (!m_pageSource->PageExtent(page, &extent, 0) || extent.x2 - extent.x1 <= 0 || extent.y2 - extent.y1 <= 0)
        return std::nullopt;
    return std::pair{std::clamp(extent.x2 - extent.x1, 0.0, 1.0e9), std::clamp(extent.y2 - extent.y1, 0.0, 1.0e9)};
}

void COrvaneDoc::MoveStep(bool forward) {
    if (!(forward ? CanRedo() : CanUndo()) || IsCropRunning())
        return;
    // The step shows the page it was made on; the overlay is left first,
    // and what was drawn on it settled. Given to its pages, the rectangle
    // is a change of its own, and this press has done its work.
    const size_t steps = m_regions.UndoSteps();
    if (!HideOverlay() || !(forward ? CanRedo() : CanUndo()) || m_regions.UndoSteps() != steps)
        return;
    const int page = forward ? m_regions.Redo() : m_regions.Undo();
    for (int changed : m_regions.MovedPages())
        m_cropFile->SetPageValues(changed, ValuesOf(changed));
    WriteCropFile();
    m_changedSinceSave = true;
    ShowPage(page);
    LoadCurrentPageRect();
    emit UndoStateChanged();
}

void COrvaneDoc::Undo() { MoveStep(false); }

void COrvaneDoc::Redo() { MoveStep(true); }

std::string COrvaneDoc::ExportCropList() const {
    const std::function<std::vector<std::string>(int)> valuesOf = [this](int page) {
        std::vector<std::string> values;
        const std::vector<CropRect> &regions = m_regions.Regions(page);
        for (int i : m_regions.OutputOrder(page, m_rightToLeft))
            values.push_back(StoredRectValue(regions[size_t(i)]));
        return values;
    };
    return CropListText(m_pageCount, valuesOf);
}

bool COrvaneDoc::HasUnsavedRectangles() const {
    if (OverlayRectanglePending())
        return true;
    // Undo and Redo may have brought back exactly what was saved.
    return m_changedSinceSave && HasPicture() && HasAnyRectangle() &&
           (m_savedList.empty() || ExportCropList() != m_savedList);
}

bool COrvaneDoc::KeepUnsavedAside(QString &reason) {
    if (!HasUnsavedRectangles() || !IsOpen()) {
        reason = QStringLiteral("no rectangle is unsaved");
        return false;
    }
    std::string error;
    if (!m_cropFile->KeepAside(platform::NativePath(m_documentPath), m_pageCount, error)) {
        reason = QString::fromStdString(error);
        return false;
    }
    return true;
}

void COrvaneDoc::RestoreKeptAside(const CropFile::KeptAside &kept) {
    if (!IsOpen() || m_cropRun.IsRunning())
        return;
    for (const auto &[page, values] : kept.pages)
        if (page >= 1 && page <= m_pageCount)
            EditValues(page, values);
    CommitEdit();
    LoadCurrentPageRect();
}

bool COrvaneDoc::HasAnyRectangle() const {
    for (int page = 1; page <= m_pageCount; ++page)
        for (const CropRect &r : m_regions.Regions(page)) {
            const std::array<double, 4> n = ParsePageValue(StoredRectValue(r));
            // As the crop list gives it to the crop tool.
            if (float(n[0]) != float(n[2]) && float(n[1]) != float(n[3]))
                return true;
        }
    return false;
}

bool COrvaneDoc::IsDocumentFile(const QString &path) const {
    if (!IsOpen())
        return false;
    const QFileInfo a(path), b(m_documentPath);
    return a.exists() && b.exists() ? a.canonicalFilePath() == b.canonicalFilePath()
                                    : a.absoluteFilePath() == b.absoluteFilePath();
}

bool COrvaneDoc::FileChangedOnDisk() const { return IsOpen() && FileStamp(m_documentPath) != m_fileStamp; }

bool COrvaneDoc::RunCropTool(const QString &output, QString &reason, bool changedFileAccepted, bool replaceReadOnly) {
    if (!IsOpen()) {
        reason = QStringLiteral("no document is open");
        return false;
    }
    if (IsShrinkingAll() || IsSplitting()) {
        reason = IsSplitting() ? QStringLiteral("Split Pages is running; wait until it is done")
                               : QStringLiteral("Shrink All Pages is running; wait until it is done");
        return false;
    }
    if (m_pageSource->Kind() != render::SourceKind::Pdf) {
        reason = QStringLiteral("only PDF documents can be saved cropped, and %1 is not one").arg(m_title);
        return false;
    }
    // The rectangles belong to the pages the file held when it was opened;
    // changed since, it may hold others.
    if (!changedFileAccepted && FileChangedOnDisk()) {
        reason = QStringLiteral("%1 has changed on disk since it was opened; open it again to crop what it holds now")
                     .arg(m_documentPath);
        return false;
    }
    if (!HasAnyRectangle()) {
        reason = QStringLiteral("no page has a crop rectangle; nothing was cropped");
        return false;
    }
    CropRun::Job job;
    QByteArray list;
    if (!ToolJob(output, job, list, reason, replaceReadOnly))
        return false;
    m_sizeBefore = QFileInfo(m_documentPath).size();
    if (!m_cropRun.Start(job, reason))
        return false;
    m_cropRun.SendList(list);
    emit StatusMessage(QStringLiteral("Writing %1").arg(job.output));
    emit CropRunChanged(true);
    return true;
}

bool COrvaneDoc::ToolJob(const QString &output, CropRun::Job &job, QByteArray &list, QString &reason,
                         bool replaceReadOnly) {
    try {
        list = QByteArray::fromStdString(ExportCropList()) + "End\n";
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("there is not enough memory for the crop list");
        return false;
    }
    job = CropRun::Job(CropRun::ToolPath(), QStringLiteral("-"), m_documentPath, QFileInfo(output).absoluteFilePath());
    job.password = m_password;
    job.removeHidden = m_removeHidden;
    job.overwrite = replaceReadOnly;
    return true;
}

bool COrvaneDoc::SaveReport(const QString &output, QByteArray &json, QString &reason, const std::function<bool()> &stopped,
                            bool replaceReadOnly) {
    if (!IsOpen()) {
        reason = QStringLiteral("no document is open");
        return false;
    }
    CropRun::Job job;
    QByteArray list;
    if (!ToolJob(output, job, list, reason, replaceReadOnly))
        return false;
    return CropRun::Report(job, json, reason, list, stopped);
}

void COrvaneDoc::StopCropRun() {
    if (!IsCropRunning())
        return;
    if (!m_cropRun.Stop())
        return;  // it had finished: told as any finish
    emit StatusMessage(QStringLiteral("Writing %1 was stopped.").arg(m_cropRun.CurrentJob().output));
    emit CropRunChanged(false);
}

void COrvaneDoc::CropRunEnded(bool ok, const QString &message) {
    emit CropRunChanged(false);
    const QString output = m_cropRun.CurrentJob().output;
    if (ok && IsDocumentFile(output)) {
        // The pages are not the ones the rectangles and the undo history
        // were made on: the document is opened afresh.
        QString reason;
        // The copy keeps the input's encryption, and so its passwords.
        const std::shared_ptr<const platform::Secret> password = m_password;
        if (!OpenDocument(output, reason, password.get())) {
            CloseDocument();
            emit CropRunFinished(false, QStringLiteral("%1 was written, but cannot be opened again: %2.")
                                            .arg(output, reason));
            return;
        }
    }
    if (ok) {
        m_changedSinceSave = false;
        m_savedList = ExportCropList();
        QString status = message.section(QLatin1Char('\n'), 0, 0);
        if (m_cropRun.CurrentJob().removeHidden) {
            // What removing the hidden content saved.
            const QLocale locale;
            // First, where a long path cannot push it out of sight.
            status = QStringLiteral("Hidden content removed: %1 before, %2 after. ")
                         .arg(locale.formattedDataSize(m_sizeBefore), locale.formattedDataSize(QFileInfo(output).size())) +
                     status;
        }
        emit StatusMessage(status);
    } else {
        emit StatusMessage(QStringLiteral("%1 was not written.").arg(output));
    }
    emit CropRunFinished(ok, message);
}

bool COrvaneDoc::ShrinkAllPages(const AutoCropOptions &options, QString &reason) {
    if (!IsOpen() || !m_scheduler) {
        reason = QStringLiteral("no document is open");
        return false;
    }
    if (m_pageSource->Kind() != render::SourceKind::Pdf) {
        reason = QStringLiteral("only the pages of PDF documents are shrunk all at once, and %1 is not one").arg(m_title);
        return false;
    }
    if (IsCropRunning() || IsShrinkingAll()) {
        reason = IsCropRunning() ? QStringLiteral("a cropped copy is being written; wait until it is done")
                                 : QStringLiteral("Shrink All Pages is running already");
        return false;
    }
    // Each page is shrunk inside its own rectangle, where it has one.
    std::map<int, std::string> values;
    for (int page : PagesOf(options, m_pageCount))
        if (std::optional<std::string> value = m_cropFile->StoredValue(page))
            values.emplace(page, std::move(*value));
    auto areaOf = [values = std::move(values)](int page, double height) {
        const auto value = values.find(page);
        return value == values.end() ? CropRect{} : RectFromPageValue(value->second, int(std::trunc(height)));
    };
    const uint64_t run = ++m_shrinkRun;
    QPointer<COrvaneDoc> self(this);
    m_shrinkWalk = StartAutoCrop(
        m_scheduler, m_pageCount, options, std::move(areaOf),
        [self, run](int done, int total) {
            QMetaObject::invokeMethod(
                self,
                [self, run, done, total] {
                    if (self && self->m_shrinkRun == run && self->IsShrinkingAll())
                        emit self->WorkProgress(Work::ShrinkAll, done, total);
                },
                Qt::QueuedConnection);
        },
        [self, run](AutoCropResult result) {
            QMetaObject::invokeMethod(
                self,
                [self, run, result = std::move(result)] {
                    if (self)
                        self->ShrinkAllEnded(result, run);
                },
                Qt::QueuedConnection);
        });
    if (!m_shrinkWalk)
        return false;
    emit WholeDocumentWorkChanged(true);
    emit WorkProgress(Work::ShrinkAll, 0, 0);
    return true;
}

void COrvaneDoc::ShrinkAllEnded(const AutoCropResult &result, uint64_t run) {
    if (!m_shrinkWalk || run != m_shrinkRun)
        return;  // stopped meanwhile, or another document
    m_shrinkWalk.reset();
    // Each page's crop is its first region; the others stay.
    for (const auto &[page, value] : PlannedValues(result)) {
        std::vector<std::string> values = ValuesOf(page);
        if (values.empty())
            values.push_back(value);
        else
            values[0] = value;
        EditValues(page, values);
    }
    CommitEdit();
    LoadCurrentPageRect();
    m_outliers = result.plan.outliers;
    emit OutliersChanged();
    emit WholeDocumentWorkChanged(false);
    QString text = QStringLiteral("Shrink All Pages: %1 of %2 pages given a crop").arg(result.plan.rects.size()).arg(result.pages.size());
    if (result.plan.blank > 0 && result.plan.rects.size() < result.pages.size())
        text += QStringLiteral(", %1 blank left as they were").arg(result.plan.blank);
    if (result.plan.failed > 0)
        text += QStringLiteral(", %1 that could not be rendered left as they were").arg(result.plan.failed);
    if (!m_outliers.empty())
        text += QStringLiteral("; %1 to check").arg(m_outliers.size());
    emit StatusMessage(text + QStringLiteral("."));
}

bool COrvaneDoc::SplitPages(const SplitGrid &grid, const std::vector<int> &pages, double margin, bool uniform,
                            QString &reason) {
    if (!IsOpen() || !m_scheduler || m_pageSource->Kind() != render::SourceKind::Pdf) {
        reason = QStringLiteral("only the pages of an open PDF document can be split");
        return false;
    }
    if (!Editable() || m_overlayShown) {
        reason = QStringLiteral("the document is busy with other work; wait until it is done");
        return false;
    }
    // Each page's cells, collected on the render threads.
    struct Found {
        std::mutex mutex;
        std::map<int, SplitCells> cells;
        int failed = 0;
    };
    auto found = std::make_shared<Found>();
    const uint64_t generation = m_generation;
    QPointer<COrvaneDoc> self(this);
    std::shared_ptr<PageWalk> walk;
    walk = PageWalk::Start(
        m_scheduler, pages,
        [found, grid](const PageWalk::Page &page) {
            SplitCells cells;
            if (page.bitmap && page.width > 0)
                cells = SplitPage(PixelView::Of(*page.bitmap), page.bitmap->width / page.width, grid);
            std::lock_guard lock(found->mutex);
            if (cells.cells.empty())
                ++found->failed;
            else
                found->cells[page.page] = std::move(cells);
        },
        [self](int done, int total) {
            QMetaObject::invokeMethod(
                self,
                [self, done, total] {
                    if (self && self->IsSplitting())
                        emit self->WorkProgress(Work::Split, done, total);
                },
                Qt::QueuedConnection);
        },
        [self, found, generation, margin, uniform] {
            QMetaObject::invokeMethod(
                self,
                [self, found, generation, margin, uniform] {
                    if (!self || self->m_generation != generation || !self->m_splitWalk)
                        return;
                    std::lock_guard lock(found->mutex);
                    self->SplitEnded(found->cells, found->failed, margin, uniform);
                },
                Qt::QueuedConnection);
        }, render::RenderScheduler::kBackground, PageWalk::Colours::Grey);
    m_splitWalk = walk;
    emit WholeDocumentWorkChanged(true);
    emit WorkProgress(Work::Split, 0, 0);
    return true;
}

void COrvaneDoc::SplitEnded(const std::map<int, SplitCells> &cells, int failed, double margin, bool uniform) {
    m_splitWalk.reset();
    const std::vector<std::pair<double, double>> sizes = m_pageSource->PageSizes();
    std::vector<Outlier> whole;
    BeginEdit();
    for (const auto &[page, split] : cells) {
        const std::optional<std::pair<double, double>> size = SizeOf(sizes, page);
        if (!size)
            continue;
        // The cells as the grid has them; the copy takes them in reading order.
        std::vector<std::string> values;
        for (const CropRect &cell : FitCells(split.cells, margin, uniform, size->first, size->second))
            values.push_back(PageValueFor(cell, int(std::trunc(std::min(size->second, 1.0e9)))));
        EditValues(page, values);
        if (split.missed > 0)
            whole.push_back({page, split.cells.size() > 1 ? "no gutter: row left whole" : "no gutter: left whole",
                             split.cells.size() > 1 ? "a row of it has no gutter or fold to cut at, so the row is left whole"
                                                    : "it has no gutter or fold to cut at, so it is left whole"});
    }
    m_cropRect = SelectedShown();
    CommitEdit();
    m_outliers = std::move(whole);
    emit OutliersChanged();
    emit WholeDocumentWorkChanged(false);
    int split = 0;
    for (const auto &[page, found] : cells)
        split += found.cells.size() > 1;
    QString text = QStringLiteral("Split Pages: %1 of %2 pages split").arg(split).arg(cells.size() + size_t(failed));
    if (!m_outliers.empty())
        text += QStringLiteral(", %1 without a gutter left whole (to check)").arg(m_outliers.size());
    if (failed > 0)
        text += QStringLiteral(", %1 that could not be rendered left as they were").arg(failed);
    emit StatusMessage(text + QStringLiteral("."));
}

void COrvaneDoc::StopWholeDocumentWork() {
    if (m_overlayWalk && !m_overlayShown) {
        m_overlayWalk->Cancel();
        m_overlayWalk.reset();
        m_overlayCanvas.reset();
        emit OverlayChanged();
        emit StatusMessage(QStringLiteral("The overlay was stopped."));
    }
    if (m_splitWalk) {
        m_splitWalk->Cancel();
        m_splitWalk.reset();
        emit WholeDocumentWorkChanged(false);
        emit StatusMessage(QStringLiteral("Split Pages was stopped; no rectangle changed."));
    }
    if (!m_shrinkWalk)
        return;
    m_shrinkWalk->Cancel();
    m_shrinkWalk.reset();
    emit WholeDocumentWorkChanged(false);
    emit StatusMessage(QStringLiteral("Shrink All Pages was stopped; no rectangle changed."));
}

void COrvaneDoc::OverlayCanvas::Darken(const PageWalk::Page &page) {
    const render::Bitmap &b = *page.bitmap;
    if (b.bitsPerPixel != 24 || b.width <= 0 || b.height <= 0)
        return;
    std::lock_guard lock(mutex);
    if (b.width > width || b.height > height) {
        // A larger page: the canvas grows, white where nothing was yet,
        // within what one page picture may hold.
        const int w = std::max(width, b.width), h = std::max(height, b.height);
        if (!render::WithinPageImageLimit(uint32_t(w), uint32_t(h), 24)) {
            ++skipped;
            return;
        }
        std::vector<uint8_t> grown;
        try {
            grown.assign(size_t(w) * size_t(h) * 3, 255);
        } catch (const std::bad_alloc &) {
            ++skipped;
            return;
        }
        for (int y = 0; y < height; ++y)
            std::memcpy(grown.data() + size_t(y) * size_t(w) * 3, pixels.data() + size_t(y) * size_t(width) * 3,
                        size_t(width) * 3);
        pixels.swap(grown);
        width = w;
        height = h;
    }
    sizes[page.page] = {page.width, page.height};
    widthPt = std::max(widthPt, int(page.width));
    heightPt = std::max(heightPt, int(page.height));
    for (int y = 0; y < b.height; ++y) {
        const uint8_t *from = b.bits + size_t(b.height - 1 - y) * size_t(b.stride);
        uint8_t *to = pixels.data() + size_t(y) * size_t(width) * 3;
        for (int i = 0; i < b.width * 3; ++i)
            to[i] = std::min(to[i], from[i]);
    }
}

bool COrvaneDoc::ShowOverlay(PageSet set, QString &reason) { return ShowOverlay(PagesOf(set, m_pageCount), reason); }

bool COrvaneDoc::ShowOverlay(const std::vector<int> &pages, QString &reason) {
    if (!IsOpen() || !m_scheduler || m_pageSource->Kind() != render::SourceKind::Pdf) {
        reason = QStringLiteral("only the pages of an open PDF document can be overlaid");
        return false;
    }
    if (!HideOverlay()) {
        reason = QStringLiteral("the overlay shown has a rectangle to settle first");
        return false;
    }
    m_overlayPages = pages;
    m_overlayCanvas = std::make_shared<OverlayCanvas>();
    const std::shared_ptr<OverlayCanvas> canvas = m_overlayCanvas;
    const uint64_t generation = m_generation;
    QPointer<COrvaneDoc> self(this);
    const std::shared_ptr<PageWalk> walk = PageWalk::Start(
        m_scheduler, pages,
        [canvas](const PageWalk::Page &page) {
            if (page.bitmap)
                canvas->Darken(page);
        },
        [self, canvas](int done, int total) {
            QMetaObject::invokeMethod(
                self,
                [self, canvas, done, total] {
                    if (self && self->m_overlayCanvas == canvas)
                        emit self->WorkProgress(Work::Overlay, done, total);
                },
                Qt::QueuedConnection);
        },
        [self, canvas, generation] {
            QMetaObject::invokeMethod(
                self,
                [self, canvas, generation] {
                    if (self && self->m_generation == generation && self->m_overlayCanvas == canvas)
                        self->OverlayBuilt();
                },
                Qt::QueuedConnection);
        });
    m_overlayWalk = walk;
    emit OverlayChanged();
    return true;
}

void COrvaneDoc::OverlayBuilt() {
    const std::shared_ptr<OverlayCanvas> canvas = std::move(m_overlayCanvas);
    const int pages = m_overlayWalk ? m_overlayWalk->Total() : 0;
    m_overlayWalk.reset();
    auto picture = std::make_unique<CPagePicture>();
    std::lock_guard lock(canvas->mutex);
    render::Bitmap bitmap;
    bitmap.width = canvas->width;
    bitmap.height = canvas->height;
    bitmap.bitsPerPixel = 24;
    std::optional<std::vector<uint8_t>> rows = BottomUpRows(canvas->pixels.data(), canvas->width, canvas->height,
                                                            bitmap.stride);
    if (!rows) {
        emit OverlayChanged();
        emit StatusMessage(QStringLiteral("The overlay is too large: there is not enough memory for it."));
        return;
    }
    bitmap.bits = rows->data();
    if (canvas->width <= 0 ||
        !picture->SetFromBitmap(&bitmap, QRect(0, 0, canvas->widthPt, canvas->heightPt))) {
        emit OverlayChanged();
        emit StatusMessage(QStringLiteral("The overlay cannot be shown: no page of it could be rendered, or there is "
                                          "not enough memory for it."));
        return;
    }
    m_overlayPicture = std::move(picture);
    m_overlaySizes = canvas->sizes;
    m_overlayShown = true;
    m_overlayRectPending = false;  // the shown page's own rectangle, until one is drawn
    m_sharp = {};
    emit OverlayChanged();
    emit CropRectChanged();
    emit StatusMessage(canvas->skipped == 0
                           ? QStringLiteral("Overlay of %1 pages: one rectangle for them all").arg(pages)
                           : QStringLiteral("Overlay of %1 pages; %2 too large to overlay left out")
                                 .arg(pages - canvas->skipped)
                                 .arg(canvas->skipped));
}

bool COrvaneDoc::OverlayRectanglePending() const {
    return m_overlayShown && m_overlayRectPending && !m_cropRect.IsEmpty();
}

bool COrvaneDoc::SettleOverlayRectangle() {
    if (!OverlayRectanglePending())
        return true;
    if (!Editable()) {
        // Nothing can be given to the pages now, and the rectangle is not
        // let go without a word: the overlay stays.
        emit StatusMessage(QStringLiteral("The rectangle drawn on the overlay stays there until the work that holds "
                                          "the document is done; then give it to its pages or leave the overlay."));
        return false;
    }
    const OverlayExit answer =
        m_overlayQuestion ? m_overlayQuestion(int(m_overlaySizes.size())) : OverlayExit::Drop;
    if (answer == OverlayExit::Stay || !OverlayRectanglePending())
        return answer != OverlayExit::Stay;
    if (answer == OverlayExit::Give)
        ApplyRectToPages(m_overlayPages);
    else
        m_overlayRectPending = false;  // the user chose to leave the pages as they are
    return true;
}

bool COrvaneDoc::HideOverlay() {
    if (!OverlayWanted())
        return true;
    if (!SettleOverlayRectangle())
        return false;
    if (m_overlayWalk)
        m_overlayWalk->Cancel();
    m_overlayWalk.reset();
    m_overlayCanvas.reset();
    m_overlayPicture.reset();
    m_overlaySizes.clear();
    const bool wasShown = m_overlayShown;
    m_overlayShown = false;
    m_overlayRectPending = false;
    emit OverlayChanged();
    // What was drawn on the overlay stays on it: the page shows its own.
    if (wasShown)
        LoadCurrentPageRect();
    return true;
}

}  // namespace crop
