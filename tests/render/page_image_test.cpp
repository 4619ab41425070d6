// The page image: its block, limits, pixels, bitmaps and painting.

#include "render/page_image.h"
#include "tests/render/image_writers.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using render::PageImage;
using render::RgbQuad;

namespace {

// A 24-bit image holding the pattern (top-down y of the pattern is stored
// row H-1-y).
std::unique_ptr<PageImage> ImageOf(const testimages::Picture &p) {
    auto image = std::make_unique<PageImage>();
    EXPECT_NE(image->Allocate(uint32_t(p.width), uint32_t(p.height), 24, 0), nullptr);
    for (int y = 0; y < p.height; ++y) {
        uint8_t *row = image->Row(uint32_t(p.height - 1 - y));
        for (int x = 0; x < p.width; ++x) {
            row[x * 3] = p.At(x, y)[2];
            row[x * 3 + 1] = p.At(x, y)[1];
            row[x * 3 + 2] = p.At(x, y)[0];
        }
    }
    return image;
}

TEST(PageImage, AllocateRoundsTheDepthAndLaysOutTheBlock) {
    PageImage image;
    EXPECT_EQ(image.Allocate(0, 10, 24, 0), nullptr);
    EXPECT_EQ(image.LastError(), "PageImage::Allocate : width and height must be greater than zero");
    EXPECT_FALSE(image.HasPixels());

    ASSERT_NE(image.Allocate(1, 1, 2, 0), nullptr);
    EXPECT_EQ(image.BitsPerPixel(), 4u);
    EXPECT_EQ(image.PaletteSize(), 16u);
    EXPECT_EQ(image.Stride(), 4u);
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(image.Palette()[i], RgbQuad{});

    const struct {
        uint32_t asked, bits, entries;
    } depths[] = {{0, 1, 2}, {1, 1, 2}, {3, 4, 16}, {5, 8, 256}, {8, 8, 256}, {9, 24, 0}, {32, 24, 0}};
    for (auto d : depths) {
        ASSERT_NE(image.Allocate(5, 2, d.asked, 0), nullptr);
        EXPECT_EQ(image.BitsPerPixel(), d.bits) << d.asked;
        EXPECT_EQ(image.PaletteSize(), d.entries) << d.asked;
        EXPECT_EQ(image.Header().biSizeImage, image.Stride() * 2);
    }

    ASSERT_NE(image.Allocate(3, 2, 24, 7), nullptr);
    EXPECT_EQ(image.Stride(), 12u);
    EXPECT_EQ(image.Format(), 7);
    ASSERT_NE(image.Allocate(8, 2, 24, 0), nullptr);
    EXPECT_EQ(image.Stride(), 24u);
    // The block starts with the header, then the palette, then row 0.
    const auto *header = reinterpret_cast<const render::BitmapInfoHeader *>(image.DibBlock());
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biWidth, 8);
    EXPECT_EQ(header->biHeight, 2);
    EXPECT_EQ(header->biBitCount, 24);
    EXPECT_EQ(image.Row(0), image.DibBlock() + 40);
    EXPECT_EQ(image.Row(1), image.DibBlock() + 40 + 24);
    EXPECT_EQ(image.Row(2), nullptr);
    EXPECT_EQ(image.Row(uint32_t(-1)), nullptr);
}

