#ifndef CROP_DETECT_SKEW_H
#define CROP_DETECT_SKEW_H

#include "crop/detect/content_detector.h"

#include <cstdint>
#include <vector>

namespace crop {

// How far a scanned page's print is turned from level.
struct Skew {
    // Degrees, positive when the lines of print fall to the right (turned
    // clockwise as the page is seen).
    double degrees = 0;
    // Whether the print has lines or edges enough to tell: a photograph or
    // a page of dust has none.
    bool measured = false;
    // How much sharper the print's rows are at the angle found than on
    // average over the angles tried (1 for no difference).
    double contrast = 1;
};

// The skew of the print of a page picture, from the rows its dark pixels
// make: the angle within +-kMostSkew degrees at which they pile up into the
// sharpest rows (text lines, rules, the edges of blocks), to about 0.05
// degree. Needs no window and no document.
inline constexpr double kMostSkew = 6.0;
Skew MeasureSkew(const PixelView &view);

// Skews below this many degrees are left as they are.
inline constexpr double kLeastTurn = 0.1;

// A page picture turned counterclockwise (as seen) by `degrees` about its
// centre, the size it was: what a page straightened by that turn looks
// like. What comes in from beyond the picture's edges is white.
struct TurnedPicture {
    std::vector<uint8_t> pixels;
    PixelView view;
};
TurnedPicture TurnPicture(const PixelView &view, double degrees);

}  // namespace crop

#endif
