#ifndef CROP_DETECT_SHRINK_H
#define CROP_DETECT_SHRINK_H

#include "crop/detect/crop_rect.h"
#include "crop/detect/marks.h"
#include "render/page_image.h"

#include <QSize>

#include <optional>

namespace crop {

// The smallest rectangle inside `rect` (page points, y down) that holds
// every pixel of `picture` that is not pure white, for a picture of a page
// `pagePoints` in size (whole points; 0 means one pixel per point).
//
// The rectangle is scaled to pixels and clamped to the picture, keeping
// fractions (L, T, R, B; truncated Li, Ti, Ri, Bi), then searched: the top
// row from Ti down while y < B, the bottom row from Bi up to the top row
// found, the left column from Li while x < R and the right column from Ri
// down while x >= L, these last two over the rows from the top row up to
// (not including) the bottom row, every row over the columns from Li while
// x < R. A scan that finds nothing keeps its clamped, truncated edge. The
// new right and bottom edges lie just past the last column and row that hold
// content, so the content is inside the rectangle whole.
// Nothing when the search reports no result (it ends at the picture's
// top-left corner with the whole clamped area, or with the single pixel
// there).
std::optional<CropRect> ShrinkToContent(const render::PageImage &picture, QSize pagePoints, const CropRect &rect);

// Shrink Current Page and Auto Shrink: ShrinkToContent on a page whose
// paper is pure white (and on pictures that are not of 24 bits); on other
// paper, a scan's, the content detector's box within `rect`, so that grain,
// dust and the scanner's edge do not hold the rectangle open. Nothing when
// no content is found there.
std::optional<CropRect> ShrinkPageRect(const render::PageImage &picture, QSize pagePoints, const CropRect &rect);
// What sets each edge of `shrunk` (points), the content ShrinkPageRect
// found on `picture`.
std::vector<EdgeSetter> SettersOfShrunk(const render::PageImage &picture, QSize pagePoints, const CropRect &shrunk);

}  // namespace crop

#endif
