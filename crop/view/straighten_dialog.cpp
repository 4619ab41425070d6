#include "crop/view/straighten_dialog.h"

#include "crop/detect/auto_crop.h"
#include "crop/detect/page_range.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace crop {
namespace {

constexpr int kTyped = 3;  // "Pages...": the range in the box

}  // namespace

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
    m_pages = new QComboBox(this);
    m_pages->addItems({QStringLiteral("All Pages"), QStringLiteral("Even Only"), QStringLiteral("Odd Only"),
                       QStringLiteral("Pages...")});
    m_range = new QLineEdit(s_last.range, this);
    m_range->setPlaceholderText(QStringLiteral("1-3, 8, 10-   or   5-40 odd"));
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();
    connect(m_pages, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_range->setEnabled(index == kTyped);
        m_problem->hide();
        if (index == kTyped) {
            m_range->setFocus();
            m_range->selectAll();
        }
    });
    form->addRow(QStringLiteral("&Pages:"), m_pages);
    form->addRow(QString(), m_range);
    form->addRow(m_problem);
    layout->addLayout(form);
    m_onlyScans = new QCheckBox(QStringLiteral("&Only scans (typeset pages stay as they are)"), this);
    layout->addWidget(m_onlyScans);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *go = buttons->addButton(QStringLiteral("&Straighten"), QDialogButtonBox::AcceptRole);
    go->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_pages->setCurrentIndex(s_last.list);
    m_range->setEnabled(s_last.list == kTyped);
    m_onlyScans->setChecked(s_last.onlyScans);
}

void CStraightenDialog::done(int result) {
    if (result == QDialog::Accepted) {
        std::string error;
        m_chosen.clear();
        const bool typed = m_pages->currentIndex() == kTyped;
        AutoCropOptions options;
        if (!typed)
            options.pages = PageSet(m_pages->currentIndex());
        if (typed && !ParsePageRange(m_range->text().toStdString(), m_pageCount, m_chosen, error)) {
            m_problem->setText(QString::fromStdString(error));
            m_problem->show();
            m_range->setFocus();
            return;  // the dialog stays open
        }
        if (!typed)
            m_chosen = PagesOf(options, m_pageCount);
        s_last = {m_pages->currentIndex(), m_range->text(), m_onlyScans->isChecked()};
    }
    QDialog::done(result);
}

}  // namespace crop
