#include "crop/model/whole_document.h"

#include "crop/detect/skew.h"

#include "crop/model/crop_list.h"
#include "crop/model/regions/region_edits.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace crop {
namespace {

// How many ended runs of Shrink All Pages are kept to go back to.
constexpr size_t kRunsKept = 64;

}  // namespace

WholeDocumentWork::WholeDocumentWork(PageEditing &editing, Host host, QObject *parent)
    : QObject(parent), m_editing(editing), m_host(std::move(host)) {}

WholeDocumentWork::~WholeDocumentWork() {
    m_guard.Drop();
    if (m_walk)
        m_walk->Cancel();
}

crop::Busy WholeDocumentWork::Running() const { return m_walk ? m_running : crop::Busy::None; }

std::shared_ptr<render::RenderScheduler> WholeDocumentWork::FreeScheduler(crop::Busy work, const QString &does,
                                                                          QString &reason) const {
    std::shared_ptr<render::RenderScheduler> scheduler = m_host.scheduler();
    if (!scheduler) {
        reason =
            m_host.pageCount() == 0
                ? QStringLiteral("no document is open")
                : QStringLiteral("only the pages of PDF documents are %1, and %2 is not one").arg(does, m_host.title());
        return nullptr;
    }
    if (HoldsRegions(m_host.busy())) {
        reason = m_host.busy() == crop::Busy::ShrinkAll && work == crop::Busy::ShrinkAll
                     ? QStringLiteral("Shrink All Pages is running already")
                     : BusyReason(m_host.busy());
        return nullptr;
    }
    return scheduler;
}

bool WholeDocumentWork::ShrinkAllPages(const AutoCropOptions &asked, QString &reason) {
    const std::shared_ptr<render::RenderScheduler> scheduler =
        FreeScheduler(crop::Busy::ShrinkAll, QStringLiteral("shrunk all at once"), reason);
    if (!scheduler)
        return false;
    m_again = false;
    // Each page is shrunk inside its own first region, where it has one.
    std::map<int, CropRect> stored;
    for (int page : PagesOf(asked, m_host.pageCount()))
        if (!m_editing.Set().Regions(page).empty())
            stored.emplace(page, m_editing.Set().Regions(page).front());
    return Shrink(scheduler, asked, std::move(stored), reason);
}

bool WholeDocumentWork::Measure(const AutoCropOptions &options, QString &reason) {
    const std::shared_ptr<render::RenderScheduler> scheduler =
        FreeScheduler(crop::Busy::ShrinkAll, QStringLiteral("shrunk all at once"), reason);
    if (!scheduler)
        return false;
    const Run *current = Current();
    if (!current)
        return ShrinkAllPages(options, reason);
    std::map<int, CropRect> given = current->given;
    if (!Shrink(scheduler, options, current->within, reason))
        return false;
    m_again = true;
    m_againGiven = std::move(given);
    return true;
}

const WholeDocumentWork::Run *WholeDocumentWork::Current() const {
    const CropSet &set = m_editing.Set();
    for (auto run = m_runs.rbegin(); run != m_runs.rend(); ++run)
        for (const auto &[page, rect] : run->given)
            if (page >= 1 && page <= set.PageCount() && !set.Regions(page).empty() && set.Regions(page).front() == rect)
                return &*run;
    return nullptr;
}

AutoCropOptions WholeDocumentWork::LastOptions() const {
    const Run *current = Current();
    return current ? current->options : AutoCropOptions();
}

