#ifndef CHROME_TINT_H
#define CHROME_TINT_H

#include <QColor>
#include <QPalette>

namespace chrome {

// Moves a colour's lightness and saturation by percentages: a positive p
// moves the value p % of the way to full, a negative p takes away -p % of
// it. Worked through hue, lightness and saturation held as bytes, in whole
// steps, so the flat toolbar's colours come out the same everywhere.
QColor TintColor(const QColor &colour, int lightnessPercent, int saturationPercent);

// The flat toolbar's colours, all derived from the palette when the bar
// is painted.
struct ToolBarColours {
    QColor background;          // button face, +20 % lightness
    QColor separator;           // button face, -15 %
    QColor pressedFill;         // highlight +50 %, saturation -50 % (also a hot checked button)
    QColor hotFill;             // highlight +70 %, -57 %
    QColor checkedFill;         // highlight +80 %, -66 %
    QColor frame;               // highlight
    QColor indeterminateFrame;  // the darkest shadow
    QColor embossed;            // button face -27 % (an indeterminate button: -20 %)
    QColor embossedIndeterminate;
    QColor gripper;  // RGB(148, 146, 179)
};
ToolBarColours DeriveToolBarColours(const QPalette &palette);

// The tint of the disabled images: the button face moved 115/255 of the
// way to white; and one pixel of an image recoloured with it.
QColor DisabledTint(const QColor &face);
QRgb DisabledPixel(QRgb pixel, const QColor &tint);

}  // namespace chrome

#endif
