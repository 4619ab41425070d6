#ifndef CROP_DETECT_PAGE_SHAPE_H
#define CROP_DETECT_PAGE_SHAPE_H

// Pages shaped for where they go: one paper size for every page, or the
// aspect of a reader's screen. Rectangles are points of the shown page
// from its top-left corner, y down; a shaped rectangle may reach past the
// page, which then grows margins.

#include "crop/detect/crop_rect.h"

#include <string>
#include <vector>
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

// How the room a crop grows by is shared between its sides: by weight,
// left against right and top against bottom; two weights of 0 share it
// evenly.
struct RoomWeights {
    double left = 1, top = 1, right = 1, bottom = 1;
};
// "L,T,R,B", four numbers of 0 or more ("1,1,1,3"). False with `error`
// one sentence saying why.
bool ParseRoomWeights(std::string_view text, RoomWeights &weights, std::string &error);

// `rect` (normalised) grown, never cut, to the aspect width:height, the
// room added split between the two sides it goes to by `weights`.
CropRect GrownToRatio(const CropRect &rect, double width, double height, const RoomWeights &weights = {});

// Where a crop goes on its paper: in the middle; at the top, across the
// middle; or against the spine (left on odd pages, right on even ones),
// up and down the middle.
enum class Anchor { Centre, Top, Spine };
// "centre" (or "center"), "top", "spine"; false for anything else.
bool ParseAnchor(std::string_view text, Anchor &anchor);

// A rectangle of exactly `paper`'s size placed on `rect` by `anchor` (page
// `page` telling the spine's side); `cut` tells whether `rect` is larger
// than the paper either way (its edges are then cut off round the anchor:
// nothing is scaled).
CropRect OnPaper(const CropRect &rect, const PaperSize &paper, bool &cut, Anchor anchor = Anchor::Centre, int page = 1);

// As OnPaper, but a crop larger than the paper is drawn smaller instead of
// cut: the rectangle returned is the paper `1 / scale` times its size
// placed on `rect` (holding all of it), and `scale` (at most 1) the part of
// its size the page is then drawn at to be exactly the paper.
CropRect FitOnPaper(const CropRect &rect, const PaperSize &paper, double &scale, Anchor anchor = Anchor::Centre,
                    int page = 1);

// Readers' screens by their aspect, for --ratio and the Page Size dialog:
// a name ("6-inch e-reader") and width:height.
struct ReaderScreen {
    const char *name;
    double width, height;
};
const std::vector<ReaderScreen> &ReaderScreens();

}  // namespace crop

#endif
