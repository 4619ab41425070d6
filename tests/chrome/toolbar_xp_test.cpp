// The flat toolbar drawn for real: its background, a disabled picture as
// a tinted grey copy, and the fill and frame of the button under the
// pointer, all from the palette.

#include "chrome/toolbar_xp.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

using chrome::CToolBarXP;

QIcon SolidIcon(QColor colour) {
    QPixmap p(48, 48);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.fillRect(8, 8, 32, 32, colour);
    return QIcon(p);
}

TEST(ToolBarXpTest, ButtonsAreDrawnFlatWithTheirStatesColours) {
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(240, 240, 240));
    palette.setColor(QPalette::Highlight, QColor(0, 120, 215));
    CToolBarXP bar(QStringLiteral("Standard"));
    bar.setPalette(palette);
    // The disabled one first, where a pointer at the corner would be: it
    // never looks hot.
    QAction *off = bar.addAction(SolidIcon(QColor(200, 40, 40)), QStringLiteral("Off"));
    QAction *on = bar.addAction(SolidIcon(QColor(200, 40, 40)), QStringLiteral("On"));
    off->setEnabled(false);
    bar.resize(300, 60);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    const chrome::ToolBarColours c = bar.Colours();
    auto *onButton = qobject_cast<QToolButton *>(bar.widgetForAction(on));
    auto *offButton = qobject_cast<QToolButton *>(bar.widgetForAction(off));
    ASSERT_TRUE(onButton && offButton);

    const QImage normal = onButton->grab().toImage();
    EXPECT_EQ(QColor(normal.pixel(1, 1)), c.background);  // the lightened face round the picture
    const QImage disabled = offButton->grab().toImage();
    const QPoint middle(disabled.width() / 2, disabled.height() / 2);
    const QRgb expected = chrome::DisabledPixel(qRgb(200, 40, 40), chrome::DisabledTint(QColor(240, 240, 240)));
    EXPECT_EQ(QColor(disabled.pixel(middle)), QColor(expected));  // grey (93) tinted: (247 x 95 + 93 x 160) / 256

    // Under the pointer: the highlight frame round a pale fill.
    QTest::mouseMove(onButton, QPoint(5, 5));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), onButton->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(onButton, &enter);
    onButton->repaint();
    const QImage hot = onButton->grab().toImage();
    EXPECT_EQ(QColor(hot.pixel(0, 0)), c.frame);
    EXPECT_EQ(QColor(hot.pixel(2, 2)), c.hotFill);
}

}  // namespace
