#ifndef CHROME_TOOLBAR_XP_H
#define CHROME_TOOLBAR_XP_H

#include "chrome/tint.h"

#include <QPixmap>
#include <QProxyStyle>
#include <QToolBar>

#include <memory>

namespace chrome {

// How the flat toolbar draws its parts; the colours come from the palette
// of the widget being drawn, each time it is drawn.
class FlatToolBarStyle : public QProxyStyle {
    Q_OBJECT
public:
    FlatToolBarStyle();
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
    QPixmap generatedIconPixmap(QIcon::Mode mode, const QPixmap &pixmap, const QStyleOption *option) const override;
    // A button is its picture with 3 pixels round it, and the buttons sit
    // side by side, so that the whole bar fits a 1024-pixel window.
    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
};

// The main window's toolbar in a flat, light look: a lightened button
// face behind the buttons, a highlight frame and a pale fill on the button
// under the pointer (its picture lifted by a pixel), stronger fills when
// pressed or checked, disabled pictures as tinted grey copies, and a
// gripper of short dashes. It follows the palette.
class CToolBarXP : public QToolBar {
    Q_OBJECT
public:
    explicit CToolBarXP(const QString &title, QWidget *parent = nullptr);
    ToolBarColours Colours() const { return DeriveToolBarColours(palette()); }
    // The disabled look of a picture: each pixel grey, tinted with the
    // button face moved toward white; transparency kept.
    static QPixmap DisabledPixmap(const QPixmap &pixmap, const QPalette &palette);

protected:
    void actionEvent(QActionEvent *event) override;

private:
    std::unique_ptr<FlatToolBarStyle> m_style;
};

}  // namespace chrome

#endif
