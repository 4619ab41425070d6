#ifndef CROP_DETECT_CONTENT_DETECTOR_H
#define CROP_DETECT_CONTENT_DETECTOR_H

#include "crop/detect/crop_rect.h"
#include "render/bitmap.h"
#include "render/page_image.h"

#include <QRect>

#include <cmath>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace crop {

// A picture of a page as the rendering library makes it: rows stored
// bottom-up, `stride` bytes apart, pixels blue, green, red (24-bit) or one
// grey byte (`channels` 1, an 8-bit picture with a grey palette).
struct PixelView {
    const uint8_t *bits = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0;
    int channels = 3;

    bool Valid() const { return bits && width > 0 && height > 0; }
    // Row y counted from the top of the page.
    const uint8_t *Row(int y) const { return bits + ptrdiff_t(height - 1 - y) * stride; }

    // Empty views for pictures that are neither 24-bit nor 8-bit grey.
    static PixelView Of(const render::Bitmap &bitmap);
    static PixelView Of(const render::PageImage &image);
};

// The box `pixels` (right and bottom inclusive) of a picture of `sx` x `sy`
// pixels per point, in points: its outer edges.
inline CropRect PointsOf(const QRect &pixels, double sx, double sy) {
    return {pixels.left() / sx, pixels.top() / sy, (pixels.right() + 1) / sx, (pixels.bottom() + 1) / sy};
}
// The pixels of such a picture that `points` (a box from the page's
// top-left corner) covers, wholly or in part.
inline QRect PixelsOf(const CropRect &points, double sx, double sy) {
    const CropRect a = points.Normalized();
    return QRect(QPoint(int(std::floor(a.left * sx)), int(std::floor(a.top * sy))),
                 QPoint(int(std::ceil(a.right * sx)) - 1, int(std::ceil(a.bottom * sy)) - 1));
}

// What the page's paper looks like, estimated from the page itself.
struct Paper {
    // Born-digital paper: pure white is the commonest colour of the page.
    // Any pixel that is not pure white is content then.
    bool pureWhite = true;
    // The paper's colour (blue, green, red) and how far below it in any
    // channel a pixel must lie to stand clearly off the paper.
    uint8_t blue = 255, green = 255, red = 255;
    int threshold = 0;
    // Dark or strongly coloured paper (an inverted page, a coloured
    // slide): a pixel is content when it differs from the paper either
    // way, lighter or darker.
    bool differs = false;
    // A sheet on a dark scanner lid: the part of the picture (pixels) that
    // is the sheet, outside which nothing is content; empty for the whole
    // picture.
    QRect sheet;

    // Whether the pixel (blue, green, red) stands off this paper.
    bool Ink(int b, int g, int r) const {
        if (pureWhite)
            return (b & g & r) != 255;
        if (differs)
            return std::abs(blue - b) > threshold || std::abs(green - g) > threshold || std::abs(red - r) > threshold;
        return blue - b > threshold || green - g > threshold || red - r > threshold;
    }
};

// Finds the printed content of a rendered page.
//
// On pure white paper every pixel that is not pure white is content, so the
// box found is the exact bounding box of those pixels.
//
// On other paper (a scan: grey or yellowed paper, grain and compression
// noise, dust, a dark band where the scanner's lid or the book's edge
// shows) the paper's colour and noise are measured from the page, and a
// pixel is content when it is clearly darker than the paper in some
// channel. Then:
//   - a dark band along an edge of the page, thin (at most 8 % of the page
//     across) and covering most of that edge's length, is the scanner's
//     edge, not content; a dark area running further in is kept whole;
//   - marks much smaller than a letter (at most 3 points across) with no
//     other content within 8 points are dust and ignored, and so are a
//     few such specks close together (at most six, or within 16 points
//     all told); a longer run of them (a dotted line) is print.
// Everything else counts: a crop that loses a letter is worse than a
// margin left.
class ContentDetector {
public:
    // `pixelsPerPoint` is the picture's density, for the sizes above.
    explicit ContentDetector(double pixelsPerPoint) : m_pixelsPerPoint(pixelsPerPoint > 0 ? pixelsPerPoint : 1.0) {}

    static Paper EstimatePaper(const PixelView &view);
    // At least three quarters of some four thousand pixels spread evenly
    // over the picture are pure white (EstimatePaper's first look).
    static bool MostlyWhite(const PixelView &view);

    // The box (pixels, right and bottom exclusive) of the content within
    // `area`, clipped to the picture; nothing for a blank area or an
    // unusable picture.
    std::optional<QRect> Detect(const PixelView &view, const QRect &area) const;
    std::optional<QRect> Detect(const PixelView &view, const QRect &area, const Paper &paper) const;
    // With the sides of the area that are cuts through a fold (`cutSides`,
    // of Side): on a scan, the fold's shadow along each is left out too.
    enum Side : unsigned { Left = 1, Top = 2, Right = 4, Bottom = 8 };
    std::optional<QRect> Detect(const PixelView &view, const QRect &area, const Paper &paper, unsigned cutSides) const;

private:
    template <int C>
    std::optional<QRect> ExactBox(const PixelView &view, const QRect &area) const;
    template <int C>
    std::optional<QRect> ScanBox(const PixelView &view, const QRect &area, const Paper &paper, unsigned cutSides) const;
    template <int C>
    static Paper EstimatePaperOf(const PixelView &view);
    template <int C>
    static bool MostlyWhiteOf(const PixelView &view);

    double m_pixelsPerPoint;
};

}  // namespace crop

#endif
