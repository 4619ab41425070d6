#include "crop/detect/page_walk.h"

#include "crop/detect/content_detector.h"
#include "crop/detect/marks.h"
#include "crop/detect/skew.h"
#include "render/page_render.h"
#include "render/rendering_library.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string_view>

namespace crop {

std::shared_ptr<PageWalk> PageWalk::Start(const std::shared_ptr<render::RenderScheduler> &scheduler,
                                          std::vector<int> pages, Visit visit, Progress progress, Finished finished,
                                          render::RenderScheduler::Priority priority, Colours colours) {
    std::shared_ptr<PageWalk> walk(new PageWalk());
    walk->m_scheduler = scheduler;
    walk->m_colours = colours;
    walk->m_pages = std::move(pages);
    walk->m_visited = std::make_unique<std::atomic<bool>[]>(walk->m_pages.size());
    walk->m_visit = std::move(visit);
    walk->m_progress = std::move(progress);
    walk->m_finished = std::move(finished);
    if (walk->m_pages.empty()) {
        if (walk->m_finished)
            walk->m_finished();
        walk->m_complete = true;
        return walk;
    }
    const std::weak_ptr<PageWalk> weak = walk;
    std::lock_guard lock(walk->m_mutex);
    walk->m_jobs.reserve(walk->m_pages.size());
    for (size_t i = 0; i < walk->m_pages.size(); ++i)
        walk->m_jobs.push_back(
            scheduler->Submit(priority, [weak, i](render::PageSource *source, LS_CancelFlag *cancel) {
                const std::shared_ptr<PageWalk> self = weak.lock();
                return !self || self->RunPage(i, source, cancel);
            }));
    return walk;
}

PageWalk::~PageWalk() {
    if (Done() < Total())
        Cancel();
}

void PageWalk::Cancel() {
    m_cancelled = true;
    // The renders are stopped first: a visit may be drawing part of its
    // page again.
    std::vector<uint64_t> jobs;
    {
        std::lock_guard lock(m_mutex);
        jobs.swap(m_jobs);
    }
    if (const std::shared_ptr<render::RenderScheduler> scheduler = m_scheduler.lock())
        for (uint64_t id : jobs)
            scheduler->Cancel(id);
    // A visit under way ends before Cancel returns.
    { std::lock_guard visiting(m_visiting); }
    m_ended.notify_all();
}

bool PageWalk::Wait() {
    std::unique_lock lock(m_mutex);
    m_ended.wait(lock, [this] { return m_cancelled.load() || m_complete; });
    return m_complete;
}

namespace {

// A scan's picture a little smaller than the usual `usual` where that lets
// its picture (`image` pixels, drawn at `drawn` pixels of the usual one)
// be decoded at a half, a quarter or an eighth of its size, as JPEG
// decodes quickly: the size drawn is then at most that less two pixels.
// An invalid size where it does not.
QSize ScanPictureSize(QSize usual, QSize image, QSize drawn) {
    for (int k = 3; k >= 1; --k) {
        const double scale = std::min(double((image.width() >> k) - 3) / drawn.width(),
                                      double((image.height() >> k) - 3) / drawn.height());
        if (scale >= 0.9 && scale <= 1.0)
            return QSize(std::max(1, int(usual.width() * scale)), std::max(1, int(usual.height() * scale)));
    }
    return QSize();
}

}  // namespace

bool PageWalk::RunPage(size_t index, render::PageSource *source, LS_CancelFlag *cancel) {
    if (m_cancelled || m_visited[index])
        return true;
    Page page;
    page.page = m_pages[index];
    page.index = int(index);
    render::BitmapHandle bitmap;
    if (!source) {
        page.error = QStringLiteral("the document cannot be opened again");
    } else {
        QRect pageRect;
        QString note;
        // Grey serves white paper; on a scan light colours (a yellow or
        // pink mark on yellowed paper) may stand off the paper only in
        // colour, so a page that is not on white paper is drawn again in
        // colour, and once one is, the rest of the walk is drawn in colour
        // from the start: scans cost about the same either way.
        bool grey = m_colours != Colours::Full && !m_scansSeen;
        const bool ink = m_colours == Colours::Ink || m_colours == Colours::InkBox;
        QSize size;             // the picture's, when not the usual
        bool greyScan = false;  // a scan with nothing in colour: grey loses nothing
        if (m_colours == Colours::InkBox && source->Kind() == render::SourceKind::Pdf) {
            // Plain white paper: the box of the ink found without a picture.
            page.picture = render::PagePictureSize(*source, page.page, pageRect, note);
            QRect box;
            QSize drawn;
            using Found = render::PageSource::InkBoxResult;
            const Found found =
                source->InkBox(page.page, page.picture.width(), page.picture.height(), box, drawn, cancel);
            if (found == Found::Found || found == Found::Blank) {
                page.boxOnly = true;
                page.inkBox = found == Found::Found ? box : QRect();
            } else if (found == Found::Scan || found == Found::GreyScan) {
                size = ScanPictureSize(page.picture, box.size(), drawn);
                greyScan = found == Found::GreyScan;
                grey = grey || greyScan;
            }
        }
        render::LeaveOutText leave;
        if (page.boxOnly) {
            // nothing to draw
        } else if (grey && ink) {
            std::lock_guard lock(m_hintMutex);
            const InkHint &hint = m_inkHints[page.page % 2];
            leave.picture = hint.picture;
            // Text may be left out well inside the box that the last three
            // such pages all had ink beyond: a page's own lines then mostly
            // reach past what is left out, and the rare page whose ink
            // stops short has only a strip drawn again.
            QRect common = hint.boxes[0];
            for (const QRect &box : hint.boxes)
                common = box.isEmpty() ? QRect() : common.intersected(box);
            const int band = 8;
            if (!common.isEmpty())
                leave.inside = common.adjusted(band, band, -band, -band);
        }
        if (!page.boxOnly)
            bitmap = render::RenderPageBitmap(*source, page.page, pageRect, page.error, note, cancel, grey,
                                              ink ? &leave : nullptr, size);
        if (grey && bitmap && bitmap->bitsPerPixel == 8) {
            // Mostly plainly white: white paper, even with text left out (at
            // most a fifth of the picture is, so the whole one is mostly
            // white too). Else a picture with text left out, lighter than
            // the whole one, does not tell: the page is drawn whole.
            bool white = ContentDetector::MostlyWhite(PixelView::Of(*bitmap));
            if (!white && !leave.leftOut.isEmpty()) {
                bitmap.reset();
                leave.leftOut = QRect();
                bitmap = render::RenderPageBitmap(*source, page.page, pageRect, page.error, note, cancel, true, nullptr,
                                                  size);
            }
            if (!white && bitmap && !greyScan && !ContentDetector::EstimatePaper(PixelView::Of(*bitmap)).pureWhite) {
                m_scansSeen = true;
                bitmap.reset();
                bitmap = render::RenderPageBitmap(*source, page.page, pageRect, page.error, note, cancel, false,
                                                  nullptr, size);
            }
        }
        if (ink && bitmap) {
            page.leftOut = leave.leftOut;
            const int pageNumber = page.page;
            const QSize picture(bitmap->width, bitmap->height);
            page.drawWhole = [source, pageNumber, picture, cancel](const QRect &region) {
                render::BitmapHandle part =
                    source->RenderInk(pageNumber, picture.width(), picture.height(), region, QRect(), nullptr, cancel);
                if (!part && cancel && render::Ravel().IsCancelled(cancel))
                    throw Stopped();
                return part;
            };
            page.foundInk = [this, pageNumber, picture](const QRect &found) {
                std::lock_guard lock(m_hintMutex);
                InkHint &hint = m_inkHints[pageNumber % 2];
                if (hint.picture != picture)
                    hint = InkHint{picture, {}, 0};
                hint.boxes[hint.next] = found;
                hint.next = (hint.next + 1) % 3;
            };
        }
        page.facts = [source, pageNumber = page.page] { return source->Facts(pageNumber); };
        if (cancel && render::Ravel().IsCancelled(cancel))
            return false;  // run again later if it was only put aside
        page.width = pageRect.width();
        page.height = pageRect.height();
        render::PageExtent extent;
        if (source->Kind() == render::SourceKind::Pdf && source->PageExtent(page.page, &extent, 0) &&
            extent.x2 - extent.x1 > 0 && extent.y2 - extent.y1 > 0) {
            page.width = extent.x2 - extent.x1;
            page.height = extent.y2 - extent.y1;
        }
    }
    page.bitmap = bitmap.get();
    std::lock_guard visiting(m_visiting);
    if (m_cancelled)
        return true;
    if (m_visit) {
        // A visit that fails (out of memory, say) leaves the page as one
        // that could not be rendered, so the walk still ends.
        try {
            m_visit(page);
        } catch (const Stopped &) {
            return false;  // run again later if it was only put aside
        } catch (const std::exception &e) {
            page.bitmap = nullptr;
            page.error = std::string_view(e.what()) == std::bad_alloc().what()
                             ? QStringLiteral("there was not enough memory for it")
                             : QString::fromLocal8Bit(e.what());
            try {
                m_visit(page);
            } catch (...) {
            }
        }
    }
    bitmap.reset();
    m_visited[index] = true;
    const int done = ++m_done;
    if (m_progress)
        m_progress(done, Total());
    if (done == Total()) {
        if (m_finished)
            m_finished();
        std::lock_guard lock(m_mutex);
        m_complete = true;
        m_ended.notify_all();
    }
    return true;
}

namespace {

// What a page walk looks for besides each page's content.
struct Looking {
    int sensitivity = AutoCropOptions::kUsualSensitivity;
    PageContent *apart = nullptr;   // the content taken apart into this (TakeApart)
    bool explain = false;           // and what sets each edge found (FindEdgeSetters)
    std::vector<CropRect> ignored;  // parts of the page (points) left out
    double specks = 0;              // specks at an edge no larger (points) left out
};

// A copy of a picture that parts can be painted out of, in the paper's colour.
class Blanked {
public:
    Blanked(const PixelView &view, const Paper &paper) : m_paper(paper) {
        const size_t row = size_t(view.width) * size_t(view.channels);
        m_bytes.resize(row * size_t(view.height));
        m_view = view;
        m_view.bits = m_bytes.data();
        m_view.stride = ptrdiff_t(row);
        for (int y = 0; y < view.height; ++y)
            std::copy_n(view.Row(y), row, Row(y));
    }
    const PixelView &View() const { return m_view; }
    void Paint(const QRect &area) {
        const QRect r = area.intersected(QRect(0, 0, m_view.width, m_view.height));
        const int c = m_view.channels;
        const uint8_t colour[3] = {m_paper.pureWhite ? uint8_t(255) : m_paper.blue,
                                   m_paper.pureWhite ? uint8_t(255) : m_paper.green,
                                   m_paper.pureWhite ? uint8_t(255) : m_paper.red};
        for (int y = r.top(); y <= r.bottom(); ++y) {
            uint8_t *p = Row(y) + ptrdiff_t(c) * r.left();
            for (int x = r.left(); x <= r.right(); ++x, p += c) {
                if (c == 1)
                    p[0] = colour[1];
                else
                    std::copy_n(colour, 3, p);
            }
        }
    }

private:
    // Row y from the top, stored as the view has it.
    uint8_t *Row(int y) { return m_bytes.data() + ptrdiff_t(m_view.height - 1 - y) * m_view.stride; }

