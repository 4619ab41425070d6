#ifndef QUORREL_CROP_LIST_H
#define QUORREL_CROP_LIST_H

// The crop list: a line per page of the copy, "Page %d, [%.2f,%.2f,%.2f,%.2f]", the
// four numbers left, top, right, bottom of the rectangle on the page as a
// viewer shows it, in points: x from the shown page's left edge, y upwards
// from a line trunc(H) points below its top edge. A fifth number, when
// there is one, straightens the page: its content turned by that many
// degrees counterclockwise (as shown) about the visible page's centre,
// before the rectangle is taken. "Page %d, left out" leaves the page out of
// the copy; it is then the page's only line. "Page %d, rotate %d" (90, 180
// or 270) turns the page that many degrees clockwise as a viewer shows it
// (its /Rotate), after it is cropped; it is no page of the copy itself.
// "Page %d, scale %.4f" (above 0, at most 1) draws the page, cropped, that
// many times its size: its boxes, content and annotations together.

#include <istream>
#include <map>
#include <string>
#include <vector>

namespace quorrel {

struct CropRect {
    double left = 0, top = 0, right = 0, bottom = 0;
    double turn = 0;       // degrees counterclockwise; 0 for a page left level
    bool leftOut = false;  // the page is not in the copy
    int rotate = 0;        // degrees added to the page's rotation (first line only)
    double scale = 1;      // the cropped page drawn this many times its size (first line only)

    // Zero width or zero height: the page is left as it is.
    bool Empty() const { return left == right || top == bottom; }
};

// Page number (from 1) to its rectangles, one per line of the page in the
// order of the lines: each line is one page of the copy, so a page listed
// twice is split into two.
using CropList = std::map<int, std::vector<CropRect>>;

// What a list may hold: a page is split into at most this many pages, and
// no list of a document is this large (a line per page of a long book
// split 16 ways is a few tens of megabytes).
constexpr size_t kMostLinesPerPage = 16;
constexpr size_t kLargestList = 64u << 20;
// A page is straightened by at most this many degrees either way.
constexpr double kMostTurn = 45;
// A page is drawn at no less than this part of its size.
constexpr double kLeastScale = 0.01;

// All of `in`, up to `limit` bytes; false, with `error` set, when it holds
// more or cannot be read.
bool ReadAtMost(std::istream &in, size_t limit, std::string &text, std::string &error);

// Reads the list; LF and CRLF line ends and blank lines are accepted.
// Returns false with `error` naming the first malformed line, a page with
// more than kMostLinesPerPage lines, or a list larger than kLargestList.
bool ParseCropList(std::istream &in, CropList &list, std::string &error);

}  // namespace quorrel

#endif
