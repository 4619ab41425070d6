#ifndef CROP_DETECT_MARGINS_H
#define CROP_DETECT_MARGINS_H

#include "crop/detect/crop_rect.h"

#include <optional>
#include <string>
#include <string_view>

namespace crop {

// The units exact margins are typed in.
enum class Unit { Pt, Mm, In };
// Points in one unit.
double PointsPer(Unit unit);
const char *UnitName(Unit unit);  // "pt", "mm", "in"
// "pt", "mm" or "in" (any case); false for anything else.
bool ParseUnit(std::string_view text, Unit &unit);

// No page is larger than this many points either way (a PDF's limit).
inline constexpr double kLargestPage = 14400;

// How far in from each edge of a page as it is shown, in points.
struct Margins {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// "L,T,R,B" with a unit after the last number or none (points): "20,20,20,20mm",
// "0.5,1,0.5,1 in", "36,36,36,36". Numbers are plain decimals; one below 0
// reaches past the page's edge, adding that much margin. False with
// `error` one sentence saying why.
bool ParseMargins(std::string_view text, Margins &margins, std::string &error);

// Margins added round a page's content, each side apart: left and right,
// or the inner side (the spine's: left on odd pages, right on even ones)
// and the outer.
struct SideMargins {
    double left = 0, top = 0, right = 0, bottom = 0;  // left: inner, right: outer when innerOuter
    bool innerOuter = false;
    bool spineRight = false;  // a book read right to left: the spine right of odd pages
    // Page `page`'s own: inner and outer turned to left and right.
    Margins On(int page) const {
        const bool swap = innerOuter && (page % 2 == 0) != spineRight;
        return {swap ? right : left, top, swap ? left : right, bottom};
    }
};
// The margins round the content as --margin takes them: one number for
// every side ("10", "5mm"), four for left, top, right and bottom
// ("10,10,10,30", "5,5,5,15mm"), or sides by name, any left out being 0
// ("inner 20mm", "inner 20, outer 10, top 5, bottom 15mm"; a unit after
// a number is that number's, one at the very end every number's without
// one). None below 0 or past kLargestPage; left and right are not named
// with inner and outer. False with `error` one sentence saying why.
bool ParseSideMargins(std::string_view text, SideMargins &margins, std::string &error);

// The rectangle `margins` leave of a page `width` x `height` points, as
// shown (page points from its top-left corner); nothing when they leave no
// width or no height.
std::optional<CropRect> InsideMargins(const Margins &margins, double width, double height);
// The margins of `rect` on such a page.
Margins MarginsOf(const CropRect &rect, double width, double height);

// A box a page of a print-ready file may give besides its crop box: the
// trim box (the finished page), the bleed box (with the bleed round it) or
// the art box. The numbers are the rendering library's.
enum class PageBox { Trim = 1, Bleed = 2, Art = 3 };
const char *PageBoxName(PageBox box);  // "trim", "bleed", "art"
// "trim", "bleed" or "art"; false for anything else.
bool ParsePageBox(std::string_view text, PageBox &box);

}  // namespace crop

#endif
