#ifndef CROP_VIEW_CROP_BOX_DIALOG_H
#define CROP_VIEW_CROP_BOX_DIALOG_H

#include "crop/detect/crop_rect.h"
#include "crop/detect/margins.h"

#include <QDialog>

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace crop {

// "Crop Box": the selected region as exact margins from the left, top,
// right and bottom edges of the page as shown, and as its width and
// height, in pt, mm or in (the unit kept for the next time). Width and
// height follow the margins, and the right and bottom margins follow a
// width or height typed. A margin below 0 reaches past the page's edge,
// adding that much margin. "Apply to" takes a page range, the shown page by
// default. A value that is not a number, margins that leave no width or
// height, or a page grown past the largest a PDF has, are refused with the reason, and
// the dialog stays open; nothing changes until OK.
class CCropBoxDialog : public QDialog {
    Q_OBJECT
public:
    enum Field { kLeft, kTop, kRight, kBottom, kWidth, kHeight, kFields };

    // A page `width` x `height` points, page `page` of `pageCount`, with
    // `rect` (page points from the top-left corner; empty: the whole page),
    // shown as the copy will have it: cut at the page's edges unless
    // `pastEdges`.
    CCropBoxDialog(double width, double height, const CropRect &rect, int page, int pageCount,
                   QWidget *parent = nullptr, bool pastEdges = false);

    QLineEdit *Box(Field field) const { return m_boxes[size_t(field)]; }
    QComboBox *UnitList() const { return m_unitList; }
    QLineEdit *ApplyTo() const { return m_applyTo; }
    QLabel *Problem() const { return m_problem; }
    // "Also set the trim box": the copy's pages get the crop as their trim
    // box (the finished page) too.
    QCheckBox *TrimBoxToo() const { return m_trimBox; }

    // What OK accepted: the margins in points, and the pages.
    const Margins &AcceptedMargins() const { return m_margins; }
    const std::vector<int> &Pages() const { return m_pages; }

    // The unit the dialog opens in, kept in the settings by the window.
    static Unit LastUnit() { return s_unit; }
    static void SetLastUnit(Unit unit) { s_unit = unit; }

    void done(int result) override;

private:
    // The value of a box in points; false with `error` when it is none.
    bool Read(Field field, double &points, QString &error) const;
    void Show(Field field, double points);
    // A margin typed: the size follows; a size typed: the far margin follows.
    void Follow(Field edited);
    void ChangeUnit(int index);
    void ShowPageSize();

    double m_width, m_height;
    int m_pageCount;
    Unit m_unit;
    std::array<QLineEdit *, kFields> m_boxes{};
    QComboBox *m_unitList = nullptr;
    QLineEdit *m_applyTo = nullptr;
    QLabel *m_problem = nullptr;
    QCheckBox *m_trimBox = nullptr;
    QLabel *m_pageSize = nullptr;  // the page's size as shown, in the unit
    Margins m_margins;
    std::vector<int> m_pages;
    static Unit s_unit;
};

}  // namespace crop

#endif
