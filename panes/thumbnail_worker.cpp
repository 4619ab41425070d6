#include "panes/thumbnail_worker.h"

#include "platform/temp_files.h"
#include "render/ravel_document.h"
#include "render/rendering_library.h"

#include <QPainter>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <unistd.h>

namespace panes {
namespace {

bool EndsWith(std::string_view path, std::string_view suffix) {
    if (path.size() < suffix.size())
        return false;
    const std::string_view tail = path.substr(path.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

// The extension: the last dot and what follows it, in no folder name.
bool HasExtension(std::string_view path, std::string_view ext) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos)
        return false;
    return path.size() - dot == ext.size() && EndsWith(path, ext);
}

const QColor kFrameGrey(192, 192, 192);

void DrawFrame(QImage &cell) {
    QPainter painter(&cell);
    painter.setPen(kFrameGrey);
    painter.drawRect(0, 0, kThumbnailWidth - 1, kThumbnailHeight - 1);
}

}  // namespace

const ThumbnailFile *RecordFor(const std::vector<ThumbnailFile> &files, int item) {
    if (files.size() == 1)
        return &files.front();
    if (item < 0 || size_t(item) >= files.size())
        return nullptr;
    return &files[size_t(item)];
}

namespace {

// Deletes a temporary picture and takes it off the list deleted at exit.
void RemoveTemporary(const std::string &name) {
    ::unlink(name.c_str());
    platform::TempFileRegistry::Instance().Forget(name);
}

}  // namespace

int PictureTypeFromName(std::string_view path) {
    struct Suffix {
        const char *text;
        int code;
    };
    // Four letters before three, so that "wbmp" is not taken for "bmp".
    static const Suffix kSuffixes[] = {
        {"wbmp", 9}, {"jpeg", 3}, {"tiff", 6}, {"bmp", 1},  {"gif", 2},  {"jpg", 3},  {"png", 4},  {"ico", 5},
        {"tif", 6},  {"tga", 7},  {"pcx", 8},  {"wmf", 10}, {"emf", 10}, {"j2k", 11}, {"jp2", 11}, {"j2c", 12},
        {"jpc", 12}, {"pgx", 13}, {"pnm", 14}, {"pgm", 14}, {"ppm", 14}, {"ras", 15}, {"mng", 17}, {"jng", 17},
    };
    for (const Suffix &s : kSuffixes)
        if (EndsWith(path, s.text))
            return s.code;
    return 0;
}

bool IsPdfForCounting(std::string_view path) { return HasExtension(path, ".pdf") || HasExtension(path, ".bak"); }
bool IsPdfName(std::string_view path) { return HasExtension(path, ".pdf"); }

CellFit FitInCell(int width, int height) {
    CellFit fit;
    if (width <= 0 || height <= 0)
        return fit;
    const float ratio = float(height) / float(width);
    if (ratio > 1.25f) {
        fit.h = kThumbnailHeight;
        fit.w = int(float(kThumbnailHeight) / ratio);
        fit.x = (kThumbnailWidth - fit.w) / 2;
    } else {
        fit.w = kThumbnailWidth;
        fit.h = int(ratio * float(kThumbnailWidth));
        fit.y = (kThumbnailHeight - fit.h) / 2;
    }
    return fit;
}

QImage PlaceholderCell() {
    QImage cell(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
    cell.fill(Qt::white);
    DrawFrame(cell);
    return cell;
}

std::pair<int, int> GetVisibleRange(const StripLayout &layout, int count, int defaultLast) {
    int first = -1, last = defaultLast;
    const int columns = std::max(1, layout.columns);
    const int rows = count <= 0 ? 0 : (count + columns - 1) / columns;
    auto top = [&](int row) { return int64_t(layout.firstTop) + int64_t(row) * layout.rowPitch; };
    for (int r = 0; r < rows; ++r)
        if (top(r) + layout.itemHeight >= 0) {
            first = r * columns;
            break;
        }
    for (int r = rows - 1; r >= 0; --r)
        if (top(r) + layout.itemHeight >= layout.clientHeight && top(r) < layout.clientHeight) {
            last = std::min(count - 1, (r + 1) * columns - 1);
            break;
        }
    return {first, last};
}

std::shared_ptr<ThumbnailWorker> ThumbnailWorker::Create(std::shared_ptr<render::RenderScheduler> scheduler,
                                                         std::vector<ThumbnailFile> files, ThumbnailSink *sink) {
    return std::shared_ptr<ThumbnailWorker>(new ThumbnailWorker(std::move(scheduler), std::move(files), sink));
}

ThumbnailWorker::ThumbnailWorker(std::shared_ptr<render::RenderScheduler> scheduler, std::vector<ThumbnailFile> files,
                                 ThumbnailSink *sink)
    : m_scheduler(std::move(scheduler)), m_files(std::move(files)), m_sink(sink) {}

ThumbnailWorker::~ThumbnailWorker() {
    // Jobs hold the worker alive, so none runs here any more.
}

bool ThumbnailWorker::SubmitLocked() {
    if (m_jobQueued)
        return true;
    const std::shared_ptr<render::RenderScheduler> scheduler = m_scheduler.lock();
    if (!scheduler)
        return false;
    std::weak_ptr<ThumbnailWorker> self = weak_from_this();
    const uint64_t run = m_run;
    const uint64_t id = scheduler->Submit(render::RenderScheduler::kThumbnail,
                                          [self, run](render::PageSource *source, LS_CancelFlag *cancel) {
                                              const std::shared_ptr<ThumbnailWorker> worker = self.lock();
                                              return !worker || worker->ThumbnailThreadProc(source, cancel, run);
                                          });
    if (id == 0)
        return false;
    m_jobId = id;
    m_jobQueued = true;
    return true;
}

bool ThumbnailWorker::StartWorker() {
    if (WakeWorker())
        return true;
    StopWorker();
    {
        // A job of the run before that has outlived the stop's wait would
        // work beside the new one: no start until it has gone.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_jobsRunning > 0)
            return false;
        ++m_run;  // jobs of earlier runs that have yet to start do nothing
    }
    {
        std::lock_guard<std::mutex> sinkLock(m_sinkMutex);
        m_stop.store(false, std::memory_order_release);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
    m_ended = false;
    m_filled = false;
    m_started = SubmitLocked();
    return m_started;
}

bool ThumbnailWorker::WakeWorker() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started || m_ended || Stopping())
        return false;
    // A refresh already waiting sees the newest layout: one is enough.
    if (std::find(m_messages.begin(), m_messages.end(), int(kRefresh)) == m_messages.end())
        m_messages.push_back(kRefresh);
    return SubmitLocked();
}

void ThumbnailWorker::DrawAgain(std::vector<int> pages) {
    const std::shared_ptr<render::RenderScheduler> scheduler = m_scheduler.lock();
    const ThumbnailFile *record = RecordFor(m_files, 0);
    if (!scheduler || pages.empty() || !record || !IsPdfForCounting(record->path))
        return;
    std::weak_ptr<ThumbnailWorker> self = weak_from_this();
    // Put aside by more urgent work, the job goes on later from the page
    // it had reached.
    auto next = std::make_shared<size_t>(0);
    auto job = [self, pages = std::move(pages), path = record->path, next](render::PageSource *source,
                                                                           LS_CancelFlag *cancel) {
        const std::shared_ptr<ThumbnailWorker> worker = self.lock();
        if (!worker || !source || source->Kind() != render::SourceKind::Pdf || source->Path() != path)
            return true;
        for (; *next < pages.size(); ++*next) {
            const int page = pages[*next];
            if (worker->Interrupted(cancel))
                return false;
            std::string name;
            if (platform::MakeTempFileName(300, name, ".jpg") == 0)
                continue;
            source->ApplyTurn(page);
            const bool written =
                render::Ravel().ThumbnailCancellable(source->DocumentHandle(), name.c_str(), page, cancel) != 0;
            if (written)
                worker->DrawCellFromFile(&name, page - 1);
            RemoveTemporary(name);
            if (!written && worker->Interrupted(cancel))
                return false;  // this page again, later
        }
        return true;
    };
    scheduler->Submit(render::RenderScheduler::kThumbnail, std::move(job));
}

void ThumbnailWorker::StopWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started)
            return;
        m_started = false;
    }
    {
        // Once this is set under the sink's lock, nothing more is handed over.
        std::lock_guard<std::mutex> sinkLock(m_sinkMutex);
        m_stop.store(true, std::memory_order_release);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_messages.push_back(kQuit);
    if (const std::shared_ptr<render::RenderScheduler> scheduler = m_scheduler.lock(); scheduler && m_jobQueued)
        scheduler->Cancel(m_jobId);
    // A job that was dropped before it ran needs no wait; one that runs
    // sees the stop before its next page.
    m_idle.wait_for(lock, std::chrono::milliseconds(2000), [this] { return m_jobsRunning == 0; });
    m_jobQueued = false;
    m_messages.clear();
}

