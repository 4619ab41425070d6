#ifndef CROP_DETECT_SPLIT_H
#define CROP_DETECT_SPLIT_H

#include "crop/detect/content_detector.h"
#include "crop/detect/crop_rect.h"

#include <string>
#include <string_view>
#include <vector>

namespace crop {

// How a page is split: a grid of up to 4 x 4, the cells overlapping their
// neighbours by `overlap` points. With `even`, a cut that finds no gutter
// is made where an even split of the content puts it; without, it is not
// made.
struct SplitGrid {
    static constexpr int kMost = 4;
    int columns = 2, rows = 1;
    double overlap = 0;
    bool even = false;
};

// A page's cells, and the cuts that were not made for want of a gutter.
struct SplitCells {
    std::vector<CropRect> cells;  // one: the page is left whole
    int missed = 0;
};

// "COLSxROWS", such as "2x1" or "1x2", each 1 to 4, not both 1; false with
// `error` one sentence saying why.
bool ParseSplitGrid(std::string_view text, SplitGrid &grid, std::string &error);

// The cells of a page split by `grid`, in grid order (rows from the top,
// left to right), in page points from its top-left corner. The page's
// content is found first and cut into rows, then each row into columns, at
// the gutters inside it: for each cut, a dark fold running the length of
// the content near where an even split would cut (a scan of two facing
// pages), else the widest run of empty columns (or rows) there, at least
// a gutter wide. A cut that finds neither is left out (a row of cells
// without a gutter stays whole; a page with no cut left is one cell, its
// print) or,
// with `grid.even`, made where the even split puts it. Each cell is then
// cropped to its own print, as a page of its own would be: the fold and
// its shadow along a cut, like the scanner's dark edge along the page's
// edges, are not print; print that runs on into the shadow is. A blank
// page is split evenly as a whole.
SplitCells SplitPage(const PixelView &view, double pixelsPerPoint, const SplitGrid &grid);

// The cells grown by `margin` points, never past the page (`width` by
// `height` points); with `uniform`, each then grown about its centre to
// the widest and tallest cell, shifted where needed to stay on the page.
std::vector<CropRect> FitCells(std::vector<CropRect> cells, double margin, bool uniform, double width, double height);

}  // namespace crop

#endif
