#include "panes/left_view.h"

#include <QResizeEvent>

namespace panes {

CLeftView::CLeftView(crop::COrvaneDoc &document, QWidget *parent) : QWidget(parent) {
    m_thumbs = new CThumbnailListCtrl(document, this);
    setFocusProxy(m_thumbs);
}

void CLeftView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    m_thumbs->setGeometry(0, 0, event->size().width(), event->size().height());
}

}  // namespace panes
