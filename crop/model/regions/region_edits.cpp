#include "crop/model/regions/region_edits.h"

#include "crop/model/regions/crop_file.h"

#include <algorithm>
#include <cmath>

namespace crop {

namespace {

// A page drawn smaller was so for the region its paper gave it: a region
// changed any other way draws it whole again.
PageChange &Rescaled(PageChange &change) {
    if (change.after.regions != change.before.regions)
        change.after.scale = 1;
    return change;
}

}  // namespace

PageChange Replaced(const CropSet &set, int page, std::vector<CropRect> regions) {
    PageChange change{page, set.Page(page), set.Page(page)};
    change.after.selected = regions.empty() ? -1 : 0;
    change.after.regions = std::move(regions);
    return Rescaled(change);
}

PageChange WithSelected(const CropSet &set, int page, const CropRect &rect) {
    PageChange change{page, set.Page(page), set.Page(page)};
    PageRegions &after = change.after;
    if (after.selected < 0 || after.selected >= int(after.regions.size())) {
        after.regions.push_back(rect);
        after.selected = int(after.regions.size()) - 1;
    } else {
        after.regions[size_t(after.selected)] = rect;
    }
    return Rescaled(change);
}

PageChange WithAdded(const CropSet &set, int page, const CropRect &rect) {
    PageChange change{page, set.Page(page), set.Page(page)};
    change.after.regions.push_back(rect);
    change.after.selected = int(change.after.regions.size()) - 1;
    return Rescaled(change);
}

PageChange WithRemoved(const CropSet &set, int page, int index) {
    PageChange change{page, set.Page(page), set.Page(page)};
    PageRegions &after = change.after;
    if (index < 0 || index >= int(after.regions.size()))
        return change;
    after.regions.erase(after.regions.begin() + index);
    after.selected = after.regions.empty() ? -1 : std::max(0, index - 1);
    return Rescaled(change);
}

PageChange WithRegionAt(const CropSet &set, int page, int index, const CropRect &rect) {
    std::vector<CropRect> regions = set.Regions(page);
    if (regions.empty())
        regions.push_back(rect);
    else
        regions[index >= 0 && index < int(regions.size()) ? size_t(index) : 0] = rect;
    return Replaced(set, page, std::move(regions));
}

PageChange WithPageTurn(const CropSet &set, int page, double turn) {
    PageChange change{page, set.Page(page), set.Page(page)};
    change.after.turn = std::round(turn * 100) / 100;
    return change;
}

std::vector<CropRect> RotatedRegions(const std::vector<CropRect> &regions, double width, double height, int degrees) {
    const bool sideways = degrees == 90 || degrees == 270;
    const int before = StoredHeight(height), after = StoredHeight(sideways ? width : height);
    std::vector<CropRect> turned;
    turned.reserve(regions.size());
    for (const CropRect &r : regions)
        turned.push_back(r.IsEmpty() ? r
                                     : StoredFrom(RotatedShown(ShownFrom(r, before), width, height, degrees), after));
    return turned;
}

PageChange WithRotation(const CropSet &set, int page, int degrees, double width, double height) {
    PageChange change{page, set.Page(page), set.Page(page)};
    degrees = ((degrees % 360) + 360) % 360;
    change.after.regions = RotatedRegions(change.after.regions, width, height, degrees);
    change.after.rotation = (change.after.rotation + degrees) % 360;
    return change;
}

PageChange WithLeftOut(const CropSet &set, int page, bool leftOut) {
    PageChange change{page, set.Page(page), set.Page(page)};
    change.after.leftOut = leftOut;
    return change;
}

int StoredHeight(double heightPt) { return int(std::trunc(std::min(heightPt, 1.0e9))); }

std::optional<CropRect> PlacedFromTopLeft(const CropRect &shown, double width, double height) {
    const CropRect clipped{std::clamp(shown.left, 0.0, width), std::clamp(shown.top, 0.0, height),
                           std::clamp(shown.right, 0.0, width), std::clamp(shown.bottom, 0.0, height)};
    if (shown.IsEmpty() || clipped.left >= clipped.right || clipped.top >= clipped.bottom)
        return std::nullopt;
    return StoredFrom(clipped, StoredHeight(height));
}

bool ChangesSomePage(const CropSet &set) {
    if (HasCroppingRegion(set))
        return true;
    for (int page = 1; page <= set.PageCount(); ++page)
        if (set.Turn(page) != 0 || set.LeftOut(page) || set.Rotation(page) != 0 || set.Scale(page) != 1)
            return true;
    return false;
}

bool HasCroppingRegion(const CropSet &set) {
    for (int page = 1; page <= set.PageCount(); ++page)
        for (const CropRect &r : set.Regions(page))
            if (float(r.left) != float(r.right) && float(r.top) != float(r.bottom))
                return true;
    return false;
}

}  // namespace crop
