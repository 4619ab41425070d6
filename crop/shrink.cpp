#include "crop/shrink.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace crop {
namespace {

// Pixels addressed with y from the top row.
class Pixels {
public:
    explicit Pixels(const render::PageImage &picture) : m_picture(picture), m_height(picture.Height()) {}
    bool IsContent(int64_t x, int64_t y) const {
        const uint32_t stored = uint32_t(m_height - 1 - y);
        if (m_picture.BitsPerPixel() == 24) {
            const uint8_t *p = m_picture.Row(stored) + 3 * x;
            return !(p[0] == 255 && p[1] == 255 && p[2] == 255);
        }
        const render::RgbQuad c = m_picture.PixelAt(int32_t(x), int32_t(stored), false);
        return !(c.red == 255 && c.green == 255 && c.blue == 255);
    }

private:
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
    const Pixels pixels(picture);
    auto rowHasContent = [&](int64_t y) {
        for (int64_t x = li; x < R; ++x)
            if (pixels.IsContent(x, y))
                return true;
        return false;
    };

    int64_t yt = ti, yb = bi, xl = li, xr = ri;
    for (int64_t y = ti; y < B; ++y)
        if (rowHasContent(y)) {
            yt = y;
            break;
        }
    for (int64_t y = bi; y >= yt; --y)
        if (rowHasContent(y)) {
            yb = y;
            break;
        }
    auto columnHasContent = [&](int64_t x) {
        for (int64_t y = yt; y < yb; ++y)
            if (pixels.IsContent(x, y))
                return true;
        return false;
    };
    for (int64_t x = li; x < R; ++x)
        if (columnHasContent(x)) {
            xl = x;
            break;
        }
    for (int64_t x = ri; x >= L; --x)
        if (columnHasContent(x)) {
            xr = x;
            break;
        }

    if (xl == 0 && yt == 0 && ((double(xr) == R - 1 && double(yb) == B - 1) || (xr == 0 && yb == 0)))
        return std::nullopt;
    return CropRect{xl / sx, yt / sy, xr / sx, yb / sy};
}

}  // namespace crop