TEST(PageImage, TheMemoryLimitRefusesHugeAndOverflowingSizes) {
    PageImage image;
    EXPECT_EQ(image.Allocate(100000, 100000, 24, 0), nullptr);
    EXPECT_EQ(image.LastError(), "PAGEIMAGE_MAX_MEMORY exceeded");
    // 65536 x 65536 wraps to zero in 32 bits; it must still be refused.
    EXPECT_EQ(image.Allocate(65536, 65536, 1, 0), nullptr);
    EXPECT_EQ(image.LastError(), "PAGEIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(image.Allocate(0xffffffffu, 2, 8, 0), nullptr);
    // Exactly 2^31 bits is allowed; one more pixel row is not.
    EXPECT_TRUE(render::WithinPageImageLimit(32768, 65536, 1));
    EXPECT_FALSE(render::WithinPageImageLimit(32768, 65537, 1));
    EXPECT_TRUE(render::WithinPageImageLimit(16384, 5461, 24));
    // One pixel wide: each row is held in four bytes, not half of one.
    EXPECT_FALSE(render::WithinPageImageLimit(1, 0x1e000000, 4));
}

TEST(PageImage, ResolutionStoresDpiAndPixelsPerMetre) {
    PageImage image;
    EXPECT_EQ(image.Resolution(PageImage::Horizontal), 96);
    EXPECT_EQ(image.Header().biXPelsPerMeter, 3780);
    image.SetResolution(PageImage::Horizontal, 300);
    EXPECT_EQ(image.Header().biXPelsPerMeter, 11811);
    image.SetResolution(PageImage::Horizontal, 0);
    image.SetResolution(PageImage::Vertical, -20);
    EXPECT_EQ(image.Resolution(PageImage::Horizontal), 96);
    EXPECT_EQ(image.Resolution(PageImage::Vertical), 96);
    EXPECT_EQ(image.Header().biXPelsPerMeter, 3780);
    EXPECT_EQ(image.Header().biYPelsPerMeter, 3780);
    ASSERT_NE(image.Allocate(2, 2, 8, 0), nullptr);
    image.SetResolution(PageImage::Vertical, 72);
    const auto *header = reinterpret_cast<const render::BitmapInfoHeader *>(image.DibBlock());
    EXPECT_EQ(header->biYPelsPerMeter, 2835);
}

TEST(PageImage, PixelAtReadsEveryDepthAndFallsBackOutside) {
    PageImage image;
    ASSERT_NE(image.Allocate(3, 2, 24, 0), nullptr);
    uint8_t *bottom = image.Row(0), *top = image.Row(1);
    bottom[0] = 1, bottom[1] = 2, bottom[2] = 3;  // (0, 0): blue 1, green 2, red 3
    top[3] = 9, top[4] = 8, top[5] = 7;
    EXPECT_EQ(image.PixelAt(0, 0, true), (RgbQuad{1, 2, 3, 0}));
    EXPECT_EQ(image.PixelAt(1, 1, true), (RgbQuad{9, 8, 7, 0}));
    for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, 2}, {0, -5}})
        EXPECT_EQ(image.PixelAt(x, y, false), (RgbQuad{1, 2, 3, 0}));
    image.SetBackgroundIndex(0);
    image.SetBackgroundColour(RgbQuad{50, 60, 70, 0});
    EXPECT_EQ(image.PixelAt(7, 7, false), (RgbQuad{50, 60, 70, 0}));

    PageImage mono;
    ASSERT_NE(mono.Allocate(10, 1, 1, 0), nullptr);
    mono.Palette()[1] = RgbQuad{255, 255, 255, 0};
    mono.Row(0)[1] = 0x40;  // pixel 9 is index 1
    mono.Row(0)[0] = 0x80;  // pixel 0 is index 1
    EXPECT_EQ(mono.PixelAt(0, 0, false).red, 255);
    EXPECT_EQ(mono.PixelAt(1, 0, false).red, 0);
    EXPECT_EQ(mono.PixelAt(9, 0, false).red, 255);

    PageImage nibbles;
    ASSERT_NE(nibbles.Allocate(3, 1, 4, 0), nullptr);
    nibbles.Palette()[5] = RgbQuad{5, 5, 5, 0};
    nibbles.Palette()[10] = RgbQuad{10, 10, 10, 0};
    nibbles.Row(0)[0] = 0x5a;
    EXPECT_EQ(nibbles.PixelAt(0, 0, false).blue, 5);
    EXPECT_EQ(nibbles.PixelAt(1, 0, false).blue, 10);
    nibbles.SetBackgroundIndex(10);
    EXPECT_EQ(nibbles.PixelAt(-1, 0, false).blue, 10);
}

