#include "panes/outlier_list.h"

#include "crop/model/document.h"

#include <QListWidget>

namespace panes {

COutlierList::COutlierList(crop::COrvaneDoc &document, QWidget *parent)
    : QDockWidget(QStringLiteral("Pages to Check"), parent), m_document(document) {
    setObjectName(QStringLiteral("pagesToCheck"));
    m_list = new QListWidget(this);
    setWidget(m_list);
    connect(&m_document, &crop::COrvaneDoc::Changed, this, [this](crop::Changes changes) {
        if (changes & crop::Change::Outliers)
            Fill();
    });
    const auto show = [this](QListWidgetItem *item) {
        if (item)
            m_document.ShowPage(item->data(Qt::UserRole).toInt());
    };
    connect(m_list, &QListWidget::itemActivated, this, show);
    connect(m_list, &QListWidget::itemClicked, this, show);
    hide();
}

void COutlierList::Fill() {
    m_list->clear();
    for (const crop::Outlier &o : m_document.Whole().Outliers()) {
        auto *item =
            new QListWidgetItem(QStringLiteral("Page %1: %2").arg(o.page).arg(QString::fromStdString(o.brief)), m_list);
        item->setData(Qt::UserRole, o.page);
        item->setToolTip(QStringLiteral("Page %1 lies apart from most pages of the range: %2. Choose it to see it.")
                             .arg(o.page)
                             .arg(QString::fromStdString(o.reason)));
    }
    setVisible(m_list->count() > 0);
}

}  // namespace panes
