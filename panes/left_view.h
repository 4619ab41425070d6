#ifndef PANES_LEFT_VIEW_H
#define PANES_LEFT_VIEW_H

#include <QWidget>

namespace panes {

// The left pane, home of the thumbnail strip.
class CLeftView : public QWidget {
    Q_OBJECT
public:
    explicit CLeftView(QWidget *parent = nullptr);
};

}  // namespace panes

#endif
