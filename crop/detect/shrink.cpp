#include "crop/detect/shrink.h"

#include "crop/detect/content_detector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace crop {
namespace {

// The rows of the picture addressed with y from the top row, searched for
// pixels that are not pure white.
class Rows {
public:
    explicit Rows(const render::PageImage &picture) : m_picture(picture), m_height(picture.Height()) {}
    // The first x in [from, to) with content on row y, or -1.
    int64_t FirstContent(int64_t y, int64_t from, int64_t to) const {
        const uint8_t *row = RowBytes(y);
        for (int64_t x = from; x < to; ++x)
            if (IsContent(row, x, y))
                return x;
        return -1;
    }
    // The last x in [downTo, from] with content on row y, or -1.
    int64_t LastContent(int64_t y, int64_t from, int64_t downTo) const {
        const uint8_t *row = RowBytes(y);
        for (int64_t x = from; x >= downTo; --x)
            if (IsContent(row, x, y))
                return x;
        return -1;
    }

private:
    const uint8_t *RowBytes(int64_t y) const {
        return m_picture.BitsPerPixel() == 24 ? m_picture.Row(uint32_t(m_height - 1 - y)) : nullptr;
    }
    bool IsContent(const uint8_t *row, int64_t x, int64_t y) const {
        if (row) {
            const uint8_t *p = row + 3 * x;
            return (p[0] & p[1] & p[2]) != 255;
        }
        const render::RgbQuad c = m_picture.PixelAt(int32_t(x), int32_t(m_height - 1 - y), false);
        return !(c.red == 255 && c.green == 255 && c.blue == 255);
    }

    const render::PageImage &m_picture;
    int64_t m_height;
};

}  // namespace

std::optional<CropRect> ShrinkToContent(const render::PageImage &picture, QSize pagePoints, const CropRect &rect) {
    if (!picture.HasPixels())
        return std::nullopt;
    const double pw = picture.Width(), ph = picture.Height();
    const double sx = pagePoints.width() > 0 && pagePoints.height() > 0 ? pw / pagePoints.width() : 1.0;
    const double sy = pagePoints.width() > 0 && pagePoints.height() > 0 ? ph / pagePoints.height() : 1.0;

    const double L = std::max(rect.left * sx, 0.0), T = std::max(rect.top * sy, 0.0);
    const double R = std::min(rect.right * sx, pw - 1), B = std::min(rect.bottom * sy, ph - 1);
    const auto li = int64_t(L), ti = int64_t(T), ri = int64_t(R), bi = int64_t(B);
    const Rows rows(picture);
    // Columns Li .. (last below R), and from Ri down to (first at or above L).
    const int64_t endX = int64_t(std::ceil(R)), lowX = int64_t(std::ceil(L));

    int64_t yt = ti, yb = bi, xl = li, xr = ri;
    for (int64_t y = ti; y < B; ++y)
        if (rows.FirstContent(y, li, endX) >= 0) {
            yt = y;
            break;
        }
    bool foundBottom = false;
    for (int64_t y = bi; y >= yt; --y)
        if (rows.FirstContent(y, li, endX) >= 0) {
            yb = y;
            foundBottom = true;
            break;
        }
    // The left and right scans look for the first and last column with
    // content in rows yt .. yb - 1; the same columns are found row by row,
    // which reads the picture in the order it is stored.
    int64_t left = -1, right = -1;
    for (int64_t y = yt; y < yb; ++y) {
        const int64_t x = rows.FirstContent(y, li, left >= 0 ? left : endX);
        if (x >= 0)
            left = x;
        const int64_t z = rows.LastContent(y, ri, right >= 0 ? right + 1 : lowX);
        if (z >= 0)
            right = z;
    }
    if (left >= 0)
        xl = left;
    if (right >= 0)
        xr = right;

    if (xl == 0 && yt == 0 && ((double(xr) == R - 1 && double(yb) == B - 1) || (xr == 0 && yb == 0)))
        return std::nullopt;
    // The last column and row with content stay inside the rectangle, so a
    // shrunk rectangle cuts nothing off and shrinking it again keeps it.
    return CropRect{xl / sx, yt / sy, double(xr + (right >= 0)) / sx, double(yb + foundBottom) / sy};
}

std::optional<CropRect> ShrinkPageRect(const render::PageImage &picture, QSize pagePoints, const CropRect &rect) {
    const PixelView view = PixelView::Of(picture);
    const Paper paper = ContentDetector::EstimatePaper(view);
    if (!view.Valid() || paper.pureWhite)
        return ShrinkToContent(picture, pagePoints, rect);
    const bool sized = pagePoints.width() > 0 && pagePoints.height() > 0;
    const double sx = sized ? double(view.width) / pagePoints.width() : 1.0;
    const double sy = sized ? double(view.height) / pagePoints.height() : 1.0;
    const QRect area(
        QPoint(int(std::floor(std::max(rect.left * sx, -1.0))), int(std::floor(std::max(rect.top * sy, -1.0)))),
        QPoint(int(std::ceil(std::min(rect.right * sx, double(view.width)))) - 1,
               int(std::ceil(std::min(rect.bottom * sy, double(view.height)))) - 1));
    const std::optional<QRect> found = ContentDetector((sx + sy) / 2).Detect(view, area, paper);
    if (!found)
        return std::nullopt;
    return PointsOf(*found, sx, sy);
}

std::vector<EdgeSetter> SettersOfShrunk(const render::PageImage &picture, QSize pagePoints, const CropRect &shrunk) {
    const PixelView view = PixelView::Of(picture);
    if (!view.Valid() || pagePoints.width() <= 0 || pagePoints.height() <= 0)
        return {};
    const double sx = double(view.width) / pagePoints.width(), sy = double(view.height) / pagePoints.height();
    // The box was found in this picture's pixels: they come back whole.
    const CropRect r = shrunk.Normalized();
    const QRect box(QPoint(int(std::lround(r.left * sx)), int(std::lround(r.top * sy))),
                    QPoint(int(std::lround(r.right * sx)) - 1, int(std::lround(r.bottom * sy)) - 1));
    return FindEdgeSetters(view, box, ContentDetector::EstimatePaper(view), sx, sy);
}

}  // namespace crop
