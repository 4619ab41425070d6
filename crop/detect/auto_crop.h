#ifndef CROP_DETECT_AUTO_CROP_H
#define CROP_DETECT_AUTO_CROP_H

#include "crop/detect/crop_rect.h"
#include "crop/detect/margins.h"
#include "crop/detect/marks.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace crop {

struct AutoCropOptions;
// The pages `options` name in a document of `pageCount` pages, in order:
// its range when it has one (none when the range names a page the
// document lacks), else its set.
std::vector<int> PagesOf(const AutoCropOptions &options, int pageCount);

struct AutoCropOptions {
    PageSet pages = PageSet::All;
    // A page range as typed ("5-40 odd"); when given, it is the pages
    // worked on, in place of `pages`.
    std::string range;
    // One crop size for every page: odd and even pages placed apart, as
    // books mirror their margins.
    bool uniform = false;
    // Points added round the content, never past the page's edges.
    double margin = 0;
    // In place of `margin` when given: each side's own.
    std::optional<SideMargins> sides;
    // Scanned pages measured for skew and straightened: each crop is then
    // the content of the page as straightened.
    bool deskew = false;
    // Pages found blank (paper and dust only) left out of the copy.
    bool leaveOutBlank = false;
    // Marks of these kinds (MarkKind) that repeat from page to page are
    // left out of each page's content.
    unsigned ignore = 0;
    // A page whose crop would cut away more than this share of it (percent;
    // 0: no limit) is left as it is and listed.
    double cap = 0;
    // How faint print on a scan may be and still count, 0 to 100: higher
    // counts fainter marks (pencil, yellowed colours), lower leaves them.
    int sensitivity = kUsualSensitivity;
    static constexpr int kUsualSensitivity = 50;
    // Each page's content taken apart and each edge's setter found
    // (PageContent::setters), for a window that explains the crops.
    bool explain = false;
    // Parts of pages left out of their content: a box (points of the shown
    // page) on one page, or on every page when `page` is 0.
    struct IgnoredArea {
        CropRect box;
        int page = 0;
    };
    std::vector<IgnoredArea> areas;
    // Specks of ink no larger than this (points) that set an edge of a
    // page's content are left out of it; 0: none.
    double specks = 0;
};

// One page as its content was found: the shown page's size in points and
// the content's box (points from the page's top-left corner, y down).
struct PageContent {
    int page = 0;
    double width = 0, height = 0;
    std::optional<CropRect> content;  // nothing: a blank page
    bool failed = false;              // the page could not be rendered
    std::string error;
    // Straightening: degrees the page is turned counterclockwise (0 for a
    // page left level); a scan whose skew could not be measured is left
    // level and told.
    double turn = 0;
    bool skewUnmeasured = false;
    // When marks are looked for: the blocks at the edges of the content and
    // the rest of it (TakeApart).
    std::vector<EdgeBlock> blocks;
    std::optional<CropRect> core;
    // When edges are explained: what sets each edge of `content`, and
    // (before the marks are settled) of `core`.
    std::vector<EdgeSetter> setters, coreSetters;
};

// A page whose content lies far from where most pages of the range have
// theirs: a full-page figure, a blank page, a stray mark.
struct Outlier {
    int page = 0;
    std::string brief;   // a few words for a list: "blank", "left edge 42 pt out"
    std::string reason;  // the whole of it: "its content reaches 42 pt further left than on most odd pages"
};

struct AutoCropPlan {
    // The crop of each page that gets one (points from the top-left
    // corner, y down, normalised).
    std::map<int, CropRect> rects;
    std::vector<Outlier> outliers;
    int blank = 0;
    int failed = 0;
};

// The crops of the scanned pages:
//   - each page its content box with the margin round it, clipped to the
//     page; blank and failed pages get none;
//   - with `uniform`, every page of the range one size: the union of the
//     odd pages' content boxes and that of the even pages' (each from its
//     page's top-left corner), with the margin round them, both grown
//     about their centres to the larger width and height, and placed on
//     each page of their parity shifted where needed to stay inside it
//     (clipped only where the page is smaller). Blank pages get it too.
// Edges are rounded outwards to a hundredth of a point, so the two
// decimals of the crop list never cut into the content.
AutoCropPlan PlanAutoCrop(const std::vector<PageContent> &pages, const AutoCropOptions &options);

// Pages whose content reaches far out past where most pages of the range
// end theirs, blank and failed pages, and scans whose skew could not be
// measured. Odd and even pages are measured
// apart, as books mirror their margins (a side of fewer than six pages
// with content is measured with the other). An edge is far out when it
// lies past the median of that edge over its side by more than four times
// the spread of the edge there (the range of its middle 80 %) and more
// than 5 % of the page's width or height. Content that ends short of the
// others (a short line, the end of a chapter) is never listed: a crop
// fitted to the others keeps it whole.
std::vector<Outlier> FindOutliers(const std::vector<PageContent> &pages);

}  // namespace crop

#endif
