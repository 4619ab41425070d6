#ifndef CROP_VIEW_SHRINK_ALL_DIALOG_H
#define CROP_VIEW_SHRINK_ALL_DIALOG_H

#include "crop/detect/auto_crop.h"
#include "crop/view/page_choice.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace crop {

// "Shrink All Pages": which pages (all, even, odd, or a range typed as in
// Page Range Selection), the margin round their content, and whether they
// all get one size. It opens on the choices it last closed with. A range
// the document lacks is refused with the reason, and the dialog stays open.
class CShrinkAllDialog : public QDialog {
    Q_OBJECT
public:
    explicit CShrinkAllDialog(int pageCount, QWidget *parent = nullptr);

    QComboBox *Pages() const { return m_choice.list; }
    // One margin, four (left, top, right, bottom) or sides by name, with a
    // unit or none for points: "10", "5,5,5,15mm", "inner 20mm, outer 10".
    QLineEdit *Margin() const { return m_margin; }
    QCheckBox *Uniform() const { return m_uniform; }
    QCheckBox *Straighten() const { return m_straighten; }
    QCheckBox *LeaveOutBlank() const { return m_leaveOutBlank; }
    QCheckBox *BodyOnly() const { return m_bodyOnly; }
    QSpinBox *Cap() const { return m_cap; }  // 0: no limit
    QSpinBox *Sensitivity() const { return m_sensitivity; }
    QLineEdit *Range() const { return m_choice.range; }
    QLabel *Problem() const { return m_choice.problem; }
    void done(int result) override;
    AutoCropOptions Options() const;

    // Runs the dialog; true with the choices when "Shrink" ended it.
    static bool Ask(QWidget *parent, int pageCount, AutoCropOptions &options);
    // The choices it last closed with.
    static const AutoCropOptions &LastOptions() { return s_last; }
    // The margin the next dialog opens with, as typed.
    static void SetLastMargin(const QString &text) { s_lastMargin = text; }

private:
    PageChoice m_choice;
    QLineEdit *m_margin = nullptr;
    QCheckBox *m_uniform = nullptr;
    QCheckBox *m_straighten = nullptr;
    QCheckBox *m_leaveOutBlank = nullptr;
    QCheckBox *m_bodyOnly = nullptr;
    QSpinBox *m_cap = nullptr;
    QSpinBox *m_sensitivity = nullptr;
    int m_pageCount = 0;
    static AutoCropOptions s_last;
    static QString s_lastMargin;
};

}  // namespace crop

#endif