void ThumbnailWorker::PublishLayout(const StripLayout &layout) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_layout = layout;
}

bool ThumbnailWorker::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started && !m_ended;
}

bool ThumbnailWorker::Idle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobsRunning == 0;
}

int ThumbnailWorker::Produced(int item) const {
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    return item >= 0 && size_t(item) < m_produced.size() ? m_produced[size_t(item)] : 0;
}

bool ThumbnailWorker::Interrupted(LS_CancelFlag *cancel) const {
    return Stopping() || (cancel && render::Ravel().IsCancelled(cancel));
}

void ThumbnailWorker::Ended() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_messages.clear();
}

bool ThumbnailWorker::ThumbnailThreadProc(render::PageSource *source, LS_CancelFlag *cancel, uint64_t run) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if ((run != 0 && run != m_run) || Stopping())
            return true;  // a job of a run that was stopped
        ++m_jobsRunning;
    }
    // Whatever way the procedure leaves, a stop waiting for it is told.
    // Unless put aside (to run again) no job is queued any more; a post
    // after an empty queue was seen submits a new one.
    struct Leave {
        ThumbnailWorker *worker;
        bool finished = true;
        ~Leave() {
            std::lock_guard<std::mutex> lock(worker->m_mutex);
            --worker->m_jobsRunning;
            if (finished)
                worker->m_jobQueued = false;
            worker->m_idle.notify_all();
        }
    } leave{this};

    if (!m_filled && !Stopping()) {
        m_filled = true;
        if (FillList(source, cancel) < 0) {
            // Put aside in its first refresh: that refresh is finished as
            // the next message.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_front(kRefresh);
        }
    }
    while (!Stopping()) {
        int message = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_messages.empty()) {
                // Waits for the next post, which queues a job again.
                m_jobQueued = false;
                leave.finished = false;
                return true;
            }
            // Taken off the queue: a refresh posted from now on is handled
            // after this one, with the layout of its time.
            message = m_messages.front();
            m_messages.pop_front();
        }
        if (message == kQuit) {
            Ended();
            return true;
        }
        if (message != kRefresh)
            continue;
        for (;;) {
            if (Stopping())
                return true;
            const int result = RefreshVisible(source, cancel);
            if (result < 0) {
                // Put aside: the refresh goes on later where it was.
                std::lock_guard<std::mutex> lock(m_mutex);
                m_messages.push_front(kRefresh);
                leave.finished = false;
                return false;
            }
            if (result == 2)
                continue;
            if (result == 3)
                break;
            Ended();  // nothing left, or nothing to make it from
            return true;
        }
    }
    return true;
}