bool WholeDocumentWork::Shrink(const std::shared_ptr<render::RenderScheduler> &scheduler, const AutoCropOptions &asked,
                               std::map<int, CropRect> stored, QString &reason) {
    // The window explains every edge it crops to.
    AutoCropOptions options = asked;
    options.explain = true;
    const std::map<int, CropRect> within = stored;
    auto areaOf = [stored = std::move(stored)](int page, double height) {
        const auto found = stored.find(page);
        return found == stored.end() ? CropRect{} : ShownFrom(found->second, int(std::trunc(height)));
    };
    const JobTicket ticket = m_guard.Begin();
    m_walk = StartAutoCrop(
        scheduler, m_host.pageCount(), options, std::move(areaOf),
        [this, ticket](int done, int total) {
            ticket.Post([this, done, total] { emit WorkProgress(crop::Busy::ShrinkAll, done, total); });
        },
        [this, ticket, blankOut = options.leaveOutBlank, ignore = options.ignore](AutoCropResult result) {
            // Only the marks left out are kept, to be shown.
            for (PageContent &p : result.pages)
                std::erase_if(p.blocks, [ignore](const EdgeBlock &b) { return !(b.kind & ignore); });
            ticket.Post([this, blankOut, result = std::move(result)] { ShrinkAllEnded(result, blankOut); });
        });
    if (!m_walk) {
        reason = QStringLiteral("the pages cannot be rendered now");
        return false;
    }
    // What was asked is kept once the work ends, not if it is stopped.
    m_asked = Run{options, within, {}, {}};
    m_running = crop::Busy::ShrinkAll;
    emit Changed(Change::Busy);
    emit WorkProgress(crop::Busy::ShrinkAll, 0, 0);
    return true;
}

void WholeDocumentWork::ShrinkAllEnded(const AutoCropResult &result, bool leaveOutBlank) {
    m_walk.reset();
    m_guard.Drop();

    // Each page's crop is its first region; the others stay. A page found
    // askew is turned on from how it was drawn, and cropped as turned.
    std::map<int, const PageContent *> pages;
    for (const PageContent &p : result.pages)
        pages[p.page] = &p;
    std::vector<PageChange> changes;
    std::map<int, CropRect> given;
    for (const auto &[page, rect] : result.plan.rects) {
        const PageContent *p = pages[page];
        // Measured again, a page whose crop was changed by hand since keeps it.
        const auto before = m_againGiven.find(page);
        if (m_again && before != m_againGiven.end() &&
            (m_editing.Set().Regions(page).empty() || m_editing.Set().Regions(page).front() != before->second))
            continue;
        given[page] = StoredFrom(rect, p ? int(std::trunc(p->height)) : 0);
        PageChange change = WithRegionAt(m_editing.Set(), page, 0, given[page]);
        if (p && p->turn != 0)
            change.after.turn = std::clamp(change.before.turn + p->turn, -45.0, 45.0);
        changes.push_back(std::move(change));
    }
    // Blank pages left out, in the same step; the copy keeps a page.
    int blankOut = 0;
    if (leaveOutBlank) {
        const CropSet &set = m_editing.Set();
        int kept = 0;
        for (int page = 1; page <= set.PageCount(); ++page)
            kept += set.LeftOut(page) ? 0 : 1;
        for (const PageContent &p : result.pages)
            if (!p.content && !p.failed && !set.LeftOut(p.page) && kept > 1) {
                changes.push_back(WithLeftOut(set, p.page, true));
                --kept;
                ++blankOut;
            }
    }
    m_editing.Replace(QStringLiteral("Shrink All Pages"), std::move(changes));
    Run run = std::move(m_asked);
    run.given = std::move(given);
    for (const PageContent &p : result.pages) {
        const auto rect = run.given.find(p.page);
        if (!p.blocks.empty() && rect != run.given.end())
            run.marks[p.page] = p.blocks;
        if (rect != run.given.end() && !p.setters.empty())
            m_setters[p.page] = {rect->second, p.setters};
        else if (!m_again || rect != run.given.end())
            m_setters.erase(p.page);
    }
    const size_t givenCount = run.given.size(), marked = run.marks.size();
    const bool bodyOnly = run.options.ignore != 0;
    m_runs.push_back(std::move(run));
    if (m_runs.size() > kRunsKept)
        m_runs.erase(m_runs.begin());
    QString text =
        QStringLiteral("Shrink All Pages: %1 of %2 pages given a crop").arg(givenCount).arg(result.pages.size());
    if (blankOut > 0)
        text += QStringLiteral(", %1 blank left out").arg(blankOut);
    else if (result.plan.blank > 0 && result.plan.rects.size() < result.pages.size())
        text += QStringLiteral(", %1 blank left as they were").arg(result.plan.blank);
    if (result.plan.failed > 0)
        text += QStringLiteral(", %1 that could not be rendered left as they were").arg(result.plan.failed);
    if (marked > 0)
        text += QStringLiteral("; running heads, page numbers or stamps left out on %1 (outlined)")
                    .arg(marked == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(marked));
    else if (bodyOnly)
        text += QStringLiteral("; no running heads, page numbers or stamps were found to leave out (a mark must come "
                               "back at about the same place on half the pages of a side, and on three at least)");
    if (!result.plan.outliers.empty())
        text += QStringLiteral("; %1 to check").arg(result.plan.outliers.size());
    Ended(result.plan.outliers);
    emit StatusMessage(text + QStringLiteral("."));
}

