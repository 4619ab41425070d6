#ifndef CROP_VIEW_PAGE_CHOICE_H
#define CROP_VIEW_PAGE_CHOICE_H

#include <QString>

#include <optional>
#include <vector>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QWidget;

namespace crop {

// The pages a whole-document command works on, as its dialogs ask them: a
// list (All Pages, Even Only, Odd Only, Pages...), a box for the range
// that only "Pages..." enables (and gives the keyboard), and below them
// why a range typed is refused, hidden while nothing is.
struct PageChoice {
    static constexpr int kTyped = 3;  // "Pages...": the range in the box

    // Made on `dialog`, as rows of `form`, showing `index` and `range`.
    static PageChoice AddTo(QWidget *dialog, QFormLayout *form, int index, const QString &range);
    // Whether the range typed is a range of a document of `pageCount`
    // pages (any choice but "Pages..." is); when it is not, the reason
    // is shown and the box gets the keyboard. `pages`, when given, gets
    // the pages chosen.
    bool Check(int pageCount, std::vector<int> *pages = nullptr) const;

    QComboBox *list = nullptr;
    QLineEdit *range = nullptr;
    QLabel *problem = nullptr;
};

}  // namespace crop

#endif
