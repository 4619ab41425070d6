#include "panes/left_view.h"

namespace panes {

CLeftView::CLeftView(QWidget *parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

}  // namespace panes
