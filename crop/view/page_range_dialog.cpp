#include "crop/view/page_range_dialog.h"

#include "crop/detect/crop_rect.h"
#include "crop/detect/page_range.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace crop {

int CPageRangeDialog::s_choice = 0;
QString CPageRangeDialog::s_range;

CPageRangeDialog::CPageRangeDialog(int pageCount, QWidget *parent) : QDialog(parent), m_pageCount(pageCount) {
    setWindowTitle(QStringLiteral("Page Range Selection"));
    auto *group = new QGroupBox(this);
    auto *grid = new QVBoxLayout(group);
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("Pages:"), group);
    m_list = new QComboBox(group);
    m_list->addItems({QStringLiteral("All Pages"), QStringLiteral("Even Only"), QStringLiteral("Odd Only"),
                      QStringLiteral("Pages...")});
    m_list->setCurrentIndex(s_choice);
    label->setBuddy(m_list);
    row->addWidget(label);
    row->addWidget(m_list, 1);
    grid->addLayout(row);
    m_range = new QLineEdit(s_range, group);
    m_range->setPlaceholderText(QStringLiteral("1-3, 8, 10-   or   5-40 odd"));
    m_range->setMinimumWidth(m_range->fontMetrics().horizontalAdvance(m_range->placeholderText()) + 24);
    m_range->setEnabled(s_choice == kPages);
    grid->addWidget(m_range);
    m_problem = new QLabel(group);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();
    grid->addWidget(m_problem);
    connect(m_list, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_range->setEnabled(index == kPages);
        HideProblem();
        if (index == kPages) {
            m_range->setFocus();
            m_range->selectAll();
        }
    });
    connect(m_range, &QLineEdit::textEdited, this, &CPageRangeDialog::HideProblem);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *apply = buttons->addButton(QStringLiteral("Apply Now"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    apply->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    // As wide as its title and hint need, and as tall as its content:
    // messages wrap whole instead of being cut.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setMinimumWidth(std::max(360, fontMetrics().horizontalAdvance(windowTitle()) + 160));
    if (s_choice == kPages) {
        m_range->setFocus();
        m_range->selectAll();
    } else {
        m_list->setFocus();
    }
}

void CPageRangeDialog::HideProblem() {
    if (m_problem->isHidden())
        return;
    m_problem->hide();
    adjustSize();
}

void CPageRangeDialog::done(int result) {
    const int choice = m_list->currentIndex();
    if (result == Accepted) {
        if (choice == kPages) {
            std::string error;
            if (!ParsePageRange(m_range->text().toStdString(), m_pageCount, m_pages, error)) {
                m_problem->setText(QString::fromStdString(error));
                m_problem->show();
                adjustSize();
                m_range->setFocus();
                return;  // the dialog stays open
            }
            s_range = m_range->text().trimmed();
        } else {
            m_pages = PagesOf(PageSet(choice), m_pageCount);
        }
    }
    s_choice = choice;
    QDialog::done(result);
}

std::optional<std::vector<int>> CPageRangeDialog::AskPages(QWidget *parent, int pageCount) {
    CPageRangeDialog dialog(pageCount, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Pages();
}

}  // namespace crop