int ThumbnailWorker::CountThumbnails(render::PageSource *source) {
    int total = 0;
    for (const ThumbnailFile &file : m_files) {
        if (!IsPdfForCounting(file.path)) {
            ++total;
            continue;
        }
        if (source && source->Kind() == render::SourceKind::Pdf && source->Path() == file.path) {
            total += std::max(0, source->PageCount());
            continue;
        }
        const render::RavelDocument document = render::RavelDocument::Open(file.path, 1);
        if (document)
            total += std::max(0, render::Ravel().Pages(document.Handle()));
    }
    return total;
}

int ThumbnailWorker::FillList(render::PageSource *source, LS_CancelFlag *cancel) {
    const int total = CountThumbnails(source);
    if (total <= 0)
        return 0;
    m_done.assign(size_t(total), 0);
    {
        std::lock_guard<std::mutex> lock(m_sinkMutex);
        m_produced.assign(size_t(total), 0);
        if (m_sink && !Stopping())
            m_sink->ItemsFilled(total);
    }
    return RefreshVisible(source, cancel);
}

int ThumbnailWorker::RefreshVisible(render::PageSource *source, LS_CancelFlag *cancel) {
    const int count = ItemCount();
    if (count <= 0 || std::all_of(m_done.begin(), m_done.end(), [](uint8_t d) { return d != 0; }))
        return 1;
    int result = 0;
    for (size_t pass = 0; pass < m_files.size() && !Stopping(); ++pass) {
        StripLayout layout;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            layout = m_layout;
        }
        const auto [first, last] = GetVisibleRange(layout, count, count - 1);
        int a = first, b = last;
        while (a >= 0 && a < count && m_done[size_t(a)])
            ++a;
        while (b >= 0 && b < count && m_done[size_t(b)])
            --b;
        result = 3;
        if (a >= 0 && a < b)
            for (int j = a; j < b; ++j)
                if (m_done[size_t(j)]) {
                    b = j - 1;
                    result = 2;
                    break;
                }
        if (a >= 0 && a <= b && b < count) {
            if (!RenderRange(a, b, source, cancel) && !Stopping())
                return -1;
            if (Stopping())
                break;
            std::fill(m_done.begin() + a, m_done.begin() + b + 1, uint8_t(1));
        }
    }
    return result;
}

