#ifndef CROP_VIEW_SPLIT_PAGES_DIALOG_H
#define CROP_VIEW_SPLIT_PAGES_DIALOG_H

#include "crop/detect/content_detector.h"
#include "crop/detect/split.h"

#include <QDialog>
#include <QImage>

#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QDoubleSpinBox;

namespace crop {

// "Split Pages": columns and rows (up to 4 x 4; 2 x 1 at first), an
// overlap and a margin round each cell in points, whether to split evenly
// where a page has no gutter, one size for every cell, and the pages, as a
// range. A page of the range is drawn with the cells it would get,
// numbered in the order the copy takes them, and follows every change: the
// shown page while the range holds it, else the range's first page. The
// choices are kept from one use to the next. A range the document lacks
// is refused with the reason, and the dialog stays open.
class CSplitPagesDialog : public QDialog {
    Q_OBJECT
public:
    // A page's picture as an image (rows top-down, 24-bit) and its
    // density in pixels per point; a null image when it cannot be made.
    using PageImage = std::function<QImage(int page, double &pixelsPerPoint)>;
    // `image` is the shown page `shownPage`, `pixelsPerPoint` dense.
    CSplitPagesDialog(const QImage &image, double pixelsPerPoint, int shownPage, int pageCount, bool rightToLeft,
                      PageImage pageImage, QWidget *parent = nullptr);

    QSpinBox *Columns() const { return m_columns; }
    QSpinBox *Rows() const { return m_rows; }
    QDoubleSpinBox *Overlap() const { return m_overlap; }
    QDoubleSpinBox *Margin() const { return m_margin; }
    QCheckBox *Even() const { return m_even; }
    QCheckBox *Uniform() const { return m_uniform; }
    QLineEdit *Range() const { return m_range; }
    QLabel *Problem() const { return m_problem; }
    // The cells of the previewed page as drawn, in page points and grid
    // order, and the numbers they are drawn with.
    const std::vector<CropRect> &ShownCells() const { return m_cells; }
    const std::vector<int> &ShownNumbers() const { return m_numbers; }
    int PreviewedPage() const { return m_previewed; }

    SplitGrid Grid() const;
    double CellMargin() const;
    bool OneSize() const;
    const std::vector<int> &Pages() const { return m_pages; }
    void done(int result) override;

private:
    void PreviewRange();
    void Redraw();

    QImage m_image;
    double m_pixelsPerPoint;
    int m_shownPage, m_pageCount, m_previewed;
    bool m_rightToLeft;
    PageImage m_pageImage;
    QSpinBox *m_columns = nullptr, *m_rows = nullptr;
    QDoubleSpinBox *m_overlap = nullptr, *m_margin = nullptr;
    QCheckBox *m_even = nullptr, *m_uniform = nullptr;
    QLineEdit *m_range = nullptr;
    QLabel *m_preview = nullptr, *m_caption = nullptr, *m_problem = nullptr;
    std::vector<CropRect> m_cells;
    std::vector<int> m_numbers;
    std::vector<int> m_pages;

    // The choices the dialog last closed with.
    struct Last {
        int columns = 2, rows = 1;
        double overlap = 0, margin = -1;  // -1: Shrink All Pages' margin
        bool even = false, uniform = false;
        QString range = QStringLiteral("all");
    };
    static Last s_last;
};

}  // namespace crop

#endif