bool WholeDocumentWork::SplitPages(const SplitGrid &grid, const std::vector<int> &pages, double margin, bool uniform,
                                   QString &reason) {
    const std::shared_ptr<render::RenderScheduler> scheduler = m_host.scheduler();
    if (!scheduler) {
        reason = QStringLiteral("only the pages of an open PDF document can be split");
        return false;
    }
    if (HoldsRegions(m_host.busy()) || m_host.overlayShown()) {
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
    const JobTicket ticket = m_guard.Begin();
    m_walk = PageWalk::Start(
        scheduler, pages,
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
        [this, ticket](int done, int total) {
            ticket.Post([this, done, total] { emit WorkProgress(crop::Busy::Split, done, total); });
        },
        [this, ticket, found, margin, uniform] {
            ticket.Post([this, found, margin, uniform] {
                std::lock_guard lock(found->mutex);
                SplitEnded(found->cells, found->failed, margin, uniform);
            });
        },
        render::RenderScheduler::kBackground, PageWalk::Colours::Grey);
    m_running = crop::Busy::Split;
    emit Changed(Change::Busy);
    emit WorkProgress(crop::Busy::Split, 0, 0);
    return true;
}

void WholeDocumentWork::SplitEnded(const std::map<int, SplitCells> &cells, int failed, double margin, bool uniform) {
    m_walk.reset();
    m_guard.Drop();
    const std::vector<PageEditing::Size> sizes = m_host.pageSizes();
    std::vector<Outlier> whole;
    std::vector<PageChange> changes;
    for (const auto &[page, split] : cells) {
        const std::optional<PageEditing::Size> size = PageEditing::SizeOf(sizes, page, m_host.pageSize);
        if (!size)
            continue;
        // The cells as the grid has them; the copy takes them in reading order.
        std::vector<CropRect> regions;
        for (const CropRect &cell : FitCells(split.cells, margin, uniform, size->first, size->second))
            regions.push_back(StoredFrom(cell, StoredHeight(size->second)));
        changes.push_back(Replaced(m_editing.Set(), page, std::move(regions)));
        if (split.missed > 0)
            whole.push_back({page, split.cells.size() > 1 ? "no gutter: row left whole" : "no gutter: left whole",
                             split.cells.size() > 1
                                 ? "a row of it has no gutter or fold to cut at, so the row is left whole"
                                 : "it has no gutter or fold to cut at, so it is left whole"});
    }
    m_editing.Replace(QStringLiteral("Split Pages"), std::move(changes));
    int split = 0;
    for (const auto &[page, found] : cells)
        split += found.cells.size() > 1;
    QString text = QStringLiteral("Split Pages: %1 of %2 pages split").arg(split).arg(cells.size() + size_t(failed));
    if (!whole.empty())
        text += QStringLiteral(", %1 without a gutter left whole (to check)").arg(whole.size());
    if (failed > 0)
        text += QStringLiteral(", %1 that could not be rendered left as they were").arg(failed);
    Ended(std::move(whole));
    emit StatusMessage(text + QStringLiteral("."));
}

bool WholeDocumentWork::StraightenPages(const std::vector<int> &pages, bool onlyScans, QString &reason) {
    const std::shared_ptr<render::RenderScheduler> scheduler =
        FreeScheduler(crop::Busy::Straighten, QStringLiteral("straightened"), reason);
    if (!scheduler)
        return false;
    if (pages.empty()) {
        reason = QStringLiteral("no page was named");
        return false;
    }
    auto measured = std::make_shared<std::vector<std::pair<int, Measured>>>(pages.size());
    auto visit = [measured, onlyScans](const PageWalk::Page &page) {
        auto &[number, m] = (*measured)[size_t(page.index)];
        number = page.page;
        if (!page.bitmap) {
            m.failed = true;
            return;
        }
        const std::optional<render::PageFacts> facts = page.facts ? page.facts() : std::nullopt;
        if (onlyScans && !(facts && facts->Scan())) {
            m.notScan = true;
            return;
        }
        const Skew skew = MeasureSkew(PixelView::Of(*page.bitmap));
        m.unmeasured = !skew.measured;
        m.skew = skew.measured ? std::round(skew.degrees * 100) / 100 : 0;
    };
    const JobTicket ticket = m_guard.Begin();
    m_walk = PageWalk::Start(
        scheduler, pages, std::move(visit),
        [this, ticket](int done, int total) {
            ticket.Post([this, done, total] { emit WorkProgress(crop::Busy::Straighten, done, total); });
        },
        [this, ticket, measured] {
            std::map<int, Measured> byPage(measured->begin(), measured->end());
            ticket.Post([this, byPage = std::move(byPage)] { StraightenEnded(byPage); });
        },
        render::RenderScheduler::kBackground, PageWalk::Colours::Grey);
    if (!m_walk)
        return false;
    m_running = crop::Busy::Straighten;
    emit Changed(Change::Busy);
    emit WorkProgress(crop::Busy::Straighten, 0, 0);
    return true;
}

void WholeDocumentWork::StraightenEnded(const std::map<int, Measured> &measured) {
    m_walk.reset();
    m_guard.Drop();
    std::vector<PageChange> changes;
    std::vector<Outlier> unmeasured;
    int level = 0, notScans = 0, failed = 0;
    for (const auto &[page, m] : measured) {
        if (m.failed) {
            ++failed;
        } else if (m.notScan) {
            ++notScans;
        } else if (m.unmeasured) {
            unmeasured.push_back({page, "skew not measured",
                                  "its print has no lines or edges to tell its skew by; it is left as it was"});
        } else if (std::fabs(m.skew) < kLeastTurn) {
            ++level;
        } else {
            const double turn = std::clamp(m_editing.Set().Turn(page) + m.skew, -45.0, 45.0);
            changes.push_back(WithPageTurn(m_editing.Set(), page, turn));
        }
    }
    const size_t straightened = changes.size();
    m_editing.Replace(QStringLiteral("Straighten Pages"), std::move(changes));
    QString text =
        QStringLiteral("Straighten Pages: %1 of %2 pages straightened").arg(straightened).arg(measured.size());
    if (level > 0)
        text += QStringLiteral(", %1 level already").arg(level);
    if (notScans > 0)
        text += QStringLiteral(", %1 not scans left as they were").arg(notScans);
    if (failed > 0)
        text += QStringLiteral(", %1 that could not be rendered left as they were").arg(failed);
    if (!unmeasured.empty())
        text += QStringLiteral("; %1 to check").arg(unmeasured.size());
    Ended(std::move(unmeasured));
    emit StatusMessage(text + QStringLiteral("."));
}

void WholeDocumentWork::Ended(std::vector<Outlier> outliers) {
    m_outliers = std::move(outliers);
    emit Changed(Change::Outliers | Change::Busy);
}

const std::vector<EdgeBlock> &WholeDocumentWork::MarksOn(int page) const {
    static const std::vector<EdgeBlock> none;
    // Only while the region they were left out of stands.
    const Run *current = Current();
    if (!current)
        return none;
    const auto found = current->marks.find(page);
    const auto given = current->given.find(page);
    if (found == current->marks.end() || given == current->given.end() || m_editing.Set().Regions(page).empty() ||
        m_editing.Set().Regions(page).front() != given->second)
        return none;
    return found->second;
}

std::vector<EdgeSetter> WholeDocumentWork::SettersOn(int page) const {
    const auto found = m_setters.find(page);
    if (found == m_setters.end() || page < 1 || page > m_editing.Set().PageCount())
        return {};
    for (const CropRect &region : m_editing.Set().Regions(page))
        if (region == found->second.first)
            return found->second.second;
    return {};
}

void WholeDocumentWork::KeepSetters(int page, const CropRect &stored, std::vector<EdgeSetter> setters) {
    if (setters.empty())
        m_setters.erase(page);
    else
        m_setters[page] = {stored, std::move(setters)};
}

std::vector<CropRect> WholeDocumentWork::IgnoredOn(int page) const {
    std::vector<CropRect> areas;
    const Run *current = Current();
    if (!current)
        return areas;
    for (const AutoCropOptions::IgnoredArea &a : current->options.areas)
        if (a.page == 0 || a.page == page)
            areas.push_back(a.box);
    return areas;
}

bool WholeDocumentWork::IgnoreLike(int page, const EdgeSetter &setter, bool allPages, QString &reason) {
    AutoCropOptions options = LastOptions();
    // A mark of the same place grown a little, so that the same mark a
    // little off on another page is left out too.
    const double grow = allPages ? 2.0 : 0.5;
    const CropRect box = setter.box.Normalized();
    const CropRect around{box.left - grow, box.top - grow, box.right + grow, box.bottom + grow};
    if (allPages && setter.what == EdgeSetter::Mark)
        options.ignore |= setter.mark;
    else if (allPages && setter.what == EdgeSetter::Speck)
        options.specks = std::max(options.specks, std::max(box.right - box.left, box.bottom - box.top) + 0.5);
    else
        options.areas.push_back({around, allPages ? 0 : page});
    // With no Shrink All Pages before, one page is that page alone.
    if (!allPages && !Current())
        options.range = std::to_string(page);
    // The marks that repeat are known only over all the pages: all are
    // measured again, though only one has something new to leave out.
    return Measure(options, reason);
}

bool WholeDocumentWork::IgnoreArea(const CropRect &area, QString &reason) {
    AutoCropOptions options = LastOptions();
    options.areas.push_back({area.Normalized(), 0});
    return Measure(options, reason);
}

bool WholeDocumentWork::UnignoreArea(const CropRect &area, QString &reason) {
    AutoCropOptions options = LastOptions();
    std::erase_if(options.areas, [&area](const AutoCropOptions::IgnoredArea &a) { return a.box == area; });
    return Measure(options, reason);
}

void WholeDocumentWork::Stop() {
    if (!m_walk)
        return;
    m_guard.Drop();
    m_walk->Cancel();
    m_walk.reset();
    emit Changed(Change::Busy);
    emit StatusMessage(m_running == crop::Busy::Split ? QStringLiteral("Split Pages was stopped; no rectangle changed.")
                       : m_running == crop::Busy::Straighten
                           ? QStringLiteral("Straighten Pages was stopped; no page changed.")
                           : QStringLiteral("Shrink All Pages was stopped; no rectangle changed."));
}

void WholeDocumentWork::Reset() {
    m_guard.Drop();
    const bool running = bool(m_walk);
    if (m_walk)
        m_walk->Cancel();
    m_walk.reset();
    Changes changes;
    if (running)
        changes |= Change::Busy;
    if (!m_outliers.empty() || !m_runs.empty())
        changes |= Change::Outliers;
    m_outliers.clear();
    m_setters.clear();
    m_runs.clear();
    if (changes)
        emit Changed(changes);
}

}  // namespace crop
