#include "chrome/link_static.h"

#include "platform/dialogs.h"
#include "platform/link_opener.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>

namespace chrome {

CLinkStatic::CLinkStatic(const QString &text, QWidget *parent)
    : QLabel(text, parent), m_hover(palette().color(QPalette::Highlight)) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);  // centred only when asked for
    setCursor(Qt::PointingHandCursor);
    setAutoFillBackground(false);  // the dialog's background shows through
    // An empty target is the text; an empty text shows the target.
    m_target = text;
    ApplyLook();
}

QColor CLinkStatic::TextColour() const {
    if (m_over)
        return m_hover;
    return QColor::fromRgb(m_visited ? kVisitedColour : kLinkColour);
}

void CLinkStatic::ApplyLook() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, TextColour());
    setPalette(p);
    QFont f = font();
    f.setUnderline(m_underline);
    setFont(f);
    setToolTip(m_target);
    update();
}

void CLinkStatic::SetLinkTarget(const QString &target) {
    m_target = target;
    if (text().isEmpty())
        setText(target);
    setToolTip(target);
    FitToText();
}

void CLinkStatic::MarkVisited(bool visited) {
    m_visited = visited;
    ApplyLook();
}

void CLinkStatic::SetUnderlined(bool underlined) {
    m_underline = underlined;
    ApplyLook();
    FitToText();
}

void CLinkStatic::FitToText() {
    if (!m_fitToText)
        return;
    QRect r = geometry();
    const QSize textSize = QFontMetrics(font()).size(Qt::TextSingleLine, text());
    const Qt::Alignment a = alignment();
    if (a & Qt::AlignVCenter)
        r.adjust(0, (r.height() - textSize.height()) / 2, 0, -(r.height() - textSize.height()) / 2);
    else
        r.setHeight(textSize.height());
    if (a & Qt::AlignHCenter) {
        const int shrink = (r.width() - textSize.width()) / 2;
        r.adjust(shrink, 0, -shrink, 0);
    } else if (a & Qt::AlignRight) {
        r.setLeft(r.right() + 1 - textSize.width());
    } else {
        r.setWidth(textSize.width());
    }
    setGeometry(r);
}

void CLinkStatic::enterEvent(QEnterEvent *event) {
    QLabel::enterEvent(event);
    m_over = true;
    ApplyLook();
}

void CLinkStatic::leaveEvent(QEvent *event) {
    QLabel::leaveEvent(event);
    m_over = false;
    ApplyLook();
}

void CLinkStatic::mouseReleaseEvent(QMouseEvent *event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    const int code = platform::OpenLink(m_target);
    if (code > 32) {
        MarkVisited(true);
        emit Opened(true);
        return;
    }
    // A failure clears the flag; the colour stays until the next repaint.
    m_visited = false;
    QApplication::beep();
    platform::ShowMessage("Orvane", platform::UnableToOpenText(code, true).toStdString(),
                          platform::MessageIcon::Warning);
    emit Opened(false);
}

}  // namespace chrome
