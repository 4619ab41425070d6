#ifndef PANES_LEFT_VIEW_H
#define PANES_LEFT_VIEW_H

#include "crop/model/document.h"
#include "panes/thumbnail_strip.h"

#include <QWidget>

namespace panes {

// The left pane. Its only child is the thumbnail strip, the page selector
// of the whole program; the document it shows belongs to the document
// model, which the strip observes and asks for pages.
class CLeftView : public QWidget {
    Q_OBJECT
public:
    explicit CLeftView(crop::COrvaneDoc &document, QWidget *parent = nullptr);

    CThumbnailListCtrl *Strip() const { return m_thumbs; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    CThumbnailListCtrl *m_thumbs = nullptr;
};

}  // namespace panes

#endif