TEST(PageImage, BorrowedImagesFreeNothingAndClearingEmpties) {
    PageImage owner;
    ASSERT_NE(owner.Allocate(4, 4, 8, 0), nullptr);
    auto view = PageImage::Borrow(owner);
    EXPECT_TRUE(view->IsBorrowed());
    EXPECT_EQ(view->DibBlock(), owner.DibBlock());
    EXPECT_FALSE(view->Clear());
    EXPECT_FALSE(view->ClearFrames());
    EXPECT_EQ(view->Allocate(2, 2, 8, 0), nullptr);
    EXPECT_FALSE(view->FromBitmap(owner.ToBitmap().get()));
    EXPECT_TRUE(owner.HasPixels());
    view.reset();
    EXPECT_TRUE(owner.ClearFrames());
    EXPECT_TRUE(owner.Clear());
    EXPECT_FALSE(owner.HasPixels());
    EXPECT_EQ(owner.Row(0), nullptr);
}

TEST(PageImage, BitmapsCarryThePixelsBothWays) {
    auto image = ImageOf(testimages::Pattern(7, 5));
    render::BitmapHandle bitmap = image->ToBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->width, 7);
    EXPECT_EQ(bitmap->height, 5);
    EXPECT_EQ(bitmap->bitsPerPixel, 24);
    EXPECT_EQ(bitmap->stride, 24);
    PageImage copy;
    ASSERT_TRUE(copy.FromBitmap(bitmap.get()));
    EXPECT_EQ(std::memcmp(copy.Row(0), image->Row(0), image->Header().biSizeImage), 0);

    PageImage palette;
    ASSERT_NE(palette.Allocate(3, 3, 8, 0), nullptr);
    palette.Palette()[2] = RgbQuad{1, 2, 3, 0};
    std::memset(palette.Row(0), 2, palette.Header().biSizeImage);
    PageImage back;
    ASSERT_TRUE(back.FromBitmap(palette.ToBitmap().get()));
    EXPECT_EQ(back.PixelAt(1, 1, false), (RgbQuad{1, 2, 3, 0}));
    std::vector<RgbQuad> other(256, RgbQuad{9, 9, 9, 0});
    ASSERT_TRUE(back.FromBitmap(palette.ToBitmap().get(), &other));
    EXPECT_EQ(back.PixelAt(1, 1, false), (RgbQuad{9, 9, 9, 0}));

    EXPECT_FALSE(back.FromBitmap(nullptr));
    EXPECT_EQ(PageImage().ToBitmap(), nullptr);
}

// ---- painting ----

QRgb Reference(const PageImage &image, int w, int h, int k, int r, bool smooth);

// Paints `image` into a fresh picture of `canvas` size filled with a
// marker colour.
QImage PaintInto(const PageImage &image, QSize canvas, QRect dest, bool smooth, const QRect *clip = nullptr) {
    QImage out(canvas, QImage::Format_RGB32);
    out.fill(qRgb(1, 2, 3));
    QPainter painter(&out);
    image.Paint(painter, dest, clip, smooth);
    painter.end();
    return out;
}

int ChannelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// The colour of source pixel (x, stored row y).
std::array<double, 3> Src(const PageImage &image, int x, int y) {
    x = std::clamp(x, 0, int(image.Width()) - 1);
    y = std::clamp(y, 0, int(image.Height()) - 1);
    RgbQuad q = image.PixelAt(x, y, false);
    return {double(q.red), double(q.green), double(q.blue)};
}

