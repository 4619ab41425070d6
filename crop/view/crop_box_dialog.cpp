#include "crop/view/crop_box_dialog.h"

#include "crop/detect/page_range.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace crop {
namespace {

const char *const kNames[] = {"left margin", "top margin", "right margin", "bottom margin", "width", "height"};
const char *const kLabels[] = {"&Left:", "&Top:", "&Right:", "&Bottom:", "&Width:", "&Height:"};

// A plain decimal, as typed; a comma for the point too.
bool Number(QString text, double &value) {
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && !text.contains(QLatin1Char('e'), Qt::CaseInsensitive);
}

}  // namespace

Unit CCropBoxDialog::s_unit = Unit::Pt;

CCropBoxDialog::CCropBoxDialog(double width, double height, const CropRect &rect, int page, int pageCount,
                               QWidget *parent, bool pastEdges)
    : QDialog(parent), m_width(width), m_height(height), m_pageCount(pageCount), m_unit(s_unit) {
    setWindowTitle(QStringLiteral("Crop Box"));
    auto *grid = new QGridLayout;
    for (int f = 0; f < kFields; ++f) {
        auto *box = new QLineEdit(this);
        auto *label = new QLabel(QString::fromLatin1(kLabels[f]), this);
        label->setBuddy(box);
        // Margins in the first two columns, the size in the third.
        const int row = f < kWidth ? f % 2 : f - kWidth;
        const int column = f < kWidth ? (f < 2 ? 0 : 2) : 4;
        grid->addWidget(label, row, column);
        grid->addWidget(box, row, column + 1);
        m_boxes[size_t(f)] = box;
        connect(box, &QLineEdit::textEdited, this, [this, f] { Follow(Field(f)); });
    }
    m_unitList = new QComboBox(this);
    for (Unit u : {Unit::Pt, Unit::Mm, Unit::In})
        m_unitList->addItem(QString::fromLatin1(UnitName(u)));
    m_unitList->setCurrentIndex(int(m_unit));
    connect(m_unitList, &QComboBox::currentIndexChanged, this, &CCropBoxDialog::ChangeUnit);
    m_applyTo = new QLineEdit(QString::number(page), this);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Unit:"), m_unitList);
    form->addRow(QStringLiteral("&Apply to pages:"), m_applyTo);
    m_trimBox = new QCheckBox(QStringLiteral("Also set the tr&im box (the finished page, for print)"), this);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    m_pageSize = new QLabel(this);
    ShowPageSize();
    layout->addWidget(m_pageSize);
    layout->addLayout(grid);
    layout->addLayout(form);
    layout->addWidget(m_trimBox);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);

    // The region as the copy will have it: within the page, unless it may
    // reach past it.
    const CropRect n = rect.Normalized();
    const CropRect shown = pastEdges ? n
                                     : CropRect{std::max(0.0, n.left), std::max(0.0, n.top), std::min(width, n.right),
                                                std::min(height, n.bottom)};
    const bool none = n.IsEmpty() || shown.right <= shown.left || shown.bottom <= shown.top;
    const Margins m = none ? Margins{} : MarginsOf(shown, width, height);
    Show(kLeft, m.left);
    Show(kTop, m.top);
    Show(kRight, m.right);
    Show(kBottom, m.bottom);
    Show(kWidth, width - m.left - m.right);
    Show(kHeight, height - m.top - m.bottom);
    m_boxes[kLeft]->setFocus();
    m_boxes[kLeft]->selectAll();
}

void CCropBoxDialog::Show(Field field, double points) {
    m_boxes[size_t(field)]->setText(QString::number(points / PointsPer(m_unit), 'f', m_unit == Unit::In ? 3 : 2));
}

bool CCropBoxDialog::Read(Field field, double &points, QString &error) const {
    const QString text = m_boxes[size_t(field)]->text();
    double value = 0;
    // A margin below 0 adds that much margin past the page's edge.
    const bool margin = field < kWidth;
    if (!Number(text, value) || (!margin && value < 0)) {
        error = margin
                    ? QStringLiteral("\"%1\" is no %2: give a number (one below 0 adds that much margin).")
                          .arg(text.trimmed(), kNames[field])
                    : QStringLiteral("\"%1\" is no %2: give a number of 0 or more.").arg(text.trimmed(), kNames[field]);
        return false;
    }
    points = value * PointsPer(m_unit);
    return true;
}

