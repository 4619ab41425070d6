#ifndef CROP_MODEL_REGIONS_CROP_SET_H
#define CROP_MODEL_REGIONS_CROP_SET_H

#include "crop/detect/crop_rect.h"

#include <vector>

namespace crop {

// One page's regions in the order they were drawn, the one selected (-1
// for none), and the turn that straightens the page: degrees
// counterclockwise, 0 for a page left level.
struct PageRegions {
    std::vector<CropRect> regions;
    int selected = -1;
    double turn = 0;
    bool leftOut = false;  // the page is not in the copy; its regions wait
    // Degrees clockwise the page is turned in the copy and as shown (0, 90,
    // 180 or 270); its regions are as shown so turned.
    int rotation = 0;
    // The page drawn this many times its size in the copy, once cropped to
    // its one region (a paper it is shaped to holds it whole); 1 for none.
    double scale = 1;
    bool operator==(const PageRegions &) const = default;
};

// The crop regions of every page of a document: per page an ordered list
// of up to kMaxRegions rectangles and the one selected. A value: its undo
// history is kept apart (RegionHistory). Needs no window.
class CropSet {
public:
    static constexpr int kMaxRegions = 16;

    enum class Result { Done, Unchanged, TooMany, NoSuchPage, NoSuchRegion };

    explicit CropSet(int pageCount = 0) { Reset(pageCount); }
    // Every page without regions.
    void Reset(int pageCount);
    int PageCount() const { return int(m_pages.size()); }

    // Page from 1; none for a page out of range.
    const PageRegions &Page(int page) const;
    // The page becomes `state`; false for a page out of range.
    bool SetPage(int page, PageRegions state);
    const std::vector<CropRect> &Regions(int page) const { return Page(page).regions; }
    double Turn(int page) const { return Page(page).turn; }
    bool LeftOut(int page) const { return Page(page).leftOut; }
    int Rotation(int page) const { return Page(page).rotation; }
    double Scale(int page) const { return Page(page).scale; }
    int RegionCount(int page) const { return int(Regions(page).size()); }
    // The page's regions that have a width and a height: an empty one
    // (a page given "no rectangle") crops nothing.
    int CroppingRegions(int page) const;
    // The selected region of the page, -1 when it has none.
    int Selected(int page) const;
    bool Select(int page, int index);
    // Tab and Shift+Tab: the next (or previous) region, round the end.
    bool SelectNext(int page, bool backwards);

    // A region added after the others, and selected; TooMany past
    // kMaxRegions.
    Result Add(int page, const CropRect &rect);
    Result Change(int page, int index, const CropRect &rect);
    Result Remove(int page, int index);
    // All of the page's regions, or `regions` in their place.
    Result Clear(int page) { return SetRegions(page, {}); }
    Result SetRegions(int page, std::vector<CropRect> regions);

    // The page's regions as the copy has them, one page each, in
    // ReadingOrder.
    std::vector<CropRect> InOutputOrder(int page, bool rightToLeft) const;
    // The same order as indices into Regions(page).
    std::vector<int> OutputOrder(int page, bool rightToLeft) const;
    // The pages the copy has: each region a page, each page without one
    // the page as it is, a page left out none.
    long long OutputPageCount() const;
    // The pages the copy has before the first of page `page`'s.
    long long OutputPagesBefore(int page) const;

private:
    bool Valid(int page) const { return page >= 1 && page <= PageCount(); }
    // `page` becomes `after`; Unchanged when its regions already are.
    Result Apply(int page, PageRegions after);

    std::vector<PageRegions> m_pages;
};

}  // namespace crop

#endif
