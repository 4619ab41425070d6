#ifndef CROP_DETECT_PAGE_SHAPE_H
#define CROP_DETECT_PAGE_SHAPE_H

// Pages shaped for where they go: one paper size for every page, or the
// aspect of a reader's screen. Rectangles are points of the shown page
// from its top-left corner, y down; a shaped rectangle may reach past the
// page, which then grows margins.

#include "crop/detect/crop_rect.h"

#include <string>
#include <string_view>

namespace crop {

struct PaperSize {
    double width = 0, height = 0;  // points
};

// A named paper ("A4", "a5", "Letter", "Legal", "B5", ...; any case) or
// "WxH" with a unit after the last number or none (points): "210x297mm",
// "6x9in", "595x842". False with `error` one sentence saying why.
bool ParsePaperSize(std::string_view text, PaperSize &paper, std::string &error);

// "W:H", two numbers above 0 ("3:4", "1.414:1"). False with `error` one
// sentence saying why.
bool ParseRatio(std::string_view text, double &width, double &height, std::string &error);

// `rect` (normalised) grown, never cut, to the aspect width:height, the
// room added split evenly between the two sides it goes to.
CropRect GrownToRatio(const CropRect &rect, double width, double height);

// A rectangle of exactly `paper`'s size centred on `rect`; `cut` tells
// whether `rect` is larger than the paper either way (its edges are then
// cut off: nothing is scaled).
CropRect OnPaper(const CropRect &rect, const PaperSize &paper, bool &cut);

}  // namespace crop

#endif
