#include "crop/view/shrink_all_dialog.h"

#include "crop/detect/margins.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace crop {

AutoCropOptions CShrinkAllDialog::s_last;
QString CShrinkAllDialog::s_lastMargin = QStringLiteral("0");

CShrinkAllDialog::CShrinkAllDialog(int pageCount, QWidget *parent) : QDialog(parent), m_pageCount(pageCount) {
    setWindowTitle(QStringLiteral("Shrink All Pages"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("Each page's rectangle is shrunk to the page's content (the whole page "
                                            "is searched where it has no rectangle). Scanned pages are searched "
                                            "past their grain, dust and dark edges."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto *form = new QFormLayout;
    m_choice = PageChoice::AddTo(this, form, s_last.range.empty() ? int(s_last.pages) : PageChoice::kTyped,
                                 QString::fromStdString(s_last.range));
    m_margin = new QLineEdit(this);
    m_margin->setToolTip(QStringLiteral("One margin for every side, four (left, top, right, bottom), or sides by "
                                        "name, in pt unless a unit ends them: 10   5,5,5,15mm   inner 20mm, outer "
                                        "10mm (inner is the spine's side: left on odd pages, right on even ones)"));
    m_uniform = new QCheckBox(QStringLiteral("One size for every page (odd and even pages placed apart, as books "
                                             "mirror their margins)"),
                              this);
    m_straighten = new QCheckBox(QStringLiteral("S&traighten scans (each scan measured for skew and turned level; "
                                                "its pictures stay as they are)"),
                                 this);
    m_leaveOutBlank = new QCheckBox(QStringLiteral("Leave out &blank pages (paper and dust only; listed under Pages "
                                                   "to Check, and put back with Leave Out)"),
                                    this);
    m_bodyOnly = new QCheckBox(QStringLiteral("Bod&y only (running heads, page numbers and stamps that come back "
                                              "at the same place on most pages are left out of the crops)"),
                               this);
    m_cap = new QSpinBox(this);
    m_cap->setRange(0, 99);
    m_cap->setSuffix(QStringLiteral(" %"));
    m_cap->setSpecialValueText(QStringLiteral("no limit"));
    m_cap->setToolTip(QStringLiteral("A page whose crop would cut away more than this share of it is left as it "
                                     "is and listed under Pages to Check"));
    m_sensitivity = new QSpinBox(this);
    m_sensitivity->setRange(0, 100);
    m_sensitivity->setToolTip(QStringLiteral("How faint print on a scan may be and still count: 50 is the usual; "
                                             "higher keeps pencil notes and faded colours, lower leaves them out"));
    form->addRow(QStringLiteral("&Margin round the content:"), m_margin);
    form->addRow(QStringLiteral("Never cut a&way more than:"), m_cap);
    form->addRow(QStringLiteral("Sensitivity to &faint print on scans:"), m_sensitivity);
    layout->addLayout(form);
    layout->addWidget(m_uniform);
    layout->addWidget(m_straighten);
    layout->addWidget(m_leaveOutBlank);
    layout->addWidget(m_bodyOnly);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *shrink = buttons->addButton(QStringLiteral("&Shrink"), QDialogButtonBox::AcceptRole);
    shrink->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_margin->setText(s_lastMargin);
    m_uniform->setChecked(s_last.uniform);
    m_straighten->setChecked(s_last.deskew);
    m_leaveOutBlank->setChecked(s_last.leaveOutBlank);
    m_bodyOnly->setChecked(s_last.ignore != 0);
    m_cap->setValue(int(s_last.cap));
    m_sensitivity->setValue(s_last.sensitivity);
}

AutoCropOptions CShrinkAllDialog::Options() const {
    AutoCropOptions options;
    if (m_choice.list->currentIndex() == PageChoice::kTyped)
        options.range = m_choice.range->text().trimmed().toStdString();
    else
        options.pages = PageSet(m_choice.list->currentIndex());
    SideMargins sides;
    std::string error;
    if (ParseSideMargins(m_margin->text().toStdString(), sides, error)) {
        if (!sides.innerOuter && sides.left == sides.top && sides.left == sides.right && sides.left == sides.bottom)
            options.margin = sides.left;  // one for every side
        else
            options.sides = sides;
    }
    options.uniform = m_uniform->isChecked();
    options.deskew = m_straighten->isChecked();
    options.leaveOutBlank = m_leaveOutBlank->isChecked();
    options.ignore = m_bodyOnly->isChecked() ? kAllMarks : 0;
    options.cap = m_cap->value();
    options.sensitivity = m_sensitivity->value();
    return options;
}

void CShrinkAllDialog::done(int result) {
    if (result == QDialog::Accepted) {
        SideMargins sides;
        std::string error;
        if (!ParseSideMargins(m_margin->text().toStdString(), sides, error)) {
            m_choice.problem->setText(QString::fromStdString(error));
            m_choice.problem->show();
            m_margin->setFocus();
            m_margin->selectAll();
            return;  // the dialog stays open
        }
        if (!m_choice.Check(m_pageCount))
            return;
        s_lastMargin = m_margin->text().trimmed();
    }
    QDialog::done(result);
}

bool CShrinkAllDialog::Ask(QWidget *parent, int pageCount, AutoCropOptions &options) {
    CShrinkAllDialog dialog(pageCount, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options = s_last = dialog.Options();
    return true;
}

}  // namespace crop
