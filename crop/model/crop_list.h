#ifndef CROP_MODEL_CROP_LIST_H
#define CROP_MODEL_CROP_LIST_H

#include "crop/detect/page_walk.h"

#include <QString>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace crop {

// The crop list the crop tool reads: one line "Page <n>, [l,t,r,b]" for
// every page of a document of `pageCount` pages, its value as the crop
// file stores it (`valueOf`; "0.00,0.00,0.00,0.00" for a page left as it
// is), the first three numbers passed through single precision as the
// tool reads them.
std::string CropListText(int pageCount, const std::function<std::string(int page)> &valueOf);
// The same with every region of a page (`valuesOf`, in the order the copy
// has them): the page's line once for each, a page of the copy each. A
// page whose one value is kLeftOut gets "Page <n>, left out": it is not in
// the copy.
std::string CropListText(int pageCount, const std::function<std::vector<std::string>(int page)> &valuesOf);
inline constexpr const char *kLeftOut = "left out";

// The crop file's value of every page the plan gives a crop, each with
// its own page's height and the turn that straightens it.
std::map<int, std::string> PlannedValues(const AutoCropResult &result);

}  // namespace crop

#endif
