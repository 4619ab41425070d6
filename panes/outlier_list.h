#ifndef PANES_OUTLIER_LIST_H
#define PANES_OUTLIER_LIST_H

#include <QDockWidget>

class QListWidget;

namespace crop {
class COrvaneDoc;
}

namespace panes {

// "Pages to Check": the pages the last Shrink All Pages found far from the
// others (a full-page figure, a blank page, a stray mark), one line each.
// It appears when there are some; choosing a line shows that page.
class COutlierList : public QDockWidget {
    Q_OBJECT
public:
    explicit COutlierList(crop::COrvaneDoc &document, QWidget *parent = nullptr);
    QListWidget *List() const { return m_list; }

private:
    void Fill();

    crop::COrvaneDoc &m_document;
    QListWidget *m_list = nullptr;
};

}  // namespace panes

#endif
