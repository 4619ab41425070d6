#ifndef CROP_MODEL_WHOLE_DOCUMENT_H
#define CROP_MODEL_WHOLE_DOCUMENT_H

#include "crop/detect/auto_crop.h"
#include "crop/detect/page_walk.h"
#include "crop/detect/split.h"
#include "crop/model/document_state.h"
#include "crop/model/regions/page_editing.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace crop {

// Work on many pages of the open document in the background that the
// user can stop: Shrink All Pages and Split Pages, and the pages to
// check they leave. Each ends in one step of the regions' history; a job
// stopped, or overtaken by another document, changes nothing.
class WholeDocumentWork : public QObject {
    Q_OBJECT
public:
    // What the work asks of the document that owns it.
    struct Host {
        // The render threads of the open PDF document; null when none is.
        std::function<std::shared_ptr<render::RenderScheduler>()> scheduler;
        std::function<QString()> title;
        std::function<crop::Busy()> busy;  // the document's work
        std::function<bool()> overlayShown;
        std::function<int()> pageCount;
        // Every page's size where it can be had at once, else one page's.
        std::function<std::vector<PageEditing::Size>()> pageSizes;
        std::function<std::optional<PageEditing::Size>(int page)> pageSize;
    };

    WholeDocumentWork(PageEditing &editing, Host host, QObject *parent = nullptr);
    ~WholeDocumentWork() override;

    // Shrink All Pages: the content of every page of `options.pages` found
    // (inside the page's first region, or the whole page where it has
    // none) and each page given its crop as PlanAutoCrop plans it; pages
    // found blank keep what they have unless one common size is asked for.
    bool ShrinkAllPages(const AutoCropOptions &options, QString &reason);
    // Split Pages: every page of `pages` rendered, its regions become the
    // cells of `grid`, cut at the gutters of its content and fitted with
    // `margin` and `uniform`; pages with a cut not made for want of a
    // gutter are the pages to check then.
    bool SplitPages(const SplitGrid &grid, const std::vector<int> &pages, double margin, bool uniform, QString &reason);
    // Straighten Pages: the skew of every page of `pages` measured (of
    // scans alone with `onlyScans`) and each page more than a tenth of a
    // degree askew turned level, in one step; pages whose skew cannot be
    // told are the pages to check then. A page straightened before is
    // measured as it is drawn, and its turn corrected.
    bool StraightenPages(const std::vector<int> &pages, bool onlyScans, QString &reason);
    // ShrinkAll, Split, Straighten or None.
    crop::Busy Running() const;
    // Stops the work: nothing changes.
    void Stop();
    // Another document: the work ends untold and the pages to check go.
    void Reset();
    // The pages the last work found to check.
    const std::vector<Outlier> &Outliers() const { return m_outliers; }
    // The repeated marks the last Shrink All Pages left out of page
    // `page`'s crop (EdgeBlock, points of the shown page), none when it
    // looked for none.
    const std::vector<EdgeBlock> &MarksOn(int page) const;
    // What sets each edge of page `page`'s crop, as the last Shrink All
    // Pages or Shrink Current Page found it (points of the shown page);
    // none once the crop it explains has been changed.
    std::vector<EdgeSetter> SettersOn(int page) const;
    // Shrink Current Page gave page `page` the region `stored` (as the crop
    // file holds it), whose edges `setters` set.
    void KeepSetters(int page, const CropRect &stored, std::vector<EdgeSetter> setters);
    // The parts of page `page` left out of its content by the user (page
    // 0: those left out of every page).
    std::vector<CropRect> IgnoredOn(int page) const;
    // Marks like `setter`, found on page `page`, left out of the content:
    // of every page the last Shrink All Pages worked on (`allPages`: marks
    // of its kind, specks as large, or anything else at that place), or of
    // `page` alone (that mark). The pages are measured again in the
    // background, within the regions they had before that Shrink All
    // Pages, and given their crops in one step.
    bool IgnoreLike(int page, const EdgeSetter &setter, bool allPages, QString &reason);
    // `area` (points of the shown page) left out of the content of every
    // page the last Shrink All Pages worked on (every page when none ran),
    // measured again as above.
    bool IgnoreArea(const CropRect &area, QString &reason);
    // An area left out before (as IgnoredOn gives it) counted again, and
    // the pages measured again.
    bool UnignoreArea(const CropRect &area, QString &reason);
    // The options of the last Shrink All Pages, with what was ignored since.
    AutoCropOptions LastOptions() const;

signals:
    void Changed(crop::Changes changes);
    void StatusMessage(const QString &text);
    void WorkProgress(crop::Busy work, int done, int total);

private:
    // Shrink All Pages within `stored`, each page's region to look within.
    bool Shrink(const std::shared_ptr<render::RenderScheduler> &scheduler, const AutoCropOptions &options,
                std::map<int, CropRect> stored, QString &reason);
    // The last Shrink All Pages again with `options`: within the regions
    // the pages had before it, so that what is counted again comes back.
    bool Measure(const AutoCropOptions &options, QString &reason);
    void ShrinkAllEnded(const AutoCropResult &result, bool leaveOutBlank);
    void SplitEnded(const std::map<int, SplitCells> &cells, int failed, double margin, bool uniform);
    // What the measure of a page found: its skew (degrees, 0 for level),
    // or that it is no scan, or that its skew cannot be told.
    struct Measured {
        double skew = 0;
        bool notScan = false, unmeasured = false, failed = false;
    };
    void StraightenEnded(const std::map<int, Measured> &measured);
    // The render threads for `work`, which `does` the pages ("shrunk all
    // at once"); null, with the reason, when no PDF document is open or
    // other work holds the regions.
    std::shared_ptr<render::RenderScheduler> FreeScheduler(crop::Busy work, const QString &does, QString &reason) const;
    // The work's pages to check, and its end, told.
    void Ended(std::vector<Outlier> outliers);

    PageEditing &m_editing;
    Host m_host;
    JobGuard m_guard{this};
    std::shared_ptr<PageWalk> m_walk;
    crop::Busy m_running = crop::Busy::None;
    std::vector<Outlier> m_outliers;

    // Per page: the region (stored) whose edges were explained, and what
    // sets them.
    std::map<int, std::pair<CropRect, std::vector<EdgeSetter>>> m_setters;
    // Each Shrink All Pages that ended: what it was asked, the regions it
    // looked within, the regions it gave (stored) and the marks it left
    // out. The last whose regions still stand is the one measured again,
    // and what it ignored is what is shown: undone, the one before it is.
    struct Run {
        AutoCropOptions options;
        std::map<int, CropRect> within, given;
        std::map<int, std::vector<EdgeBlock>> marks;
    };
    std::vector<Run> m_runs;
    const Run *Current() const;
    // The same of the Shrink All Pages running, kept when it ends; measured
    // again, the regions of the run it measures again.
    Run m_asked;
    bool m_again = false;
    std::map<int, CropRect> m_againGiven;
};

}  // namespace crop

#endif
