#include "crop/view/page_size_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace crop {

CPageSizeDialog::Last CPageSizeDialog::s_last;

CPageSizeDialog::CPageSizeDialog(int pageCount, QWidget *parent) : QDialog(parent), m_pageCount(pageCount) {
    setWindowTitle(QStringLiteral("Page Size"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    m_paperChoice = new QRadioButton(QStringLiteral("Pape&r size:"), this);
    m_paper = new QComboBox(this);
    m_paper->setEditable(true);
    for (const char *name : {"A3", "A4", "A5", "A6", "B4", "B5", "B6", "C5", "Letter", "Legal", "Tabloid", "Executive"})
        m_paper->addItem(QString::fromLatin1(name));
    m_paper->setToolTip(QStringLiteral("A name, or the width and height such as 6x9in or 210x297mm"));
    form->addRow(m_paperChoice, m_paper);
    m_anchor = new QComboBox(this);
    m_anchor->addItems({QStringLiteral("In the middle"), QStringLiteral("At the top"),
                        QStringLiteral("Against the spine (left on odd pages; right with Cut > Right to Left)")});
    auto *anchorLabel = new QLabel(QStringLiteral("Crop p&laced:"), this);
    anchorLabel->setBuddy(m_anchor);
    form->addRow(anchorLabel, m_anchor);
    m_fit =
        new QCheckBox(QStringLiteral("Draw a crop larger than the paper smaller to &fit it (else cut to it)"), this);
    form->addRow(QString(), m_fit);
    m_ratioChoice = new QRadioButton(QStringLiteral("&Aspect of a screen:"), this);
    m_ratio = new QComboBox(this);
    m_ratio->setEditable(true);
    std::string ownError;
    m_screens = ReaderScreens(ownError);
    for (const ReaderScreen &screen : m_screens)
        m_ratio->addItem(
            QStringLiteral("%1 (%2:%3)").arg(QString::fromStdString(screen.name)).arg(screen.width).arg(screen.height));
    m_ratio->setToolTip(QStringLiteral("A reader from the list (its frame and menus get blank margins), or "
                                       "width:height such as 3:4. Readers of your own go in %1, a line each such as "
                                       "\"My reader = 3:4, 0,4,0,0\" (the percent of the screen its bars cover "
                                       "at the left, top, right and bottom).")
                            .arg(QString::fromStdString(ReaderScreensPath())));
    form->addRow(m_ratioChoice, m_ratio);
    m_weights = new QLineEdit(this);
    m_weights->setToolTip(QStringLiteral("Four weights, left, top, right and bottom: 1,1,1,3 puts three quarters of "
                                         "the height added below"));
    auto *weightsLabel = new QLabel(QStringLiteral("Room added &shared by:"), this);
    weightsLabel->setBuddy(m_weights);
    form->addRow(weightsLabel, m_weights);
    m_choice = PageChoice::AddTo(this, form, s_last.list, s_last.range);
    if (!ownError.empty()) {  // the readers of the user's own file that cannot be read
        m_choice.problem->setText(
            QStringLiteral("Not all of your own readers are listed: %1.").arg(QString::fromStdString(ownError)));
        m_choice.problem->show();
    }
    layout->addLayout(form);
    auto *note = new QLabel(QStringLiteral("Margins are added where a crop is smaller than the paper or the aspect. "
                                           "A page split into several regions is cut to the paper."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // Either a paper or an aspect; what belongs to the other is greyed.
    auto follow = [this] {
        const bool paper = m_paperChoice->isChecked();
        m_paper->setEnabled(paper);
        m_anchor->setEnabled(paper);
        m_fit->setEnabled(paper);
        m_ratio->setEnabled(!paper);
        m_weights->setEnabled(!paper);
    };
    connect(m_paperChoice, &QRadioButton::toggled, this, follow);
    (s_last.ratio ? m_ratioChoice : m_paperChoice)->setChecked(true);
    m_paper->setEditText(s_last.paper);
    m_ratio->setEditText(s_last.ratioText);
    m_anchor->setCurrentIndex(s_last.anchor);
    m_fit->setChecked(s_last.fit);
    m_weights->setText(s_last.weights);
    follow();
    // The keyboard on the size or aspect, its text chosen to be typed over.
    QComboBox *first = s_last.ratio ? m_ratio : m_paper;
    first->setFocus();
    first->lineEdit()->selectAll();
}

void CPageSizeDialog::Refuse(const QString &why, QWidget *where) {
    m_choice.problem->setText(why);
    m_choice.problem->show();
    adjustSize();
    where->setFocus();
}

void CPageSizeDialog::done(int result) {
    if (result != QDialog::Accepted) {
        QDialog::done(result);
        return;
    }
    std::string error;
    m_acceptedPaper.reset();
    m_acceptedRatio.reset();
    if (m_paperChoice->isChecked()) {
        PaperSize paper;
        if (!ParsePaperSize(m_paper->currentText().trimmed().toStdString(), paper, error))
            return Refuse(QString::fromStdString(error), m_paper);
        m_acceptedPaper = paper;
        m_acceptedAnchor = Anchor(m_anchor->currentIndex());
        m_acceptedFit = m_fit->isChecked();
    } else {
        // A reader from the list, as listed; else an aspect, perhaps in brackets.
        const QString text = m_ratio->currentText().trimmed();
        const int listed = m_ratio->findText(text);
        ReaderScreen screen;
        if (listed >= 0 && size_t(listed) < m_screens.size()) {
            screen = m_screens[size_t(listed)];
        } else if (const ReaderScreen *named = FindScreen(m_screens, text.toStdString())) {  // a name typed
            screen = *named;
        } else {
            const QRegularExpressionMatch bracketed =
                QRegularExpression(QStringLiteral("\\(([^()]*)\\)\\s*$")).match(text);
            if (!ParseRatio((bracketed.hasMatch() ? bracketed.captured(1) : text).toStdString(), screen.width,
                            screen.height, error))
                return Refuse(QString::fromStdString(error), m_ratio);
        }
        if (!ParseRoomWeights(m_weights->text().trimmed().toStdString(), m_acceptedWeights, error))
            return Refuse(QString::fromStdString(error), m_weights);
        m_acceptedRatio = screen;
    }
    if (!m_choice.Check(m_pageCount, &m_pages))
        return;  // the dialog stays open
    s_last = {m_ratioChoice->isChecked(),    m_paper->currentText(), m_ratio->currentText(),
              m_anchor->currentIndex(),      m_fit->isChecked(),     m_weights->text(),
              m_choice.list->currentIndex(), m_choice.range->text()};
    QDialog::done(result);
}

}  // namespace crop