// The formulas taken literally, one destination pixel at a time.
QRgb Reference(const PageImage &image, int w, int h, int k, int r, bool smooth) {
    const int W = int(image.Width()), H = int(image.Height());
    const double fx = double(float(W) / float(w)), fy = double(float(H) / float(h));
    const double sx = k * fx, sy = H - (r + 1) * fy;
    std::array<double, 3> c{0, 0, 0};
    if (w == W && h == H) {
        c = Src(image, k, H - 1 - r);
    } else if (!smooth) {
        c = Src(image, std::max(0, int(std::floor(sx))), std::max(0, int(std::floor(sy))));
    } else if (fx > 1 && fy > 1) {
        double area = 0;
        for (int y = int(std::floor(sy)); y < int(std::ceil(sy + fy)); ++y)
            for (int x = int(std::floor(sx)); x < int(std::ceil(sx + fx)); ++x) {
                const double wx = std::min(sx + fx, x + 1.0) - std::max(sx, double(x));
                const double wy = std::min(sy + fy, y + 1.0) - std::max(sy, double(y));
                if (wx <= 0 || wy <= 0)
                    continue;
                auto p = Src(image, x, y);
                for (int i = 0; i < 3; ++i)
                    c[size_t(i)] += p[size_t(i)] * wx * wy;
                area += wx * wy;
            }
        for (double &v : c)
            v /= area;
    } else {
        const double px = std::clamp(sx - 0.5, 0.0, W - 1.0), py = std::clamp(sy - 0.5, 0.0, H - 1.0);
        const int x0 = int(std::floor(px)), y0 = int(std::floor(py));
        const double tx = px - x0, ty = py - y0;
        auto a = Src(image, x0, y0), b = Src(image, x0 + 1, y0), d = Src(image, x0, y0 + 1),
             e = Src(image, x0 + 1, y0 + 1);
        for (size_t i = 0; i < 3; ++i)
            c[i] = (a[i] * (1 - tx) + b[i] * tx) * (1 - ty) + (d[i] * (1 - tx) + e[i] * tx) * ty;
    }
    return qRgb(int(std::lround(c[0])), int(std::lround(c[1])), int(std::lround(c[2])));
}

void ExpectMatchesReference(const PageImage &image, const QImage &out, QRect dest, bool smooth) {
    int worst = 0;
    QPoint where;
    for (int r = 0; r < dest.height(); ++r)
        for (int k = 0; k < dest.width(); ++k) {
            const QPoint at = dest.topLeft() + QPoint(k, r);
            if (!out.rect().contains(at))
                continue;
            const int d = ChannelDistance(out.pixel(at), Reference(image, dest.width(), dest.height(), k, r, smooth));
            if (d > worst) {
                worst = d;
                where = QPoint(k, r);
            }
        }
    EXPECT_LE(worst, 1) << "at " << where.x() << "," << where.y() << " of " << dest.width() << "x" << dest.height()
                        << (smooth ? " smooth" : " nearest");
}

TEST(PageImagePaint, AtItsOwnSizeThePixelsAreCopiedUnchanged) {
    testimages::Picture p = testimages::Pattern(37, 23);
    auto image = ImageOf(p);
    QImage out = PaintInto(*image, QSize(50, 30), QRect(5, 4, 37, 23), true);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(out.pixel(5 + x, 4 + y), qRgb(p.At(x, y)[0], p.At(x, y)[1], p.At(x, y)[2])) << x << "," << y;
    EXPECT_EQ(out.pixel(4, 4), qRgb(1, 2, 3));  // outside the rectangle: untouched
    EXPECT_EQ(out.pixel(42, 27), qRgb(1, 2, 3));
    // A negative size means the image's own size.
    QImage own = PaintInto(*image, QSize(37, 23), QRect(0, 0, -1, -1), false);
    EXPECT_EQ(own.pixel(36, 22), qRgb(p.At(36, 22)[0], p.At(36, 22)[1], p.At(36, 22)[2]));
}

TEST(PageImagePaint, SmoothReductionAveragesTheAreaLikeTheFormula) {
    auto image = ImageOf(testimages::Photo(129, 167));
    for (QSize size : {QSize(61, 79), QSize(43, 50), QSize(64, 83), QSize(10, 10)}) {
        QRect dest(QPoint(3, 2), size);
        ExpectMatchesReference(*image, PaintInto(*image, QSize(80, 90), dest, true), dest, true);
    }
    auto pattern = ImageOf(testimages::Pattern(40, 30));
    QRect dest(0, 0, 17, 11);
    ExpectMatchesReference(*pattern, PaintInto(*pattern, QSize(20, 20), dest, true), dest, true);
}

