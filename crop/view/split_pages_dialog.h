#ifndef CROP_VIEW_SPLIT_PAGES_DIALOG_H
#define CROP_VIEW_SPLIT_PAGES_DIALOG_H

#include "crop/detect/content_detector.h"
#include "crop/detect/split.h"

#include <QDialog>
#include <QImage>

#include <vector>

class QLabel;
class QLineEdit;
class QSpinBox;
class QDoubleSpinBox;

namespace crop {

// "Split Pages": columns and rows (up to 4 x 4; 2 x 1 at first), an
// overlap in points, and the pages, as a range. The shown page is drawn
// with the cells it would get, and follows every change. A range the
// document lacks is refused with the reason, and the dialog stays open.
class CSplitPagesDialog : public QDialog {
    Q_OBJECT
public:
    // `page` is the shown page's picture (`pixelsPerPoint` dense), `image`
    // the same as an image to draw on.
    CSplitPagesDialog(const PixelView &page, double pixelsPerPoint, const QImage &image, int pageCount,
                      QWidget *parent = nullptr);

    QSpinBox *Columns() const { return m_columns; }
    QSpinBox *Rows() const { return m_rows; }
    QDoubleSpinBox *Overlap() const { return m_overlap; }
    QLineEdit *Range() const { return m_range; }
    QLabel *Problem() const { return m_problem; }
    // The cells of the shown page as drawn, in page points.
    const std::vector<CropRect> &ShownCells() const { return m_cells; }

    SplitGrid Grid() const;
    const std::vector<int> &Pages() const { return m_pages; }
    void done(int result) override;

private:
    void Redraw();

    PixelView m_page;
    double m_pixelsPerPoint;
    QImage m_image;
    int m_pageCount;
    QSpinBox *m_columns = nullptr, *m_rows = nullptr;
    QDoubleSpinBox *m_overlap = nullptr;
    QLineEdit *m_range = nullptr;
    QLabel *m_preview = nullptr, *m_problem = nullptr;
    std::vector<CropRect> m_cells;
    std::vector<int> m_pages;
};

}  // namespace crop

#endif
