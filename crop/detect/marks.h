#ifndef CROP_DETECT_MARKS_H
#define CROP_DETECT_MARKS_H

#include "crop/detect/content_detector.h"
#include "crop/detect/crop_rect.h"

#include <QRect>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crop {

struct PageContent;

// The kinds of mark that come back at about the same place page after
// page, outside a book's text block.
enum MarkKind : unsigned {
    kRunningHeads = 1,  // running heads and feet, with the rules under or over them
    kPageNumbers = 2,
    kStamps = 4,  // the same shape at the same place: a stamp, a watermark, a logo
};
constexpr unsigned kAllMarks = kRunningHeads | kPageNumbers | kStamps;

// "heads,numbers,stamps" (any of them, any order, any case) as kinds;
// false, with the reason, for an unknown or missing kind.
bool ParseMarkKinds(std::string_view text, unsigned &kinds, std::string &error);
// "running head", "page number", "stamp" (one kind).
std::string MarkName(unsigned kind);

// A block at an edge of a page's content that a wide gap of paper sets
// apart from the rest.
struct EdgeBlock {
    enum Edge { Top, Bottom, Left, Right };
    Edge edge = Top;
    CropRect box;       // points from the page's top-left corner
    unsigned kind = 0;  // the repeated mark it was found to be; 0: none
};

// What sets one edge of a page's content: the thing of ink at that edge,
// told by its shape, or the repeated mark it is.
struct EdgeSetter {
    enum What { Line, Speck, Rule, Figure, Mark, Text };  // Text: lines of text that touch
    EdgeBlock::Edge edge = EdgeBlock::Top;
    CropRect box;  // points from the page's top-left corner
    What what = Line;
    unsigned mark = 0;  // Mark: its kind (MarkKind)
    QRect pixels;       // the box in the picture it was found on
};
// "line", "text", "dust speck 2 pt", "rule", "figure", "page number", ...
std::string SetterName(const EdgeSetter &setter);

// What sets each edge of `box` (pixels, the content found) on the picture
// `view` of `sx` x `sy` pixels per point: from a pixel of ink on the edge,
// the ink joined to it (rows that touch, and across the gaps between
// words), told by its size.
std::vector<EdgeSetter> FindEdgeSetters(const PixelView &view, const QRect &box, const Paper &paper, double sx,
                                        double sy);

// Once the marks are known and the page's content is final: each edge of
// the content gets its setter from what was found on the whole content,
// on the core, or the block at that edge; a setter within a repeated
// mark becomes that mark; one within a mark of the kinds `ignore` (left
// out of the content) sets nothing.
void SettleSetters(PageContent &page, unsigned ignore);

// The content of a page, `box` (pixels) in `view`, taken apart: at most
// two blocks off its top and off its bottom (each cut across at wide gaps
// into its parts, as a running head and the page number on its line), and
// one off each side, and the rest, `core`. A block is set apart by paper
// at least 8 pt and twice the page's usual gap between lines deep (but
// never more than 20 pt is asked for), and is
// small beside the page (a line or two, a stamp), and what is left holds
// at least half the content's height and width: the first lines of the
// text block are never one. On a scan, specks within a gap leave it a gap.
struct TakenApart {
    QRect core;
    std::vector<std::pair<EdgeBlock::Edge, QRect>> blocks;
};
TakenApart TakeApart(const PixelView &view, const QRect &box, const Paper &paper, double pixelsPerPoint);

// `taken`, from a picture of `sx` x `sy` pixels per point, kept on `page`
// in points.
void KeepBlocks(PageContent &page, const TakenApart &taken, double sx, double sy);

// Finds the blocks of `pages` that repeat: a block is a mark when pages of
// its parity holding a block at the same edge at about the same place are
// at least half of those with content (and at least three); a stamp also
// has about the same size and place across. Each such block gets its kind
// by its shape: a thin rule or a line of text a running head, a short word
// a page number, a larger shape a stamp.
void FindRepeatedMarks(std::vector<PageContent> &pages);

// The page's content with its marks of kinds `ignore` left out: the rest
// of it and the blocks that are not such marks.
std::optional<CropRect> BodyOf(const PageContent &page, unsigned ignore);

}  // namespace crop

#endif
