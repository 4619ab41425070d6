// The ink device of libravel.so: pictures that are only looked at for
// where the ink is may leave out dark text within a box already known.

#ifndef RAVEL_INK_DEVICE_H
#define RAVEL_INK_DEVICE_H

#include "ravel/forward_device.h"

#include <cstdint>

namespace ravel {

// A device in front of the draw device that leaves out glyphs of dark
// text and dark paths (filled or stroked) lying wholly within `inside`
// (device pixels), for pictures that are
// only looked at for where the ink is, when the ink there is known to be
// within the box found anyway. Everything else goes to the draw device as it
// is. The picture then differs from the whole one only within `leftOut`, the
// box of what was left out, and there only by being lighter: a glyph left
// out is dark, so wherever the whole picture is white so is this one, and
// every later paint composites pixel by pixel and the darker the backdrop
// the darker the result. Not inside a soft mask's definition or a tile,
// where that does not hold; a group with a blend mode other than normal,
// multiply and darken, or a knockout group, marks the picture as one to
// draw again whole.
struct InkDevice {
    ForwardDevice forward;
    fz_irect inside;
    fz_irect leftOut;
    int64_t leftArea;  // the glyph boxes left out, in pixels
    int64_t maxArea;   // leaving out stops there: the paper stays mostly white
    int keepAll;       // depth of mask definitions and tiles
    bool drawAgain;
};

inline InkDevice *Ink(fz_device *dev) { return reinterpret_cast<InkDevice *>(dev); }

// The ink device in front of `target`, leaving out what lies within
// `inside`, for a picture of `pixels` pixels.
fz_device *NewInkDevice(fz_context *ctx, fz_device *target, fz_irect inside, int64_t pixels);

}  // namespace ravel

#endif