TEST(PageImagePaint, SmoothEnlargementAndMixedScalesInterpolateBilinearly) {
    auto image = ImageOf(testimages::Photo(41, 29));
    for (QSize size : {QSize(95, 67), QSize(41 * 3, 29 * 3), QSize(20, 60), QSize(60, 20), QSize(42, 29)}) {
        QRect dest(QPoint(1, 1), size);
        ExpectMatchesReference(*image, PaintInto(*image, QSize(130, 100), dest, true), dest, true);
    }
}

TEST(PageImagePaint, WithoutSmoothingTheNearestPixelIsTaken) {
    auto image = ImageOf(testimages::Pattern(23, 17));
    for (QSize size : {QSize(50, 40), QSize(11, 9), QSize(23, 40)}) {
        QRect dest(QPoint(0, 0), size);
        ExpectMatchesReference(*image, PaintInto(*image, QSize(60, 50), dest, false), dest, false);
    }
}

TEST(PageImagePaint, PaletteImagesPaintThroughTheirPalette) {
    PageImage image;
    ASSERT_NE(image.Allocate(8, 4, 4, 0), nullptr);
    for (uint32_t i = 0; i < 16; ++i)
        image.Palette()[i] = RgbQuad{uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i), 0};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            image.Row(y)[x] = uint8_t(((x * 2 + y) << 4) | (x * 2 + 1 + y));
    for (bool smooth : {false, true}) {
        for (QSize size : {QSize(8, 4), QSize(16, 8), QSize(5, 3)}) {
            QRect dest(QPoint(0, 0), size);
            ExpectMatchesReference(image, PaintInto(image, QSize(20, 10), dest, smooth), dest, smooth);
        }
    }
}

TEST(PageImagePaint, OnlyTheVisiblePartIsComputedAndDrawn) {
    auto image = ImageOf(testimages::Photo(200, 100));
    // The destination hangs off the canvas on every side.
    QRect dest(-30, -20, 260, 140);
    QImage out = PaintInto(*image, QSize(150, 90), dest, true);
    ExpectMatchesReference(*image, out, dest, true);
    // A clip rectangle limits the drawing to itself.
    QRect clip(10, 10, 20, 15);
    QImage clipped = PaintInto(*image, QSize(150, 90), dest, true, &clip);
    EXPECT_EQ(clipped.pixel(9, 9), qRgb(1, 2, 3));
    EXPECT_EQ(clipped.pixel(30, 25), qRgb(1, 2, 3));
    EXPECT_EQ(clipped.pixel(15, 15), out.pixel(15, 15));
    // A painter clip works the same way.
    QImage viaPainter(QSize(150, 90), QImage::Format_RGB32);
    viaPainter.fill(qRgb(1, 2, 3));
    QPainter painter(&viaPainter);
    painter.setClipRect(clip);
    image->Paint(painter, dest, nullptr, true);
    painter.end();
    EXPECT_EQ(viaPainter, clipped);
}

TEST(PageImagePaint, NothingIsDrawnForEmptyDisabledOrZeroSized) {
    auto image = ImageOf(testimages::Pattern(10, 10));
    QImage canvas(20, 20, QImage::Format_RGB32);
    canvas.fill(qRgb(1, 2, 3));
    QImage before = canvas;
    QPainter painter(&canvas);
    image->Paint(painter, 0, 0, 0, 10, nullptr, true);
    image->Paint(painter, 0, 0, 10, 0, nullptr, true);
    image->SetEnabled(false);
    image->Paint(painter, 0, 0, 10, 10, nullptr, true);
    PageImage().Paint(painter, 0, 0, 10, 10, nullptr, true);
    painter.end();
    EXPECT_EQ(canvas, before);
}

}  // namespace
