#ifndef CROP_MODEL_CROP_SET_H
#define CROP_MODEL_CROP_SET_H

#include "crop/detect/crop_rect.h"

#include <vector>

namespace crop {

// The crop regions of every page of a document: per page an ordered list
// of up to kMaxRegions rectangles (page points from the top-left corner, y
// down), the one selected, and the undo history of the changes. Every
// change is one undo step; a change to many pages at once is one step too
// when it is made between BeginStep and EndStep. Needs no window.
class CropSet {
public:
    static constexpr int kMaxRegions = 16;

    enum class Result { Done, Unchanged, TooMany, NoSuchPage, NoSuchRegion };

    explicit CropSet(int pageCount = 0) { Reset(pageCount); }
    // Every page without regions, and no history.
    void Reset(int pageCount);
    int PageCount() const { return int(m_pages.size()); }

    // Page from 1; none for a page out of range.
    const std::vector<CropRect> &Regions(int page) const;
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
    // The same, made part of the last undo step when that step changed
    // this page alone (moves in quick succession, taken back at once).
    Result ChangeJoiningLast(int page, int index, const CropRect &rect);
    Result Remove(int page, int index);
    // All of the page's regions, or `regions` in their place.
    Result Clear(int page) { return SetRegions(page, {}); }
    Result SetRegions(int page, std::vector<CropRect> regions);

    // The changes made until EndStep are one undo step, told as made on
    // `page` (by default the first page it changes).
    void BeginStep(int page = 0);
    void EndStep();

    bool CanUndo() const { return !m_undo.empty(); }
    bool CanRedo() const { return !m_redo.empty(); }
    size_t UndoSteps() const { return m_undo.size(); }
    // The page the step taken back (or made again) was made on; 0 when
    // there was none.
    int Undo();
    int Redo();
    // The pages the last Undo or Redo changed.
    const std::vector<int> &MovedPages() const { return m_moved; }

    // The page's regions as the copy has them, one page each, in
    // ReadingOrder.
    std::vector<CropRect> InOutputOrder(int page, bool rightToLeft) const;
    // The same order as indices into Regions(page).
    std::vector<int> OutputOrder(int page, bool rightToLeft) const;
    // The pages the copy has: each region a page, each page without one
    // the page as it is.
    long long OutputPageCount() const;
    // The pages the copy has before the first of page `page`'s.
    long long OutputPagesBefore(int page) const;

private:
    struct PageState {
        std::vector<CropRect> regions;
        int selected = -1;
        bool operator==(const PageState &) const = default;
    };
    struct PageChange {
        int page = 0;
        PageState before, after;
    };
    struct Step {
        int page = 0;
        std::vector<PageChange> changes;
    };
    bool Valid(int page) const { return page >= 1 && page <= PageCount(); }
    // Records `page` becoming `after`; Unchanged when it already is.
    Result Apply(int page, PageState after);
    int Move(std::vector<Step> &from, std::vector<Step> &to, bool forward);

    std::vector<PageState> m_pages;
    std::vector<Step> m_undo, m_redo;
    int m_open = 0;  // BeginStep depth
    Step m_pending;
    std::vector<int> m_moved;
};

}  // namespace crop

#endif
