#ifndef CROP_VIEW_SHRINK_ALL_DIALOG_H
#define CROP_VIEW_SHRINK_ALL_DIALOG_H

#include "crop/detect/auto_crop.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;

namespace crop {

// "Shrink All Pages": which pages, the margin round their content, and
// whether they all get one size. It opens on the choices it last closed
// with.
class CShrinkAllDialog : public QDialog {
    Q_OBJECT
public:
    explicit CShrinkAllDialog(QWidget *parent = nullptr);

    QComboBox *Pages() const { return m_pages; }
    QDoubleSpinBox *Margin() const { return m_margin; }
    QCheckBox *Uniform() const { return m_uniform; }
    AutoCropOptions Options() const;

    // Runs the dialog; true with the choices when "Shrink" ended it.
    static bool Ask(QWidget *parent, AutoCropOptions &options);

private:
    QComboBox *m_pages = nullptr;
    QDoubleSpinBox *m_margin = nullptr;
    QCheckBox *m_uniform = nullptr;
    static AutoCropOptions s_last;
};

}  // namespace crop

#endif
