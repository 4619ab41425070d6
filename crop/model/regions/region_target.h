#ifndef CROP_MODEL_REGIONS_REGION_TARGET_H
#define CROP_MODEL_REGIONS_REGION_TARGET_H

#include "crop/detect/crop_rect.h"

#include <vector>

namespace crop {

// What the page view edits through: the regions of what it shows, in page
// points from the top-left corner of the page (or of the overlay), y down.
// The shown page and the overlay each implement it; the document hands out
// the one shown.
class RegionTarget {
public:
    virtual ~RegionTarget() = default;

    // The selected region as shown; empty when there is none.
    virtual const CropRect &CropRectangle() const = 0;
    // Every region as shown, in the order they were drawn, and which one
    // is selected (-1 for none).
    virtual std::vector<CropRect> PageRegions() const = 0;
    virtual int SelectedRegion() const = 0;
    // A click on a region, and Tab / Shift+Tab.
    virtual bool SelectRegion(int index) = 0;
    virtual bool SelectNextRegion(bool backwards) = 0;
    // The selected region becomes `rect` (a new one when there is none; as
    // drawn or dragged, not normalised). A rectangle `drawn` with the
    // rubber band is first shrunk to the content when Auto Shrink is on.
    virtual void SetCurrentPageRect(const CropRect &rect, bool drawn) = 0;
    // A drag with the modifier: `rect` added as another region and selected.
    virtual void AddRegion(const CropRect &rect, bool drawn) = 0;
    // Delete Rectangle: the selected region goes, the others stay.
    virtual void DeleteSelectedRegion() = 0;
    // Remove Cropbox: no region any more.
    virtual void DeleteCurrentPageRect() = 0;
    // Shrink Current Page: the selected region shrunk to the content.
    virtual void ShrinkCurrentPageRect() = 0;
    // The arrow keys: the selected region's edges moved by these points.
    virtual void NudgeSelectedRegion(double left, double top, double right, double bottom) = 0;
    // Crop all pages: what is shown given to every page of `pages`.
    virtual void ApplyRectToPages(const std::vector<int> &pages) = 0;
};

}  // namespace crop

#endif
