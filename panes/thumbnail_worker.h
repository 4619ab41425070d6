#ifndef PANES_THUMBNAIL_WORKER_H
#define PANES_THUMBNAIL_WORKER_H

#include "render/page_image.h"
#include "render/render_scheduler.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace panes {

// A source of strip items: a PDF (frame -1, one item per page) or one
// frame of a picture file (one item).
struct ThumbnailFile {
    std::string path;
    int frame = -1;
};

inline constexpr int kThumbnailWidth = 80;
inline constexpr int kThumbnailHeight = 100;

// The format code a picture file is decoded with, from the last characters
// of its path whatever their case ("wbmp" before "bmp"; no dot needed); 0
// when the path names no picture.
int PictureTypeFromName(std::string_view path);
// In counting and producing, ".pdf" and ".bak" are PDFs.
bool IsPdfForCounting(std::string_view path);
// In adding and selecting only ".pdf" is.
bool IsPdfName(std::string_view path);

// The item-to-record rule: one record stands for every item; otherwise
// item i is record i (null past the last).
const ThumbnailFile *RecordFor(const std::vector<ThumbnailFile> &files, int item);

// Where a picture of width x height goes in the 80 x 100 cell: a taller
// picture touches the top and bottom and is centred across, any other
// touches the sides and is centred down.
struct CellFit {
    int x = 0, y = 0, w = 0, h = 0;
};
CellFit FitInCell(int width, int height);

// The empty cell: white with a grey one-pixel frame.
QImage PlaceholderCell();

// Where the strip's items are, as the window's thread last published it:
// `columns` items a row, rows `rowPitch` pixels apart, each item's bounds
// `itemHeight` high, the first row's top at `firstTop` (negative once
// scrolled), and `clientHeight` pixels of it shown.
struct StripLayout {
    int columns = 1;
    int rowPitch = 1;
    int itemHeight = 1;
    int firstTop = 0;
    int clientHeight = 0;
};

// The first item whose bottom is at or below the client's top, and the
// last item whose bounds straddle the client's bottom edge (`defaultLast`
// when none does). first is -1 when no item is below the top.
std::pair<int, int> GetVisibleRange(const StripLayout &layout, int count, int defaultLast);

// Where the worker's results go. Called on the render threads; an
// implementation hands them to the window's thread (queued calls) and
// never blocks on it.
class ThumbnailSink {
public:
    virtual ~ThumbnailSink() = default;
    // The strip gets `total` placeholder items.
    virtual void ItemsFilled(int total) = 0;
    // Item `item` gets `cell` (80 x 100).
    virtual void PictureReady(int item, const QImage &cell) = 0;
};

// The thumbnail strip's worker. It runs as jobs of the document's render
// scheduler, on the render threads' own document handles, and talks to the
// window's thread only through its sink: it never waits for that thread.
//
// The worker fills the strip with one placeholder per page (per frame of
// a picture document), then produces only the items in view, from the
// top down; a refresh (a scroll, a resize, a wheel turn) produces what has
// come into view since. Each item is produced once; a page that cannot be
// produced keeps the placeholder and is not tried again. The worker ends
// at the first refresh that finds nothing left to do.
class ThumbnailWorker : public std::enable_shared_from_this<ThumbnailWorker> {
public:
    enum Message : int { kRefresh = 1225, kQuit = 1226 };

    static std::shared_ptr<ThumbnailWorker> Create(std::shared_ptr<render::RenderScheduler> scheduler,
                                                   std::vector<ThumbnailFile> files, ThumbnailSink *sink);
    ~ThumbnailWorker();
    ThumbnailWorker(const ThumbnailWorker &) = delete;
    ThumbnailWorker &operator=(const ThumbnailWorker &) = delete;

