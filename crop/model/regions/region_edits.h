#ifndef CROP_MODEL_REGIONS_REGION_EDITS_H
#define CROP_MODEL_REGIONS_REGION_EDITS_H

#include "crop/model/regions/crop_set.h"
#include "crop/model/regions/region_history.h"

#include <optional>
#include <vector>

namespace crop {

// The edits as pure functions: the regions of a page as they are and what
// the user asked, in; the page's change, out. Rectangles are stored ones
// (StoredFrom), except where a name says shown.

// The page's regions become `regions`, the first selected.
PageChange Replaced(const CropSet &set, int page, std::vector<CropRect> regions);
// The selected region (a new one, selected, when there is none) becomes
// `rect`.
PageChange WithSelected(const CropSet &set, int page, const CropRect &rect);
// `rect` after the others, and selected; the caller keeps to kMaxRegions.
PageChange WithAdded(const CropSet &set, int page, const CropRect &rect);
// Region `index` gone; the one before it selected, or the first.
PageChange WithRemoved(const CropSet &set, int page, int index);
// Region `index` (or the first, when the page has no such region) becomes
// `rect`; a page without regions gets it as its only one.
PageChange WithRegionAt(const CropSet &set, int page, int index, const CropRect &rect);
// The page straightened by `turn` degrees counterclockwise (to the
// hundredth the crop file keeps; 0 for level), its regions as they are.
PageChange WithPageTurn(const CropSet &set, int page, double turn);
// The page left out of the copy (or put back), its regions kept for it.
PageChange WithLeftOut(const CropSet &set, int page, bool leftOut);
// The page turned `degrees` further clockwise (90, 180 or 270), its
// regions turned with it: `width` x `height` is its size as shown now.
PageChange WithRotation(const CropSet &set, int page, int degrees, double width, double height);
// Stored regions of a page `width` x `height` points as shown, as they lie
// once it is turned `degrees` clockwise; stored again for its new height.
std::vector<CropRect> RotatedRegions(const std::vector<CropRect> &regions, double width, double height, int degrees);
// `shown` (normalised) at the same place from the top-left corner of a
// page `width` x `height` points, clipped to it, as stored; nothing when
// no part of it lies on the page.
std::optional<CropRect> PlacedFromTopLeft(const CropRect &shown, double width, double height);
// The page height the file measures from: whole points, within reason.
int StoredHeight(double heightPt);
// Whether some page has a region of some width and height, as the crop
// list gives it to the crop tool.
bool HasCroppingRegion(const CropSet &set);
// Whether the crop list changes some page: a region to crop it to, a turn
// that straightens it, a rotation, or the page left out.
bool ChangesSomePage(const CropSet &set);

}  // namespace crop

#endif
