#include "crop/view/page_choice.h"

#include "crop/detect/auto_crop.h"
#include "crop/detect/page_range.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace crop {

PageChoice PageChoice::AddTo(QWidget *dialog, QFormLayout *form, int index, const QString &range) {
    PageChoice c;
    c.list = new QComboBox(dialog);
    c.list->addItems({QStringLiteral("All Pages"), QStringLiteral("Even Only"), QStringLiteral("Odd Only"),
                      QStringLiteral("Pages...")});
    c.range = new QLineEdit(range, dialog);
    c.range->setPlaceholderText(QStringLiteral("1-3, 8, 10-   or   5-40 odd"));
    c.problem = new QLabel(dialog);
    c.problem->setWordWrap(true);
    c.problem->setStyleSheet(QStringLiteral("color: #b00000"));
    c.problem->hide();
    QObject::connect(c.list, &QComboBox::currentIndexChanged, dialog, [c](int chosen) {
        c.range->setEnabled(chosen == kTyped);
        c.problem->hide();
        if (chosen == kTyped) {
            c.range->setFocus();
            c.range->selectAll();
        }
    });
    form->addRow(QStringLiteral("&Pages:"), c.list);
    form->addRow(QString(), c.range);
    form->addRow(c.problem);
    c.list->setCurrentIndex(index);
    c.range->setEnabled(index == kTyped);
    return c;
}

bool PageChoice::Check(int pageCount, std::vector<int> *pages) const {
    if (list->currentIndex() != kTyped) {
        if (pages) {
            AutoCropOptions options;
            options.pages = PageSet(list->currentIndex());
            *pages = PagesOf(options, pageCount);
        }
        return true;
    }
    std::vector<int> typed;
    std::string error;
    if (!ParsePageRange(range->text().toStdString(), pageCount, typed, error)) {
        problem->setText(QString::fromStdString(error));
        problem->show();
        range->setFocus();
        return false;
    }
    if (pages)
        *pages = std::move(typed);
    return true;
}

}  // namespace crop
