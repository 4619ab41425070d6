#include "crop/view/page_range_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace crop {

int CPageRangeDialog::s_choice = 0;

CPageRangeDialog::CPageRangeDialog(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Page Range Selection"));
    auto *group = new QGroupBox(this);
    auto *row = new QHBoxLayout(group);
    auto *label = new QLabel(QStringLiteral("Pages:"), group);
    m_list = new QComboBox(group);
    m_list->addItems({QStringLiteral("All Pages"), QStringLiteral("Even Only"), QStringLiteral("Odd Only")});
    m_list->setCurrentIndex(0);
    label->setBuddy(m_list);
    row->addWidget(label);
    row->addWidget(m_list, 1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *apply = buttons->addButton(QStringLiteral("Apply Now"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    apply->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    m_list->setFocus();
}

void CPageRangeDialog::done(int result) {
    s_choice = m_list->currentIndex();
    QDialog::done(result);
}

int CPageRangeDialog::Ask(QWidget *parent) {
    CPageRangeDialog dialog(parent);
    return dialog.exec() == QDialog::Accepted ? Choice() : -1;
}

}  // namespace crop
