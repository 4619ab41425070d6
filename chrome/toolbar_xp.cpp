#include "chrome/toolbar_xp.h"

#include <QActionEvent>
#include <QPainter>
#include <QStyleOption>
#include <QToolButton>

namespace chrome {

FlatToolBarStyle::FlatToolBarStyle() : QProxyStyle() {}

void FlatToolBarStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                     const QWidget *widget) const {
    const ToolBarColours c = DeriveToolBarColours(option->palette);
    const QRect r = option->rect;
    switch (element) {
    case PE_PanelToolBar:
        painter->fillRect(r, c.background);
        return;
    case PE_IndicatorToolBarHandle: {
        // Short dashes on every second row (a bar lying across) or column.
        painter->fillRect(r, c.background);
        painter->setPen(c.gripper);
        if (option->state & State_Horizontal) {
            for (int y = r.top() + 6; y < r.bottom() - 6; y += 2)
                painter->drawLine(r.left() + 4, y, r.left() + 6, y);
        } else {
            for (int x = r.left() + 6; x < r.right() - 6; x += 2)
                painter->drawLine(x, r.top() + 4, x, r.top() + 6);
        }
        return;
    }
    case PE_IndicatorToolBarSeparator:
        painter->setPen(c.separator);
        if (option->state & State_Horizontal) {
            const int x = (r.left() + r.right()) / 2 - 1;
            painter->drawLine(x, r.top() + 2, x, r.bottom() - 2);
        } else {
            const int y = (r.top() + r.bottom()) / 2 - 1;
            painter->drawLine(r.left() + 2, y, r.right() - 2, y);
        }
        return;
    default:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void FlatToolBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                          const QWidget *widget) const {
    const auto *button = qstyleoption_cast<const QStyleOptionToolButton *>(option);
    if (control != CC_ToolButton || !button) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const ToolBarColours c = DeriveToolBarColours(option->palette);
    const QRect r = option->rect;
    const bool enabled = option->state & State_Enabled;
    const bool hot = enabled && (option->state & State_MouseOver);
    const bool checked = option->state & State_On;
    const bool pressed = enabled && (option->state & State_Sunken);
    painter->fillRect(r, c.background);
    if (hot || checked || pressed) {
        const QColor fill = pressed || (hot && checked) ? c.pressedFill : hot ? c.hotFill : c.checkedFill;
        painter->fillRect(r, fill);
        painter->setPen(c.frame);
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    }
    // The picture sits at 3, 3 and lifts to 2, 2 under the pointer.
    const QSize size = button->iconSize;
    const QIcon::Mode mode = !enabled ? QIcon::Disabled : QIcon::Normal;
    QPixmap picture = button->icon.pixmap(size, 1.0, mode, checked ? QIcon::On : QIcon::Off);
    if (!enabled)
        picture = generatedIconPixmap(QIcon::Disabled, button->icon.pixmap(size), option);
    const int lift = hot && !pressed ? 2 : 3;
    const QPoint at(r.left() + (r.width() - size.width()) / 2 + lift - 3,
                    r.top() + (r.height() - size.height()) / 2 + lift - 3);
    painter->drawPixmap(at, picture);
}

QPixmap FlatToolBarStyle::generatedIconPixmap(QIcon::Mode mode, const QPixmap &pixmap,
                                              const QStyleOption *option) const {
    if (mode != QIcon::Disabled || !option)
        return QProxyStyle::generatedIconPixmap(mode, pixmap, option);
    return CToolBarXP::DisabledPixmap(pixmap, option->palette);
}

QSize FlatToolBarStyle::sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                                         const QWidget *widget) const {
    if (type == CT_ToolButton)
        if (const auto *button = qstyleoption_cast<const QStyleOptionToolButton *>(option))
            if (button->toolButtonStyle == Qt::ToolButtonIconOnly && !button->iconSize.isEmpty())
                return button->iconSize + QSize(6, 6);
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

int FlatToolBarStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const {
    switch (metric) {
    case PM_ToolBarItemSpacing:
        return 0;
    case PM_ToolBarSeparatorExtent:
        return 8;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

CToolBarXP::CToolBarXP(const QString &title, QWidget *parent)
    : QToolBar(title, parent), m_style(std::make_unique<FlatToolBarStyle>()) {
    setStyle(m_style.get());
    setIconSize(QSize(48, 48));
    setAttribute(Qt::WA_StyledBackground);
}

QPixmap CToolBarXP::DisabledPixmap(const QPixmap &pixmap, const QPalette &palette) {
    const QColor tint = DisabledTint(palette.color(QPalette::Button));
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = DisabledPixel(row[x], tint);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(pixmap.devicePixelRatio());
    return result;
}

void CToolBarXP::actionEvent(QActionEvent *event) {
    QToolBar::actionEvent(event);
    // The buttons the bar makes for its actions draw in its style.
    if (event->type() == QEvent::ActionAdded)
        if (QWidget *button = widgetForAction(event->action()))
            button->setStyle(m_style.get());
}

}  // namespace chrome
