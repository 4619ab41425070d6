#ifndef CROP_VIEW_PAGE_RANGE_DIALOG_H
#define CROP_VIEW_PAGE_RANGE_DIALOG_H

#include <QDialog>
#include <QString>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;

namespace crop {

// "Page Range Selection": which pages a command works on (Crop all pages,
// the overlay). It opens on the choice and the range it last closed with,
// the keyboard on the list (on the range's box for "Pages..."); "Apply
// Now" is the default button. "Pages..." takes a range typed in its box,
// such as "1-3, 8, 10-" or "5-40 odd"; the keyboard goes to the box when
// the item is chosen. The dialog is as large as its texts need. A range the
// document does not have is refused with the reason, and the dialog stays
// open. Whenever it closes, accepted or not, the position chosen becomes
// the program's page range choice.
class CPageRangeDialog : public QDialog {
    Q_OBJECT
public:
    enum { kAll = 0, kEven = 1, kOdd = 2, kPages = 3 };

    explicit CPageRangeDialog(int pageCount, QWidget *parent = nullptr);

    QComboBox *List() const { return m_list; }
    QLineEdit *RangeBox() const { return m_range; }
    // Why the range typed was refused; hidden while there is none.
    QLabel *Problem() const { return m_problem; }
    // The position of the list as the dialog last closed.
    static int Choice() { return s_choice; }
    // The last range accepted, kept in the settings by the window.
    static QString LastRange() { return s_range; }
    static void SetLastRange(const QString &range) { s_range = range; }
    // Runs the dialog for a document of `pageCount` pages: the pages
    // chosen when "Apply Now" ended it, nothing otherwise.
    static std::optional<std::vector<int>> AskPages(QWidget *parent, int pageCount);

    const std::vector<int> &Pages() const { return m_pages; }
    void done(int result) override;

private:
    void HideProblem();

    int m_pageCount = 0;
    QComboBox *m_list = nullptr;
    QLineEdit *m_range = nullptr;
    QLabel *m_problem = nullptr;
    std::vector<int> m_pages;
    static int s_choice;
    static QString s_range;
};

}  // namespace crop

#endif
