#ifndef CROP_VIEW_STRAIGHTEN_DIALOG_H
#define CROP_VIEW_STRAIGHTEN_DIALOG_H

#include "crop/view/page_choice.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace crop {

// "Straighten Pages": which pages (all, even, odd, or a range typed as in
// Page Range Selection), and whether scans alone are straightened. It
// opens on the choices it last closed with. A range the document lacks is
// refused with the reason, and the dialog stays open.
class CStraightenDialog : public QDialog {
    Q_OBJECT
public:
    explicit CStraightenDialog(int pageCount, QWidget *parent = nullptr);

    QComboBox *PagesList() const { return m_choice.list; }
    QLineEdit *Range() const { return m_choice.range; }
    QCheckBox *OnlyScans() const { return m_onlyScans; }
    QLabel *Problem() const { return m_choice.problem; }
    // The pages chosen, once accepted.
    const std::vector<int> &Pages() const { return m_chosen; }
    void done(int result) override;

private:
    PageChoice m_choice;
    QCheckBox *m_onlyScans = nullptr;
    int m_pageCount = 0;
    std::vector<int> m_chosen;
    struct Last {
        int list = 0;
        QString range;
        bool onlyScans = true;
    };
    static Last s_last;
};

}  // namespace crop

#endif
