#ifndef CROP_DETECT_PAGE_WALK_H
#define CROP_DETECT_PAGE_WALK_H

#include "crop/detect/auto_crop.h"
#include "render/bitmap.h"
#include "render/page_source.h"
#include "render/render_scheduler.h"

#include <QRect>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace crop {

// Work over many pages of a document in the background: every page is
// rendered as the document shows it, one job per page on the document's
// render scheduler (so both render threads share the work and the page the
// user asks for still comes first), and handed to a visitor.
//
// Rules:
//   - The visitor and the progress run on the render threads, two pages at
//     a time; the visitor must keep the pages apart (each its own slot, or a
//     lock).
//   - Finished runs once, on the render thread that did the last page,
//     after every page has been visited; never after Cancel.
//   - Cancel may be called from any thread; it drops the pages waiting and
//     stops the ones being rendered. Nothing is visited after it returns
//     but a page whose visit had begun.
class PageWalk : public std::enable_shared_from_this<PageWalk> {
public:
    struct Page {
        int page = 0;
        int index = 0;                           // its place in the walk
        const render::Bitmap *bitmap = nullptr;  // null when it cannot be rendered
        double width = 0, height = 0;            // the shown page in points
        QString error;
        // Colours::Ink: the box (pixels, rows from the top) where dark text
        // was left out of the picture, empty when nothing was. The picture
        // is exact outside it and may be lighter inside; the visit draws
        // what it needs of it again with drawWhole.
        QRect leftOut;
        // Colours::Ink: a region of the picture (grey) with nothing left out.
        std::function<render::BitmapHandle(const QRect &region)> drawWhole;
        // Colours::Ink: the visit tells the box of ink it found (pixels),
        // where later pages of the same size and parity may leave text out.
        std::function<void(const QRect &found)> foundInk;
        // Colours::InkBox: a page on plain white paper comes without a
        // picture (bitmap null), as the box of its ink alone in the pixels
        // of a picture `picture` in size (empty for a page without ink).
        bool boxOnly = false;
        QRect inkBox;
        QSize picture;
        // What the page is made of, asked of the document on the visit's
        // thread; nothing when it cannot be told.
        std::function<std::optional<render::PageFacts>()> facts;
    };
    // What the pictures hold: full colour, or grey where the rendering
    // library gives it (less to draw, for visits that only look for ink),
    // or grey leaving out the dark text that lies well inside the ink box
    // found on the last page of the same parity, for visits that only look
    // for the box of the ink.
    // InkBox is Ink for visits that want no more than the box of the ink
    // of the whole page: pages on plain white paper come as that box alone.
    enum class Colours { Full, Grey, Ink, InkBox };
    using Visit = std::function<void(const Page &)>;
    using Progress = std::function<void(int done, int total)>;
    using Finished = std::function<void()>;

    static std::shared_ptr<PageWalk>
    Start(const std::shared_ptr<render::RenderScheduler> &scheduler, std::vector<int> pages, Visit visit,
          Progress progress, Finished finished,
          render::RenderScheduler::Priority priority = render::RenderScheduler::kBackground,
          Colours colours = Colours::Full);
    ~PageWalk();

    void Cancel();
    bool IsCancelled() const { return m_cancelled.load(); }
    int Total() const { return int(m_pages.size()); }
    int Done() const { return m_done.load(); }
    // Blocks until every page is done (true) or the walk is cancelled.
    bool Wait();
    // Thrown by Page::drawWhole when the page's render was stopped: the
    // page is visited again later if it was only put aside.
    struct Stopped {};

private:
    PageWalk() = default;
    // The job of page `index`; false when it was stopped before the end.
    bool RunPage(size_t index, render::PageSource *source, LS_CancelFlag *cancel);

    std::weak_ptr<render::RenderScheduler> m_scheduler;
    std::vector<int> m_pages;
    Colours m_colours = Colours::Full;
    std::atomic<bool> m_scansSeen{false};  // a page not on white paper came: colour from now on
    // Colours::Ink: the boxes of ink last found on even and on odd pages
    // with pictures of one size, the newest at `next` - 1.
    struct InkHint {
        QSize picture;
        QRect boxes[3];
        int next = 0;
    };
    InkHint m_inkHints[2];
    std::mutex m_hintMutex;  // m_inkHints
    std::vector<uint64_t> m_jobs;
    std::unique_ptr<std::atomic<bool>[]> m_visited;
    Visit m_visit;
    Progress m_progress;
    Finished m_finished;
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_done{0};
    bool m_complete = false;  // Finished has returned; under m_mutex
    std::mutex m_mutex;       // m_jobs, the wait
    // Held while a page is visited or Finished runs, and by Cancel, so that
    // nothing is visited once Cancel has returned (recursive: the walk may
    // be let go, and so cancelled, from within its own visit).
    std::recursive_mutex m_visiting;
    std::condition_variable m_ended;
};

// The whole-document crop: finds the content of every page of
// `options.pages` (within the area `areaOf` gives a page of that height in
// points, or the whole page where it gives an empty one) on the scheduler,
// then plans the crops
// (PlanAutoCrop). `finished` gets every page's content and the plan, on a
// render thread; not after a Cancel of the walk returned.
struct AutoCropResult {
    std::vector<PageContent> pages;
    AutoCropPlan plan;
};
std::shared_ptr<PageWalk> StartAutoCrop(const std::shared_ptr<render::RenderScheduler> &scheduler, int pageCount,
                                        const AutoCropOptions &options,
                                        std::function<CropRect(int page, double height)> areaOf,
                                        PageWalk::Progress progress, std::function<void(AutoCropResult)> finished);

// Content of `bitmap`, a picture of a page `width` x `height` points, within
// `area` (points; empty for the whole page): the content detector's box in
// points, nothing when blank.
std::optional<CropRect> ContentOfPage(const render::Bitmap &bitmap, double width, double height, const CropRect &area);

}  // namespace crop

#endif
