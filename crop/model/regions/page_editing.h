#ifndef CROP_MODEL_REGIONS_PAGE_EDITING_H
#define CROP_MODEL_REGIONS_PAGE_EDITING_H

#include "crop/detect/margins.h"
#include "crop/detect/page_shape.h"
#include "crop/model/regions/crop_file.h"
#include "crop/model/regions/crop_set.h"
#include "crop/model/regions/region_history.h"
#include "crop/model/regions/region_target.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crop {

// The regions of every page, their undo history and the crop file that
// keeps them, and the editing of the shown page's regions: each edit one
// command on the history, each step written to the crop file once.
class PageEditing : public RegionTarget {
public:
    using Size = std::pair<double, double>;
    // What the editing asks of the document that owns it.
    struct Host {
        // A page is shown and no work holds the regions.
        std::function<bool()> mayEdit;
        // The Auto Shrink flag as the crop file holds it now.
        std::function<bool()> autoShrink;
        // A rectangle as shown (normalised) shrunk to the shown page's
        // content; nothing without a result.
        std::function<std::optional<CropRect>(const CropRect &)> shrink;
        // A page's size in points as shown, and every page's at once where
        // that can be had (empty when not).
        std::function<std::optional<Size>(int page)> pageSize;
        std::function<std::vector<Size>()> pageSizes;
        // A page's own trim, bleed or art box as shown; nothing when it
        // has none.
        std::function<std::optional<CropRect>(int page, PageBox kind)> pageBox;
        // A note for the status bar.
        std::function<void(const QString &)> status;
        // The shown regions changed, and the history with them when
        // `history`.
        std::function<void(bool history)> changed;
        // The regions of `pages` changed (a step applied): their turns may
        // have too.
        std::function<void(const std::vector<int> &pages)> applied;
    };

    PageEditing(const std::string &folder, Host host);

    // Page `page`'s size from `sizes` (every page measured at once), else
    // as `measure` measures it alone.
    static std::optional<Size> SizeOf(const std::vector<Size> &sizes, int page,
                                      const std::function<std::optional<Size>(int)> &measure) {
        return page >= 1 && page <= int(sizes.size()) ? std::optional(sizes[size_t(page - 1)]) : measure(page);
    }

    // Another document of `pageCount` pages: no region and no history.
    void Reset(int pageCount);
    // Page `page` (0 for none) is shown, `width` x `height` points, with a
    // picture or without one (nothing of it is then edited).
    void Show(int page, int width, int height, bool hasPicture);

    const CropSet &Set() const { return m_set; }
    RegionHistory &History() { return m_history; }
    const RegionHistory &History() const { return m_history; }
    CropFile &File() { return m_file; }
    const CropFile &File() const { return m_file; }
    // The regions of several pages become these, as one step named `text`.
    bool Replace(const QString &text, std::vector<PageChange> changes);
    // The shown page's regions loaded again (the selection as stored).
    void Reload();
    // Counts the changes to the regions (every push, undo and redo, and
    // every reset), so that what was made of them can be told stale.
    uint64_t Version() const { return m_version; }

    const CropRect &CropRectangle() const override { return m_cropRect; }
    std::vector<CropRect> PageRegions() const override;
    int SelectedRegion() const override;
    bool SelectRegion(int index) override;
    bool SelectNextRegion(bool backwards) override;
    void SetCurrentPageRect(const CropRect &rect, bool drawn) override;
    void AddRegion(const CropRect &rect, bool drawn) override;
    void DeleteSelectedRegion() override;
    void DeleteCurrentPageRect() override;
    void ShrinkCurrentPageRect() override;
    void NudgeSelectedRegion(double left, double top, double right, double bottom) override;
    void ApplyRectToPages(const std::vector<int> &pages) override;
    // Copy keeps the selected region (as shown, normalised); false when
    // the shown page has none selected.
    bool CopySelectedRegion();
    const std::optional<CropRect> &Copied() const { return m_copied; }
    // Paste adds the region copied to the shown page, within the page, as
    // a region of its own, and selects it; or says why nothing was added.
    enum class Pasted { Done, NothingCopied, Outside, Refused };
    Pasted PasteRegion();
    // Crop Box: every page of `pages` given the part `margins` leave of
    // it; the shown page's selected region takes it, another page's the
    // region at the same place in its list, or its first.
    void SetMargins(const Margins &margins, const std::vector<int> &pages);
    // Crop to Trim Box and the like: every page of `pages` that gives a
    // box of `kind` gets that box as its one region, in one step. The
    // pages without one, which keep what they had.
    std::vector<int> CropToBox(PageBox kind, const std::vector<int> &pages);
    // Leave Out: `pages` left out of the copy, or put back, in one step;
    // their regions wait for them. Never every page: false, with nothing
    // changed, when no page of the document would be left.
    bool SetLeftOut(const std::vector<int> &pages, bool leftOut);

    // Rotate Left, Right and 180: `pages` turned `degrees` clockwise (270,
    // 90 or 180) in the copy and as shown, their regions with them, in one
    // step; false when nothing was turned.
    bool Rotate(const std::vector<int> &pages, int degrees);
    // Page Size: every region of `pages` (a page without one, the page
    // itself) made exactly `paper` placed by `anchor`, or grown to the
    // aspect `ratio`, in one step. What it found: pages whose crop was
    // larger than the paper (cut to it), and pages that would grow past
    // the largest page (left as they were).
    // With `fit` a page with one region larger than the paper is drawn
    // smaller in the copy to fit it, whole, rather than cut to it; the
    // room an aspect adds is shared by `room`.
    struct Shaped {
        std::vector<int> cut, tooLarge, scaled;
        std::vector<int> tooSmall;  // would be drawn at less than kLeastScale: left as they were
    };
    Shaped ShapePages(const std::vector<int> &pages, const std::optional<PaperSize> &paper, Anchor anchor,
                      const std::optional<ReaderScreen> &screen, bool fit = false, const RoomWeights &room = {},
                      bool spineRight = false);
    // Whether a page's only region reaches past the page's edges, by more
    // than a hundredth of a point.
    bool ReachesPastPage() const;
    // A page's size in points as shown now, its rotation applied.
    std::optional<Size> ShownSize(int page) const;

private:
    // The shown page's regions as shown, into m_shown.
    void LoadShown();
    // The shown page's selected region as shown; empty for none.
    CropRect SelectedShown() const;
    bool Editable() const { return m_hasPicture && m_host.mayEdit(); }
    // The shown page's change pushed as one step; m_cropRect is then
    // `shown` (or what the file holds, when nothing is given).
    void PushShown(const QString &text, PageChange change, std::optional<CropRect> shown, bool nudge = false);
    // `rect` shrunk when `drawn` and Auto Shrink is on; nothing when not.
    std::optional<CropRect> ShrunkIfDrawn(const CropRect &rect, bool drawn) const;
    void Applied(const std::vector<int> &pages);

    Host m_host;
    CropFile m_file;
    CropSet m_set;
    RegionHistory m_history;
    int m_page = 0;
    int m_width = 0, m_height = 0;
    bool m_hasPicture = false;
    CropRect m_cropRect;               // the selected region as shown, or as dragged
    std::vector<CropRect> m_shown;     // the shown page's regions as shown
    std::optional<CropRect> m_copied;  // the region Copy kept
    uint64_t m_version = 0;
};

}  // namespace crop

#endif
