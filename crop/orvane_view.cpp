#include "crop/orvane_view.h"

#include "res/command_ids.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

namespace crop {

COrvaneView::COrvaneView(QWidget *parent) : QAbstractScrollArea(parent) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);  // no background erase
    setFocusPolicy(Qt::StrongFocus);
}

void COrvaneView::OnCommand(int id) {
    if (id == res::ID_AUTO_SHRINK) {
        m_autoShrink = !m_autoShrink;
        emit CommandStateChanged();
    }
}

void COrvaneView::paintEvent(QPaintEvent *event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Dark));
}

}  // namespace crop
