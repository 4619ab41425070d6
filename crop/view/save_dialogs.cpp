#include "crop/view/save_dialogs.h"

#include "crop/detect/page_range.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>
#include <set>

namespace crop {

CPasswordDialog::CPasswordDialog(const QString &name, bool wrongBefore, QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Password"));
    auto *layout = new QVBoxLayout(this);
    auto *text =
        new QLabel(QStringLiteral("\u201c%1\u201d is protected. Enter its password to open it:").arg(name), this);
    text->setWordWrap(true);
    layout->addWidget(text);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("password"));
    m_field->setEchoMode(QLineEdit::Password);
    layout->addWidget(m_field);
    if (wrongBefore) {
        auto *wrong = new QLabel(QStringLiteral("That password is not the right one. Try again."), this);
        wrong->setObjectName(QStringLiteral("wrong"));
        layout->addWidget(wrong);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_field->setFocus();
    // What is typed is a password from the first key on.
    platform::Secret::KeepOutOfDumps();
}

platform::Secret CPasswordDialog::TakePassword() {
    QByteArray bytes = m_field->text().toUtf8();
    platform::Secret secret(std::string_view(bytes.constData(), size_t(bytes.size())));
    bytes.fill('\0');
    m_field->clear();
    return secret;
}

bool CPasswordDialog::Ask(QWidget *parent, const QString &name, bool wrongBefore, platform::Secret &password) {
    CPasswordDialog dialog(name, wrongBefore, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = dialog.TakePassword();
    return true;
}

namespace {

// "pages 1, 3 and 5".
QString PageList(const std::set<int> &pages) {
    QStringList numbers;
    for (int page : pages)
        numbers << QString::number(page);
    QString list;
    if (numbers.size() > 12)  // the first twelve, and how many more
        list = numbers.mid(0, 12).join(QStringLiteral(", ")) + QStringLiteral(" and %1 more").arg(numbers.size() - 12);
    else if (numbers.size() > 1)
        list = numbers.mid(0, numbers.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + numbers.last();
    else
        list = numbers.join(QString());
    return (pages.size() == 1 ? QStringLiteral("page ") : QStringLiteral("pages ")) + list;
}

}  // namespace

QString DescribeSaveReport(const QByteArray &json, bool removeHidden) {
    const QJsonObject r = QJsonDocument::fromJson(json).object();
    if (r.isEmpty())
        return QStringLiteral("The crop tool did not say what the save will change.");
    auto n = [&r](const char *key) { return r.value(QLatin1String(key)).toInt(); };
    QStringList lines;
    // Each page is cropped, split into several cropped pages, or left.
    const int pages = n("pages"), cropped = n("cropped"), split = n("split"), unchanged = n("unchanged");
    // Straightened pages: some only straightened, the others cropped too.
    const int straightenedOnly = n("straightenedOnly"), straightenedToo = n("straightened") - straightenedOnly;
    QString what;
    if (pages == 1) {
        what = cropped            ? QStringLiteral("The page will be cropped.")
               : split            ? QStringLiteral("The page will be split into several cropped pages.")
               : straightenedOnly ? QStringLiteral("The page will be straightened.")
                                  : QStringLiteral("The page will be left as it is.");
    } else {
        QStringList parts;
        if (cropped)
            parts << QStringLiteral("%1 will be cropped").arg(cropped);
        if (split)
            parts << QStringLiteral("%1 will be split into several cropped pages").arg(split);
        if (straightenedOnly)
            parts << QStringLiteral("%1 will be straightened").arg(straightenedOnly);
        if (n("rotatedOnly"))
            parts << QStringLiteral("%1 will be turned").arg(n("rotatedOnly"));
        const QJsonArray out = r.value(QLatin1String("leftOut")).toArray();
        if (!out.isEmpty()) {
            std::vector<int> numbers;
            for (const QJsonValue &page : out)
                numbers.push_back(page.toInt());
            parts << QStringLiteral("%1 will be left out (%2)")
                         .arg(out.size())
                         .arg(QString::fromStdString(PageRangeText(numbers)));
        }
        if (unchanged)
            parts << (unchanged == 1 ? QStringLiteral("1 will be left as it is")
                                     : QStringLiteral("%1 will be left as they are").arg(unchanged));
        QString list = parts.join(QStringLiteral(", "));
        if (parts.size() > 1)
            list = parts.mid(0, parts.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + parts.last();
        what = QStringLiteral("Of the %1 pages, %2.").arg(pages).arg(list);
    }
    if (straightenedToo > 0)
        what += straightenedToo == 1
                    ? QStringLiteral(" 1 page cropped will be straightened as well.")
                    : QStringLiteral(" %1 pages cropped will be straightened as well.").arg(straightenedToo);
    if (const int turnedToo = n("rotated") - n("rotatedOnly"); turnedToo > 0)
        what += turnedToo == 1 ? QStringLiteral(" 1 page cropped will be turned as well.")
                               : QStringLiteral(" %1 pages cropped will be turned as well.").arg(turnedToo);
    if (const int grown = n("grown"); grown > 0)
        what +=
            grown == 1
                ? QStringLiteral(" 1 page will grow past its edges, the part outside a blank margin.")
                : QStringLiteral(" %1 pages will grow past their edges, the parts outside blank margins.").arg(grown);
    if (const int scaled = n("scaled"); scaled > 0)
        what += scaled == 1 ? QStringLiteral(" 1 page will be drawn smaller, whole, to fit its paper.")
                            : QStringLiteral(" %1 pages will be drawn smaller, whole, to fit their paper.").arg(scaled);
    const int copyPages = n("copyPages");
    lines << what + (copyPages == 1 ? QStringLiteral(" The copy will have 1 page.")
                                    : QStringLiteral(" The copy will have %1 pages.").arg(copyPages));
    // What will lie outside the crops, by kind, with its pages.
    const QJsonObject outside = r.value(QLatin1String("outside")).toObject();
    std::map<QString, std::set<int>> pagesOf;
    std::map<QString, int> countOf;
    for (const QJsonValue &item : outside.value(QLatin1String("items")).toArray()) {
        const QString kind = item.toObject().value(QLatin1String("kind")).toString();
        pagesOf[kind].insert(item.toObject().value(QLatin1String("page")).toInt());
        ++countOf[kind];
    }
    const std::pair<const char *, const char *> kinds[] = {
        {"link", "link"}, {"field", "form field"}, {"annotation", "annotation"}};
    QStringList away;
    for (const auto &[kind, word] : kinds) {
        const int count = countOf[QLatin1String(kind)];
        if (count > 0)
            away << QStringLiteral("%1 %2%3 on %4")
                        .arg(count)
                        .arg(QLatin1String(word))
                        .arg(count == 1 ? QString() : QStringLiteral("s"))
                        .arg(PageList(pagesOf[QLatin1String(kind)]));
    }
    if (away.isEmpty())
        lines << QStringLiteral("No link, form field or annotation lies outside the crops.");
    else
        lines << (removeHidden ? QStringLiteral("Outside the crops, and so removed from the copy: %1.")
                               : QStringLiteral("Outside the crops, and so out of reach in the copy: %1."))
                     .arg(away.join(QStringLiteral("; ")));
    if (r.value(QLatin1String("certificationInvalidated")).toBool())
        lines << QStringLiteral("The document is certified, and the crop breaks its certification.");
    if (r.value(QLatin1String("signaturesInvalidated")).toBool())
        lines << QStringLiteral("The document is signed, and its signatures will not validate in the copy, "
                                "which is written as a whole new file.");
    else if (r.value(QLatin1String("signed")).toBool())
        lines << QStringLiteral("The document is signed; its signatures keep covering what they signed, and "
                                "validators show the crop as a later change.");
    if (removeHidden)
        lines << QStringLiteral("What the crops hide is removed: the copy is written whole and keeps no text, image, "
                                "drawing, link, annotation or form field that lies wholly outside them, and "
                                "pictures reaching past them are cut to them without losing a pixel they show.");
    const QJsonObject size = r.value(QLatin1String("size")).toObject();
    if (removeHidden && !size.isEmpty()) {
        const QLocale locale;
        lines << QStringLiteral("Size: %1 now, about %2 in the copy.")
                     .arg(locale.formattedDataSize(qint64(size.value(QLatin1String("before")).toDouble())),
                          locale.formattedDataSize(qint64(size.value(QLatin1String("afterAbout")).toDouble())));
    } else
        lines << QStringLiteral("What the crops hide stays in the file: a reader that ignores the crop shows it, and "
                                "its text can be copied. To remove it, turn on Cut > Remove Hidden Content.");
    return lines.join(QStringLiteral("\n\n"));
}

CSaveReportDialog::CSaveReportDialog(const QString &text, QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Save"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("report"));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(420);
    layout->addWidget(label);
    m_dontShow = new QCheckBox(QStringLiteral("Don't show this again"), this);
    layout->addWidget(m_dontShow);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool CSaveReportDialog::DontShowAgain() const { return m_dontShow->isChecked(); }

}  // namespace crop
