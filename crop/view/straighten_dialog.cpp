#include "crop/view/straighten_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace crop {

CStraightenDialog::Last CStraightenDialog::s_last;

CStraightenDialog::CStraightenDialog(int pageCount, QWidget *parent) : QDialog(parent), m_pageCount(pageCount) {
    setWindowTitle(QStringLiteral("Straighten Pages"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("Each page's skew is measured from its lines of print (or the edges of "
                                            "its blocks), and a page more than a tenth of a degree askew is drawn "
                                            "turned level. Its pictures stay as they are."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto *form = new QFormLayout;
    m_choice = PageChoice::AddTo(this, form, s_last.list, s_last.range);
    layout->addLayout(form);
    m_onlyScans = new QCheckBox(QStringLiteral("&Only scans (typeset pages stay as they are)"), this);
    layout->addWidget(m_onlyScans);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *go = buttons->addButton(QStringLiteral("&Straighten"), QDialogButtonBox::AcceptRole);
    go->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_onlyScans->setChecked(s_last.onlyScans);
}

void CStraightenDialog::done(int result) {
    if (result == QDialog::Accepted) {
        if (!m_choice.Check(m_pageCount, &m_chosen))
            return;  // the dialog stays open
        s_last = {m_choice.list->currentIndex(), m_choice.range->text(), m_onlyScans->isChecked()};
    }
    QDialog::done(result);
}

}  // namespace crop
