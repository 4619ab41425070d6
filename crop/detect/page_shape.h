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
// middle; or against the spine (left on odd pages, right on even ones,
// the other way round with `spineRight`, for a book read right to left),
// up and down the middle.
enum class Anchor { Centre, Top, Spine };
// "centre" (or "center"), "top", "spine"; false for anything else.
bool ParseAnchor(std::string_view text, Anchor &anchor);

// A rectangle of exactly `paper`'s size placed on `rect` by `anchor` (page
// `page` telling the spine's side); `cut` tells whether `rect` is larger
// than the paper either way (its edges are then cut off round the anchor:
// nothing is scaled).
CropRect OnPaper(const CropRect &rect, const PaperSize &paper, bool &cut, Anchor anchor = Anchor::Centre, int page = 1,
                 bool spineRight = false);

// As OnPaper, but a crop larger than the paper is drawn smaller instead of
// cut: the rectangle returned is the paper `1 / scale` times its size
// placed on `rect` (holding all of it), and `scale` (at most 1) the part of
// its size the page is then drawn at to be exactly the paper.
// No page is drawn at less than this part of its size.
constexpr double kLeastScale = 0.01;
CropRect FitOnPaper(const CropRect &rect, const PaperSize &paper, double &scale, Anchor anchor = Anchor::Centre,
                    int page = 1, bool spineRight = false);

// Readers' screens, for --ratio and the Page Size dialog: a name
// ("6-inch e-reader"), the screen's width:height, and the parts of it
// (each side's share of the screen's width or height, 0 to below 1) that
// the reader's frame and menus cover while a page is read.
struct ReaderScreen {
    std::string name;
    double width = 3, height = 4;
    double left = 0, top = 0, right = 0, bottom = 0;
};
// The readers every copy of the program knows.
const std::vector<ReaderScreen> &BuiltInScreens();
// The user's own readers, a line each: "NAME = W:H" or "NAME = W:H, L,T,R,B"
// with the percent of the screen's width or height each side covers;
// blank lines and lines from "#" are skipped. False with `error` naming
// the first line that cannot be read.
bool ParseReaderScreens(std::string_view text, std::vector<ReaderScreen> &screens, std::string &error);
// The built-in readers followed by the user's from the file
// ReaderScreensPath(); `error` tells why that file could not be read (the
// built-in ones are still given).
std::vector<ReaderScreen> ReaderScreens(std::string &error);
// $XDG_CONFIG_HOME/orvane/screens (~/.config/orvane/screens without it).
std::string ReaderScreensPath();
// The reader named `name` (any case); none when there is no such one.
const ReaderScreen *FindScreen(const std::vector<ReaderScreen> &screens, std::string_view name);
// `rect` grown, never cut, so that what the screen leaves uncovered shows
// it whole at the screen's aspect, with blank margins under its frame and
// menus; the room added by `weights`.
CropRect GrownToScreen(const CropRect &rect, const ReaderScreen &screen, const RoomWeights &weights = {});

}  // namespace crop

#endif