void CCropBoxDialog::Follow(Field edited) {
    if (!m_problem->isHidden()) {
        // The fields go back where they were.
        m_problem->hide();
        adjustSize();
    }
    const bool across = edited == kLeft || edited == kRight || edited == kWidth;
    const Field near = across ? kLeft : kTop, far = across ? kRight : kBottom, size = across ? kWidth : kHeight;
    const double whole = across ? m_width : m_height;
    double a = 0, b = 0;
    QString unused;
    if (edited == size) {
        if (Read(near, a, unused) && Read(size, b, unused))
            Show(far, whole - a - b);
    } else if (Read(near, a, unused) && Read(far, b, unused)) {
        Show(size, whole - a - b);
    }
}

void CCropBoxDialog::ChangeUnit(int index) {
    // Each box read in the unit it was typed in, shown in the new one.
    std::array<double, kFields> points{};
    std::array<bool, kFields> read{};
    QString unused;
    for (int f = 0; f < kFields; ++f)
        read[size_t(f)] = Read(Field(f), points[size_t(f)], unused);
    m_unit = Unit(index);
    s_unit = m_unit;
    for (int f = 0; f < kFields; ++f)
        if (read[size_t(f)])
            Show(Field(f), points[size_t(f)]);
    ShowPageSize();
}

void CCropBoxDialog::ShowPageSize() {
    const int places = m_unit == Unit::In ? 3 : 2;
    m_pageSize->setText(QStringLiteral("Margins from the page's edges, %1 x %2 %3 as shown:")
                            .arg(m_width / PointsPer(m_unit), 0, 'f', places)
                            .arg(m_height / PointsPer(m_unit), 0, 'f', places)
                            .arg(QString::fromLatin1(UnitName(m_unit))));
}

void CCropBoxDialog::done(int result) {
    if (result != QDialog::Accepted) {
        QDialog::done(result);
        return;
    }
    auto refuse = [this](const QString &why, QLineEdit *where) {
        m_problem->setText(why);
        m_problem->show();
        adjustSize();
        where->setFocus();
        where->selectAll();
    };
    std::array<double, 4> m{};
    QString error;
    for (int f = kLeft; f <= kBottom; ++f)
        if (!Read(Field(f), m[size_t(f)], error))
            return refuse(error, m_boxes[size_t(f)]);
    const QString unit = QString::fromLatin1(UnitName(m_unit));
    auto size = [this, &unit](double points) {
        return QStringLiteral("%1 %2").arg(points / PointsPer(m_unit), 0, 'f', m_unit == Unit::In ? 3 : 2).arg(unit);
    };
    if (m[kLeft] + m[kRight] >= m_width)
        return refuse(QStringLiteral("The left and right margins leave no width: together they are %1, and the page "
                                     "is %2 wide.")
                          .arg(size(m[kLeft] + m[kRight]), size(m_width)),
                      m_boxes[kLeft]);
    if (m[kTop] + m[kBottom] >= m_height)
        return refuse(QStringLiteral("The top and bottom margins leave no height: together they are %1, and the page "
                                     "is %2 high.")
                          .arg(size(m[kTop] + m[kBottom]), size(m_height)),
                      m_boxes[kTop]);
    // Margins added on one side may not push the region wholly off the page.
    const char *const sides[] = {"left", "top", "right", "bottom"};
    for (int f = kLeft; f <= kBottom; ++f) {
        const bool across = f == kLeft || f == kRight;
        if (m[size_t(f)] >= (across ? m_width : m_height))
            return refuse(QStringLiteral("A %1 margin of %2 leaves nothing of the page: it is %3 %4.")
                              .arg(QString::fromLatin1(sides[f]), size(m[size_t(f)]), size(across ? m_width : m_height),
                                   across ? QStringLiteral("wide") : QStringLiteral("high")),
                          m_boxes[size_t(f)]);
    }
    if (m_width - m[kLeft] - m[kRight] > kLargestPage || m_height - m[kTop] - m[kBottom] > kLargestPage)
        return refuse(QStringLiteral("Those margins would make the page larger than %1: no page is larger.")
                          .arg(size(kLargestPage)),
                      m_boxes[m_width - m[kLeft] - m[kRight] > kLargestPage ? kLeft : kTop]);
    std::vector<int> pages;
    std::string rangeError;
    if (!ParsePageRange(m_applyTo->text().toStdString(), m_pageCount, pages, rangeError))
        return refuse(QString::fromStdString(rangeError), m_applyTo);
    m_margins = {m[0], m[1], m[2], m[3]};
    m_pages = std::move(pages);
    s_unit = m_unit;
    QDialog::done(result);
}

}  // namespace crop
