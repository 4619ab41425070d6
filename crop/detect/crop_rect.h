#ifndef CROP_DETECT_CROP_RECT_H
#define CROP_DETECT_CROP_RECT_H

#include <algorithm>
#include <string>
#include <vector>

namespace crop {

// A page's crop rectangle in page points: origin at the page's top-left
// corner, y down. Neither normalised nor clamped: a rectangle drawn from
// right to left has left > right. All four 0 means no rectangle.
struct CropRect {
    double left = 0, top = 0, right = 0, bottom = 0;
    bool IsEmpty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    // Left edge on the left, top edge on top.
    CropRect Normalized() const {
        return {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
    }
    bool operator==(const CropRect &) const = default;
};

// `shown` (normalised, origin at the top-left corner) on a page `width` x
// `height` points shown, as it lies once the page is turned `degrees`
// clockwise (90, 180 or 270; any other leaves it as it is). An empty
// rectangle stays empty.
CropRect RotatedShown(const CropRect &shown, double width, double height, int degrees);

// Which pages of a document a whole-document command works on.
enum class PageSet { All = 0, Even = 1, Odd = 2 };

// The pages of `set` in a document of `pageCount` pages, in order.
std::vector<int> PagesOf(PageSet set, int pageCount);
// "all", "even", "odd"; false for anything else.
bool ParsePageSet(const std::string &text, PageSet &set);

// The order in which the regions of one page become pages of a copy, as
// indices into `regions`: rows from the top, left to right within a row
// (right to left for books read so). Two regions share a row when their
// heights overlap by more than half the lower one.
std::vector<int> ReadingOrder(const std::vector<CropRect> &regions, bool rightToLeft);

}  // namespace crop

#endif