    std::vector<uint8_t> m_bytes;
    PixelView m_view;
    Paper m_paper;
};

// The paper as `sensitivity` has it: on a scan, a higher one takes
// fainter marks for print.
Paper Sensitised(Paper paper, int sensitivity) {
    if (paper.pureWhite || sensitivity == AutoCropOptions::kUsualSensitivity)
        return paper;
    const double factor = std::pow(2.0, (AutoCropOptions::kUsualSensitivity - sensitivity) / 50.0);
    paper.threshold = std::clamp(int(std::lround(paper.threshold * factor)), 4, 160);
    return paper;
}

// The content of a page's picture, `view`, of a page width x height points
// within `area` (points; empty for the whole page), in points. With
// `page`, a picture from which text may have been left out: the parts of
// what was left out that lie beyond the box found are drawn whole and
// looked at, and the walk is told the box.
std::optional<CropRect> ContentOf(const PixelView &view, double width, double height, const CropRect &area,
                                  const PageWalk::Page *page = nullptr, const Looking &looking = {}) {
    if (!view.Valid() || width <= 0 || height <= 0)
        return std::nullopt;
    const double sx = view.width / width, sy = view.height / height;
    QRect pixels(0, 0, view.width, view.height);
    if (!area.IsEmpty())
        pixels = PixelsOf(area, sx, sy);
    const ContentDetector detector((sx + sy) / 2);
    const Paper paper = Sensitised(ContentDetector::EstimatePaper(view), looking.sensitivity);
    // Parts the user left out are painted out of a copy of the picture.
    std::optional<Blanked> blanked;
    if (!looking.ignored.empty() || looking.specks > 0) {
        blanked.emplace(view, paper);
        for (const CropRect &r : looking.ignored)
            blanked->Paint(PixelsOf(r, sx, sy));
    }
    const PixelView &seen = blanked ? blanked->View() : view;
    std::optional<QRect> found = detector.Detect(seen, pixels, paper);
    // Specks that set an edge, no larger than asked, are painted out too,
    // until what sets each edge is more than such a speck.
    for (int round = 0; blanked && looking.specks > 0 && found && round < 16; ++round) {
        bool painted = false;
        for (const EdgeSetter &s : FindEdgeSetters(seen, *found, paper, sx, sy))
            if (s.what == EdgeSetter::Speck &&
                std::max(s.box.right - s.box.left, s.box.bottom - s.box.top) <= looking.specks) {
                blanked->Paint(s.pixels);
                painted = true;
            }
        if (!painted)
            break;
        const std::optional<QRect> before = found;
        found = detector.Detect(seen, pixels, paper);
        if (found == before)
            break;  // the detector saw past them already
    }
    const QRect left = page ? page->leftOut.intersected(pixels) : QRect();
    if (!left.isEmpty() && page->drawWhole && !(found && found->contains(left))) {
        // The whole picture differs only within `left`, and only by being
        // darker: its ink is this box's and whatever ink lies in the parts
        // of `left` beyond it.
        QRect beyond;
        if (!found) {
            beyond = left;
        } else {
            if (left.left() < found->left())
                beyond |= QRect(QPoint(left.left(), left.top()), QPoint(found->left() - 1, left.bottom()));
            if (left.right() > found->right())
                beyond |= QRect(QPoint(found->right() + 1, left.top()), QPoint(left.right(), left.bottom()));
            if (left.top() < found->top())
                beyond |= QRect(QPoint(left.left(), left.top()), QPoint(left.right(), found->top() - 1));
            if (left.bottom() > found->bottom())
                beyond |= QRect(QPoint(left.left(), found->bottom() + 1), QPoint(left.right(), left.bottom()));
        }
        const render::BitmapHandle whole = page->drawWhole(beyond);
        const PixelView part = whole ? PixelView::Of(*whole) : PixelView();
        if (!part.Valid())
            throw std::runtime_error("the page could not be rendered again");
        // On white paper, as the picture was: every pixel not white is ink.
        if (const std::optional<QRect> more = detector.Detect(part, QRect(0, 0, part.width, part.height), Paper{}))
            found = found ? found->united(more->translated(beyond.topLeft())) : more->translated(beyond.topLeft());
    }
    if (page && page->foundInk && found)
        page->foundInk(*found);
    if (!found)
        return std::nullopt;
    if (looking.apart) {
        const TakenApart taken = TakeApart(seen, *found, paper, (sx + sy) / 2);
        KeepBlocks(*looking.apart, taken, sx, sy);
        if (looking.explain) {
            looking.apart->setters = FindEdgeSetters(seen, *found, paper, sx, sy);
            if (taken.core != *found)
                looking.apart->coreSetters = FindEdgeSetters(seen, taken.core, paper, sx, sy);
        }
    }
    return PointsOf(*found, sx, sy);
}

// A scan's skew measured on its picture: true, with `content.turn` set,
// when the page is to be straightened; a scan whose skew cannot be told is
// marked so. Typeset pages are left level.
bool Straighten(const PageWalk::Page &page, const PixelView &view, PageContent &content) {
    const std::optional<render::PageFacts> facts = page.facts ? page.facts() : std::nullopt;
    if (!facts || !facts->Scan())
        return false;
    const Skew skew = MeasureSkew(view);
    if (!skew.measured) {
        content.skewUnmeasured = true;
        return false;
    }
    // To the hundredth the crop list carries.
    const double turn = std::round(skew.degrees * 100) / 100;
    if (std::fabs(turn) < kLeastTurn)
        return false;
    content.turn = turn;
    return true;
}

}  // namespace

std::optional<CropRect> ContentOfPage(const render::Bitmap &bitmap, double width, double height, const CropRect &area) {
    return ContentOf(PixelView::Of(bitmap), width, height, area);
}

std::shared_ptr<PageWalk> StartAutoCrop(const std::shared_ptr<render::RenderScheduler> &scheduler, int pageCount,
                                        const AutoCropOptions &options,
                                        std::function<CropRect(int page, double height)> areaOf,
                                        PageWalk::Progress progress, std::function<void(AutoCropResult)> finished) {
    std::vector<int> pages = PagesOf(options, pageCount);
    auto results = std::make_shared<std::vector<PageContent>>(pages.size());
    const bool apart = options.ignore != 0 || options.explain || !options.areas.empty() || options.specks > 0;
    // Marks left out, and areas or specks painted out, need whole pictures.
    // Edges are explained on pictures that may leave text out well inside
    // the content: its edges, and the marks beyond them, are drawn whole.
    const bool whole = options.ignore != 0 || !options.areas.empty() || options.specks > 0;
    // Without an area to look within, a page on plain white paper needs no
    // picture: the box of its ink is found from its drawing operations.
    const PageWalk::Colours colours = whole                       ? PageWalk::Colours::Grey
                                      : areaOf || options.explain ? PageWalk::Colours::Ink
                                                                  : PageWalk::Colours::InkBox;
    auto visit = [results, areaOf = std::move(areaOf), deskew = options.deskew, apart,
                  options](const PageWalk::Page &page) {
        PageContent &content = (*results)[size_t(page.index)];
        content.page = page.page;
        content.width = page.width;
        content.height = page.height;
        if (page.boxOnly) {
            if (!page.inkBox.isEmpty() && page.width > 0 && page.height > 0) {
                content.content =
                    PointsOf(page.inkBox, page.picture.width() / page.width, page.picture.height() / page.height);
            }
            return;
        }
        if (!page.bitmap) {
            content.failed = true;
            content.error = page.error.toStdString();
            return;
        }
        const CropRect area = areaOf ? areaOf(page.page, page.height) : CropRect{};
        const PixelView view = PixelView::Of(*page.bitmap);
        Looking looking{options.sensitivity, apart ? &content : nullptr, options.explain, {}, options.specks};
        for (const AutoCropOptions::IgnoredArea &a : options.areas)
            if (a.page == 0 || a.page == page.page)
                looking.ignored.push_back(a.box);
        if (deskew && Straighten(page, view, content)) {
            const TurnedPicture turned = TurnPicture(view, content.turn);
            content.content = ContentOf(turned.view, page.width, page.height, area, nullptr, looking);
            return;
        }
        content.content = ContentOf(view, page.width, page.height, area, &page, looking);
    };
    auto done = [results, options, finished = std::move(finished)] {
        AutoCropResult result;
        // The marks that repeat are found over all pages, then left out.
        if (options.ignore || options.explain) {
            FindRepeatedMarks(*results);
            for (PageContent &p : *results) {
                if (options.ignore)
                    p.content = BodyOf(p, options.ignore);
                if (options.explain)
                    SettleSetters(p, options.ignore);
            }
        }
        result.plan = PlanAutoCrop(*results, options);
        result.pages = std::move(*results);
        if (finished)
            finished(std::move(result));
    };
    return PageWalk::Start(scheduler, std::move(pages), std::move(visit), std::move(progress), std::move(done),
                           render::RenderScheduler::kBackground, colours);
}

}  // namespace crop
