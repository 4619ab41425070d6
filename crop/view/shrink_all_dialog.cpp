#include "crop/view/shrink_all_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace crop {

AutoCropOptions CShrinkAllDialog::s_last;

CShrinkAllDialog::CShrinkAllDialog(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Shrink All Pages"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("Each page's rectangle is shrunk to the page's content (the whole page "
                                            "is searched where it has no rectangle). Scanned pages are searched "
                                            "past their grain, dust and dark edges."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto *form = new QFormLayout;
    m_pages = new QComboBox(this);
    m_pages->addItems({QStringLiteral("All Pages"), QStringLiteral("Even Only"), QStringLiteral("Odd Only")});
    m_margin = new QDoubleSpinBox(this);
    m_margin->setRange(0, 144);
    m_margin->setDecimals(1);
    m_margin->setSuffix(QStringLiteral(" pt"));
    m_uniform = new QCheckBox(QStringLiteral("One size for every page (odd and even pages placed apart, as books "
                                             "mirror their margins)"),
                              this);
    form->addRow(QStringLiteral("&Pages:"), m_pages);
    form->addRow(QStringLiteral("&Margin round the content:"), m_margin);
    layout->addLayout(form);
    layout->addWidget(m_uniform);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *shrink = buttons->addButton(QStringLiteral("&Shrink"), QDialogButtonBox::AcceptRole);
    shrink->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_pages->setCurrentIndex(int(s_last.pages));
    m_margin->setValue(s_last.margin);
    m_uniform->setChecked(s_last.uniform);
}

AutoCropOptions CShrinkAllDialog::Options() const {
    AutoCropOptions options;
    options.pages = PageSet(m_pages->currentIndex());
    options.margin = m_margin->value();
    options.uniform = m_uniform->isChecked();
    return options;
}

bool CShrinkAllDialog::Ask(QWidget *parent, AutoCropOptions &options) {
    CShrinkAllDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options = s_last = dialog.Options();
    return true;
}

}  // namespace crop
