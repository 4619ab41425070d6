#ifndef CROP_DETECT_SPLIT_H
#define CROP_DETECT_SPLIT_H

#include "crop/detect/content_detector.h"
#include "crop/detect/crop_rect.h"

#include <string>
#include <string_view>
#include <vector>

namespace crop {

// How a page is split: a grid of up to 4 x 4, the cells overlapping their
// neighbours by `overlap` points.
struct SplitGrid {
    static constexpr int kMost = 4;
    int columns = 2, rows = 1;
    double overlap = 0;
};

// "COLSxROWS", such as "2x1" or "1x2", each 1 to 4, not both 1; false with
// `error` one sentence saying why.
bool ParseSplitGrid(std::string_view text, SplitGrid &grid, std::string &error);

// The cells of a page split by `grid`, in reading order (rows from the top,
// left to right), in page points from its top-left corner. The page's
// content is found first; the cells divide it at the gutters inside it:
// for each cut, the widest run of empty columns (or rows) near where an
// even split would cut, or a dark fold running the length of the content
// (a scan of two facing pages) in preference. Where neither is found the
// cut is where an even split of the content puts it. A blank page is split
// evenly as a whole.
std::vector<CropRect> SplitPage(const PixelView &view, double pixelsPerPoint, const SplitGrid &grid);

}  // namespace crop

#endif
