// The shrink scan on pictures made in memory: its exact bounds, clamping,
// backwards rectangles and the search without a result.

#include "crop/detect/shrink.h"

#include <gtest/gtest.h>

#include <cstring>

using crop::CropRect;
using crop::ShrinkToContent;

namespace {

// A white picture of w x h pixels at 24 bits.
struct Picture {
    Picture(int w, int h) {
        EXPECT_NE(image.Allocate(uint32_t(w), uint32_t(h), 24, render::kFormatBmp), nullptr);
        std::memset(image.Row(0), 255, size_t(image.Stride()) * uint32_t(h));
    }
    // Pixel (x, y) with y from the top.
    void Set(int x, int y, uint8_t grey = 0) {
        uint8_t *px = image.Row(image.Height() - 1 - uint32_t(y)) + 3 * x;
        px[0] = px[1] = px[2] = grey;
    }
    render::PageImage image;
};

TEST(Shrink, ASinglePixelGivesItsRowAndLeavesTheColumnsUnsearched) {
    Picture p(400, 500);
    p.Set(100, 200);
    // One pixel per point: the picture is as big as the page.
    const auto r = ShrinkToContent(p.image, QSize(400, 500), CropRect{50.5, 60.7, 300, 400});
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (CropRect{50, 200, 300, 201}));
}

TEST(Shrink, FindsABlockAndScalesBackToPoints) {
    Picture p(800, 1000);  // two pixels per point
    for (int y = 300; y < 500; ++y)
        for (int x = 100; x < 600; ++x)
            p.Set(x, y, 254);  // anything short of pure white is content
    const auto r = ShrinkToContent(p.image, QSize(400, 500), CropRect{10, 10, 390, 490});
    ASSERT_TRUE(r);
    // The last content column and row are inside.
    EXPECT_EQ(*r, (CropRect{50, 150, 300, 250}));
    // Shrinking again keeps it, even after the file's two decimals.
    EXPECT_EQ(ShrinkToContent(p.image, QSize(400, 500), CropRect{50, 150, 299.996, 250.004}), r);
}

TEST(Shrink, AWhiteAreaIsSnappedToPixelsAndClampedToThePicture) {
    Picture p(400, 500);
    const auto r = ShrinkToContent(p.image, QSize(400, 500), CropRect{-20.5, 10.9, 650, 120.2});
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (CropRect{0, 10, 399, 120}));
}

TEST(Shrink, ARectangleDrawnBackwardsFindsNothingAndComesBackAsItsClampedCorners) {
    Picture p(400, 500);
    p.Set(150, 150);
    const auto r = ShrinkToContent(p.image, QSize(400, 500), CropRect{300.4, 250.6, 100.2, 50.8});
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (CropRect{300, 250, 100, 50}));
}

TEST(Shrink, ASearchThatEndsAtTheTopLeftCornerWithTheWholeAreaOrOnePixelHasNoResult) {
    Picture p(400, 500);
    p.Set(0, 0);
    // Content at the corner: with every later scan empty the search ends
    // at (0, 0) both ways.
    EXPECT_EQ(ShrinkToContent(p.image, QSize(400, 500), CropRect{0, 0, 0.5, 5}), std::nullopt);
    // The bottom scan does not look past the top row found; the left and
    // right scans do not look at the bottom row.
    EXPECT_EQ(ShrinkToContent(p.image, QSize(400, 500), CropRect{0, 0, 200, 200}), (CropRect{0, 0, 200, 1}));
    p.Set(50, 60);
    EXPECT_EQ(ShrinkToContent(p.image, QSize(400, 500), CropRect{0, 0, 200, 200}), (CropRect{0, 0, 1, 61}));
    // ... or ends with the whole clamped area, last column and row.
    p.Set(199, 100);
    p.Set(10, 199);
    EXPECT_EQ(ShrinkToContent(p.image, QSize(400, 500), CropRect{0, 0, 200, 200}), std::nullopt);
    EXPECT_EQ(ShrinkToContent(render::PageImage(), QSize(10, 10), CropRect{1, 1, 5, 5}), std::nullopt);
}

TEST(Shrink, APictureWithAPaletteIsReadThroughIt) {
    render::PageImage image;
    ASSERT_NE(image.Allocate(40, 30, 8, render::kFormatPng), nullptr);
    render::RgbQuad *palette = image.Palette();
    ASSERT_NE(palette, nullptr);
    palette[0] = {255, 255, 255, 0};
    palette[1] = {255, 255, 254, 0};  // nearly white is content
    std::memset(image.Row(0), 0, size_t(image.Stride()) * 30);
    image.Row(30 - 1 - 12)[25] = 1;  // (25, 12)
    image.Row(30 - 1 - 15)[5] = 1;   // (5, 15)
    image.Row(30 - 1 - 20)[7] = 1;   // (7, 20)
    EXPECT_EQ(ShrinkToContent(image, QSize(40, 30), CropRect{2, 2, 38, 28}), (CropRect{5, 12, 26, 21}));
}

}  // namespace
