#include "chrome/tint.h"

#include <algorithm>
#include <cmath>

namespace chrome {
namespace {

// Whole bytes from fractions: a hair added before truncating, so that a
// value that is a whole number in exact arithmetic (480 / 510 x 255 is 240)
// does not lose a step to rounding in binary.
constexpr double kHair = 1e-9;
int Byte(double value) { return std::clamp(int(std::trunc(value + kHair)), 0, 255); }

int Adjust(int value, int percent) {
    if (percent > 0)
        return value + (255 - value) * percent / 100;
    if (percent < 0)
        return value * (percent + 100) / 100;
    return value;
}

double Channel(double m1, double m2, double hue) {
    while (hue < 0)
        hue += 360;
    while (hue >= 360)
        hue -= 360;
    if (hue < 60)
        return m1 + (m2 - m1) * hue / 60;
    if (hue < 180)
        return m2;
    if (hue < 240)
        return m1 + (m2 - m1) * (240 - hue) / 60;
    return m1;
}

}  // namespace

QColor TintColor(const QColor &colour, int lightnessPercent, int saturationPercent) {
    const int red = colour.red(), green = colour.green(), blue = colour.blue();
    const int max = std::max({red, green, blue}), min = std::min({red, green, blue});
    const double lightness = (max + min) / 510.0;
    double hue = 0, saturation = 0;
    if (max != min) {
        const double spread = max - min;
        saturation = lightness <= 0.5 ? spread / (max + min) : spread / (510.0 - max - min);
        if (blue == max)
            hue = (4 + (red - green) / spread) * 60;
        else if (green == max)
            hue = (2 + (blue - red) / spread) * 60;
        else
            hue = (6 + (green - blue) / spread) * 60;
        if (hue > 360)
            hue -= 360;
    }
    const int hueByte = Byte(hue * 255 / 360);
    const int l = Adjust(Byte(lightness * 255), lightnessPercent);
    const int s = Adjust(Byte(saturation * 255), saturationPercent);

    if (s == 0)
        return QColor(l, l, l);
    const double L = l / 255.0, S = s / 255.0, h = hueByte * 360.0 / 255;
    const double m2 = L <= 0.5 ? L * (1 + S) : L + S - L * S;
    const double m1 = 2 * L - m2;
    return QColor(Byte(Channel(m1, m2, h + 120) * 255), Byte(Channel(m1, m2, h) * 255),
                  Byte(Channel(m1, m2, h - 120) * 255));
}

ToolBarColours DeriveToolBarColours(const QPalette &palette) {
    const QColor face = palette.color(QPalette::Button);
    const QColor highlight = palette.color(QPalette::Highlight);
    ToolBarColours c;
    c.background = TintColor(face, 20, 0);
    c.separator = TintColor(face, -15, 0);
    c.pressedFill = TintColor(highlight, 50, -50);
    c.hotFill = TintColor(highlight, 70, -57);
    c.checkedFill = TintColor(highlight, 80, -66);
    c.frame = highlight;
    c.indeterminateFrame = palette.color(QPalette::Shadow);
    c.embossed = TintColor(face, -27, 0);
    c.embossedIndeterminate = TintColor(face, -20, 0);
    c.gripper = QColor(148, 146, 179);
    return c;
}

QColor DisabledTint(const QColor &face) {
    auto toWhite = [](int c) { return c + int(std::lround((255 - c) * 115 / 255.0)); };
    return QColor(toWhite(face.red()), toWhite(face.green()), toWhite(face.blue()));
}

QRgb DisabledPixel(QRgb pixel, const QColor &tint) {
    const int grey = (qRed(pixel) + qGreen(pixel) + qBlue(pixel)) / 3;
    auto mix = [grey](int t) { return (t * 95 + grey * 160) / 256; };
    return qRgba(mix(tint.red()), mix(tint.green()), mix(tint.blue()), qAlpha(pixel));
}

}  // namespace chrome