bool ThumbnailWorker::RenderRange(int first, int last, render::PageSource *source, LS_CancelFlag *cancel) {
    const ThumbnailFile *record = RecordFor(m_files, first);
    if (!record)
        return true;
    if (!IsPdfForCounting(record->path))
        return RenderPictures(first, last, cancel);

    // The thread's own handle of the document when it is this file; else
    // one opened for the range.
    render::RavelDocument opened;
    LS_Document handle = 0;
    if (source && source->Kind() == render::SourceKind::Pdf && source->Path() == record->path) {
        handle = source->DocumentHandle();
    } else {
        opened = render::RavelDocument::Open(record->path, 1);
        handle = opened.Handle();
    }
    if (!handle)
        return true;  // the items stay placeholders, marked done
    const render::RavelApi &api = render::Ravel();
    const int pages = api.Pages(handle);
    bool preferred = true;
    const int end = std::min(last + 1, first + pages);
    for (int p = first + 1; p <= end; ++p) {
        if (Interrupted(cancel))
            return false;
        const int item = p - 1;
        if (m_done[size_t(item)])
            continue;  // produced before the range was put aside
        std::string name;
        if (platform::MakeTempFileName(300, name, ".jpg") == 0) {
            DrawCellFromFile(nullptr, item);
            m_done[size_t(item)] = 1;
            continue;
        }
        bool written = false;
        int32_t slot = 0;
        // A page drawn straightened is not what a picture stored with it shows.
        const bool turned = !opened && (source->ApplyTurn(p) != 0 || source->RotationOf(p) != 0);
        if (preferred && !turned) {
            written = api.GetPDFThumbnail(record->path.c_str(), name.c_str(), p, &slot) != 0;
            if (!written)
                preferred = false;
        }
        if (!written) {
            // A stop or a more urgent render stops this one part way.
            written = api.ThumbnailCancellable(handle, name.c_str(), p, cancel) != 0;
            if (!written && Interrupted(cancel)) {
                RemoveTemporary(name);
                return false;
            }
        }
        DrawCellFromFile(written ? &name : nullptr, item);
        // The picture has been read: its file goes now, not at exit.
        RemoveTemporary(name);
        m_done[size_t(item)] = 1;
    }
    return true;
}

bool ThumbnailWorker::RenderPictures(int first, int last, LS_CancelFlag *cancel) {
    for (int i = first; i <= last && size_t(i) < m_files.size(); ++i) {
        if (Interrupted(cancel))
            return false;
        const ThumbnailFile &record = m_files[size_t(i)];
        const int type = PictureTypeFromName(record.path);
        if (type != 0) {
            render::PageImage image;
            image.SetFrameIndex(record.frame);
            if (image.LoadFile(record.path, type))
                DrawCellFromImage(image, i);
        }
        if (size_t(i) < m_done.size())
            m_done[size_t(i)] = 1;
    }
    return true;
}

void ThumbnailWorker::DrawCellFromFile(const std::string *path, int item) {
    if (!path) {
        Hand(item, PlaceholderCell());
        return;
    }
    const int type = PictureTypeFromName(*path);
    if (type == 0)
        return;
    render::PageImage image;
    if (!image.LoadFile(*path, type) || !image.HasPixels())
        return;
    DrawCellFromImage(image, item);
}

void ThumbnailWorker::DrawCellFromImage(const render::PageImage &image, int item) {
    if (!image.HasPixels())
        return;
    QImage cell(kThumbnailWidth, kThumbnailHeight, QImage::Format_RGB32);
    cell.fill(Qt::white);
    const CellFit fit = FitInCell(int(image.Width()), int(image.Height()));
    if (fit.w > 0 && fit.h > 0) {
        QPainter painter(&cell);
        image.Paint(painter, fit.x, fit.y, fit.w, fit.h, nullptr, true);
    }
    DrawFrame(cell);
    Hand(item, cell);
}

void ThumbnailWorker::Hand(int item, const QImage &cell) {
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    if (!m_sink || Stopping())
        return;
    if (item >= 0 && size_t(item) < m_produced.size())
        ++m_produced[size_t(item)];
    m_sink->PictureReady(item, cell);
}

}  // namespace panes
