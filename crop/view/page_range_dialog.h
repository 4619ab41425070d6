#ifndef CROP_VIEW_PAGE_RANGE_DIALOG_H
#define CROP_VIEW_PAGE_RANGE_DIALOG_H

#include <QDialog>

class QComboBox;

namespace crop {

// "Page Range Selection": which pages Crop all pages gives the shown
// page's rectangle. It opens on "All Pages" with the keyboard on the list;
// "Apply Now" is the default button. Whenever it closes, accepted or not,
// the position chosen becomes the program's page range choice.
class CPageRangeDialog : public QDialog {
    Q_OBJECT
public:
    explicit CPageRangeDialog(QWidget *parent = nullptr);

    QComboBox *List() const { return m_list; }
    // 0 All Pages, 1 Even Only, 2 Odd Only: as the dialog last closed.
    static int Choice() { return s_choice; }
    // Runs the dialog; the choice when "Apply Now" ended it, -1 otherwise.
    static int Ask(QWidget *parent);

    void done(int result) override;

private:
    QComboBox *m_list = nullptr;
    static int s_choice;
};

}  // namespace crop

#endif
