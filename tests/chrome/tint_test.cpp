// The flat toolbar's colour arithmetic, against values worked out by hand
// from its steps (hue, lightness and saturation as bytes; whole-step
// percentages; back to red, green and blue truncated).

#include "chrome/tint.h"

#include <gtest/gtest.h>

namespace {

using chrome::TintColor;

::testing::AssertionResult Is(const QColor &c, int r, int g, int b) {
    if (c.red() == r && c.green() == g && c.blue() == b)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << c.red() << ", " << c.green() << ", " << c.blue() << ") is not (" << r
                                         << ", " << g << ", " << b << ")";
}

TEST(TintTest, AGreyFaceMovesInWholeStepsAndStaysGrey) {
    const QColor face(240, 240, 240);
    EXPECT_TRUE(Is(TintColor(face, 20, 0), 243, 243, 243));   // 240 + 15 x 20 / 100
    EXPECT_TRUE(Is(TintColor(face, -15, 0), 204, 204, 204));  // 240 x 85 / 100
    EXPECT_TRUE(Is(TintColor(face, -27, 0), 175, 175, 175));  // 240 x 73 / 100, truncated
    EXPECT_TRUE(Is(TintColor(face, -20, 0), 192, 192, 192));
    EXPECT_TRUE(Is(TintColor(face, 0, 0), 240, 240, 240));
    // A dark theme's face.
    EXPECT_TRUE(Is(TintColor(QColor(53, 53, 53), 20, 0), 93, 93, 93));  // 53 + 202 x 20 / 100
    EXPECT_TRUE(Is(TintColor(QColor(0, 0, 0), -50, 0), 0, 0, 0));
    EXPECT_TRUE(Is(TintColor(QColor(255, 255, 255), 50, 0), 255, 255, 255));
}

TEST(TintTest, AHighlightIsPaledAndItsHueKeptToAByte) {
    const QColor highlight(0, 120, 215);
    // Hue 206.5 degrees (byte 146), lightness byte 107, saturation 255.
    EXPECT_TRUE(Is(TintColor(highlight, 70, -57), 190, 212, 229));  // a hot button's fill
    EXPECT_TRUE(Is(TintColor(highlight, 50, -50), 144, 185, 217));  // a pressed button's fill
    // Red the largest: hue 340 degrees becomes byte 240, 338.8 degrees
    // back, so blue comes out 102, not 100.
    EXPECT_TRUE(Is(TintColor(QColor(200, 50, 100), 0, 0), 200, 50, 102));
}

TEST(TintTest, TheToolBarsColoursComeFromThePalette) {
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(240, 240, 240));
    palette.setColor(QPalette::Highlight, QColor(0, 120, 215));
    palette.setColor(QPalette::Shadow, QColor(10, 20, 30));
    const chrome::ToolBarColours c = chrome::DeriveToolBarColours(palette);
    EXPECT_TRUE(Is(c.background, 243, 243, 243));
    EXPECT_TRUE(Is(c.separator, 204, 204, 204));
    EXPECT_TRUE(Is(c.hotFill, 190, 212, 229));
    EXPECT_TRUE(Is(c.pressedFill, 144, 185, 217));
    EXPECT_TRUE(Is(c.frame, 0, 120, 215));
    EXPECT_TRUE(Is(c.indeterminateFrame, 10, 20, 30));
    EXPECT_TRUE(Is(c.embossed, 175, 175, 175));
    EXPECT_TRUE(Is(c.embossedIndeterminate, 192, 192, 192));
    EXPECT_TRUE(Is(c.gripper, 148, 146, 179));

    // Disabled images: the face 115/255 of the way to white (rounded), and
    // each pixel (tint x 95 + grey x 160) / 256.
    const QColor tint = chrome::DisabledTint(QColor(240, 240, 240));
    EXPECT_TRUE(Is(tint, 247, 247, 247));                              // 240 + 15 x 115 / 255 = 246.76
    const QRgb pixel = chrome::DisabledPixel(qRgb(30, 60, 90), tint);  // grey 60
    EXPECT_EQ(qRed(pixel), (247 * 95 + 60 * 160) / 256);
    EXPECT_EQ(qRed(pixel), 129);
    EXPECT_EQ(qGreen(pixel), 129);
}

}  // namespace