    // Window's thread. Wakes a running worker, or starts a new one (which
    // fills the strip first). False when it cannot be started.
    bool StartWorker();
    // Asks a running worker for the items now in view; false when there is
    // none (never started, stopped or ended).
    bool WakeWorker();
    // Window's thread: the items of pages `pages` (of the PDF document,
    // from 1) drawn again as they are drawn now (straightened, say), in a
    // job of their own.
    void DrawAgain(std::vector<int> pages);
    // Stops the worker before its next page and waits (at most 2000 ms,
    // in practice a page) for the page in hand; afterwards the sink hears
    // nothing more. The worker is never killed.
    void StopWorker();
    // The window's thread publishes where the items are.
    void PublishLayout(const StripLayout &layout);
    // Started and not yet ended.
    bool IsRunning() const;
    // No job of the worker is on a thread: after a stop, false means the
    // page in hand outlived the stop's wait.
    bool Idle() const;

    // The steps of the worker, public so that tests can drive them on
    // their own thread with a page source of their own. `source` is the
    // thread's page source (may be null), `cancel` the job's cancel flag.
    // The whole procedure: fill once, then handle the messages waiting.
    // False when it was put aside mid-work (it goes on from there).
    // `run` is the start the job was submitted for (0: the current one).
    bool ThumbnailThreadProc(render::PageSource *source, LS_CancelFlag *cancel, uint64_t run = 0);
    // One placeholder per item, then the items in view; the result of that
    // first refresh.
    int FillList(render::PageSource *source, LS_CancelFlag *cancel);
    int CountThumbnails(render::PageSource *source);
    // 0: no sources; 1: nothing left; 2: the visible run was cut short at
    // an item already produced (more may wait); 3: the visible range is
    // done. -1: put aside before it was done.
    int RefreshVisible(render::PageSource *source, LS_CancelFlag *cancel);
    // False when put aside before the last page.
    bool RenderRange(int first, int last, render::PageSource *source, LS_CancelFlag *cancel);
    bool RenderPictures(int first, int last, LS_CancelFlag *cancel);
    // Decodes the picture file (nothing when it names no picture or does
    // not decode) into item's cell; without a file the cell is the
    // placeholder again.
    void DrawCellFromFile(const std::string *path, int item);
    void DrawCellFromImage(const render::PageImage &image, int item);

    int ItemCount() const { return int(m_done.size()); }
    bool IsDone(int item) const { return item >= 0 && item < ItemCount() && m_done[size_t(item)]; }
    // How many pictures the worker has handed to the sink for `item`.
    int Produced(int item) const;

private:
    ThumbnailWorker(std::shared_ptr<render::RenderScheduler> scheduler, std::vector<ThumbnailFile> files,
                    ThumbnailSink *sink);
    bool Stopping() const { return m_stop.load(std::memory_order_acquire); }
    bool Interrupted(LS_CancelFlag *cancel) const;
    // Under m_mutex: a job to run the procedure, unless one is queued.
    bool SubmitLocked();
    void Hand(int item, const QImage &cell);
    void Ended();

    // The document's scheduler; the worker does not keep it alive.
    const std::weak_ptr<render::RenderScheduler> m_scheduler;
    const std::vector<ThumbnailFile> m_files;

    std::atomic<bool> m_stop{false};

    // Shared with the window's thread.
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<int> m_messages;
    StripLayout m_layout;
    bool m_started = false;
    bool m_ended = false;
    bool m_jobQueued = false;  // a job is waiting or running
    int m_jobsRunning = 0;     // one, or two for a moment as one leaves
    uint64_t m_run = 0;        // counts the starts
    uint64_t m_jobId = 0;

    // The sink, and what was handed to it; taken under m_sinkMutex so that
    // no hand-over outlives StopWorker.
    mutable std::mutex m_sinkMutex;
    ThumbnailSink *m_sink = nullptr;
    std::vector<int> m_produced;

    // The worker's own: one job at a time touches them.
    bool m_filled = false;
    std::vector<uint8_t> m_done;
};

}  // namespace panes

#endif
