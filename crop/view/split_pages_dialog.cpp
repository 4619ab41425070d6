#include "crop/view/split_pages_dialog.h"

#include "crop/detect/page_range.h"
#include "crop/view/shrink_all_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace crop {

CSplitPagesDialog::Last CSplitPagesDialog::s_last;

namespace {

// A picture's rows as the detector reads them: an image's rows are stored
// top-down, so its view starts at the last row and steps back.
PixelView ViewOf(const QImage &image) {
    PixelView view;
    if (image.isNull() || image.format() != QImage::Format_BGR888)
        return view;
    view.bits = image.constScanLine(image.height() - 1);
    view.width = image.width();
    view.height = image.height();
    view.stride = -ptrdiff_t(image.bytesPerLine());
    view.channels = 3;
    return view;
}

}  // namespace

CSplitPagesDialog::CSplitPagesDialog(const QImage &image, double pixelsPerPoint, int shownPage, int pageCount,
                                     bool rightToLeft, PageImage pageImage, QWidget *parent)
    : QDialog(parent),
      m_image(image),
      m_pixelsPerPoint(pixelsPerPoint),
      m_shownPage(shownPage),
      m_pageCount(pageCount),
      m_previewed(shownPage),
      m_rightToLeft(rightToLeft),
      m_pageImage(std::move(pageImage)) {
    setWindowTitle(QStringLiteral("Split Pages"));
    m_columns = new QSpinBox(this);
    m_columns->setRange(1, SplitGrid::kMost);
    m_columns->setValue(s_last.columns);
    m_rows = new QSpinBox(this);
    m_rows->setRange(1, SplitGrid::kMost);
    m_rows->setValue(s_last.rows);
    m_overlap = new QDoubleSpinBox(this);
    m_overlap->setRange(0, 144);
    m_overlap->setSuffix(QStringLiteral(" pt"));
    m_overlap->setValue(s_last.overlap);
    m_margin = new QDoubleSpinBox(this);
    m_margin->setRange(0, 144);
    m_margin->setDecimals(1);
    m_margin->setSuffix(QStringLiteral(" pt"));
    m_margin->setValue(s_last.margin >= 0 ? s_last.margin : CShrinkAllDialog::LastOptions().margin);
    m_even = new QCheckBox(QStringLiteral("Split &evenly where there is no gutter"), this);
    m_even->setChecked(s_last.even);
    m_uniform = new QCheckBox(QStringLiteral("One si&ze for every cell"), this);
    m_uniform->setChecked(s_last.uniform);
    m_range = new QLineEdit(s_last.range, this);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();
    m_preview = new QLabel(this);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setMinimumSize(360, 360);
    m_caption = new QLabel(this);
    m_caption->setAlignment(Qt::AlignCenter);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Columns:"), m_columns);
    form->addRow(QStringLiteral("&Rows:"), m_rows);
    form->addRow(QStringLiteral("&Overlap:"), m_overlap);
    form->addRow(QStringLiteral("&Margin round each cell:"), m_margin);
    form->addRow(m_even);
    form->addRow(m_uniform);
    form->addRow(QStringLiteral("&Pages:"), m_range);
    form->addRow(m_problem);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addLayout(form);
    auto *pictured = new QVBoxLayout;
    pictured->addWidget(m_preview, 1);
    pictured->addWidget(m_caption);
    row->addLayout(pictured, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    for (QSpinBox *box : {m_columns, m_rows})
        connect(box, &QSpinBox::valueChanged, this, &CSplitPagesDialog::Redraw);
    for (QDoubleSpinBox *box : {m_overlap, m_margin})
        connect(box, &QDoubleSpinBox::valueChanged, this, &CSplitPagesDialog::Redraw);
    for (QCheckBox *box : {m_even, m_uniform})
        connect(box, &QCheckBox::toggled, this, &CSplitPagesDialog::Redraw);
    connect(m_range, &QLineEdit::textEdited, m_problem, &QWidget::hide);
    connect(m_range, &QLineEdit::textChanged, this, &CSplitPagesDialog::PreviewRange);
    PreviewRange();
    Redraw();
    m_columns->setFocus();
    m_columns->selectAll();
}

SplitGrid CSplitPagesDialog::Grid() const {
    return {m_columns->value(), m_rows->value(), m_overlap->value(), m_even->isChecked()};
}

double CSplitPagesDialog::CellMargin() const { return m_margin->value(); }

bool CSplitPagesDialog::OneSize() const { return m_uniform->isChecked(); }

void CSplitPagesDialog::PreviewRange() {
    // The shown page while the range holds it, else the range's first.
    std::vector<int> pages;
    std::string error;
    if (!ParsePageRange(m_range->text().toStdString(), m_pageCount, pages, error) || pages.empty())
        return;
    const int wanted = std::find(pages.begin(), pages.end(), m_shownPage) != pages.end() ? m_shownPage : pages.front();
    if (wanted == m_previewed || !m_pageImage)
        return;
    double density = 0;
    QImage image = m_pageImage(wanted, density);
    if (image.isNull() || density <= 0)
        return;
    m_image = image.convertToFormat(QImage::Format_BGR888);
    m_pixelsPerPoint = density;
    m_previewed = wanted;
    Redraw();
}

void CSplitPagesDialog::Redraw() {
    const SplitGrid grid = Grid();
    m_cells.clear();
    m_numbers.clear();
    if (grid.columns * grid.rows > 1 && !m_image.isNull() && m_pixelsPerPoint > 0) {
        const PixelView view = ViewOf(m_image);
        m_cells = FitCells(SplitPage(view, m_pixelsPerPoint, grid).cells, m_margin->value(), m_uniform->isChecked(),
                           view.width / m_pixelsPerPoint, view.height / m_pixelsPerPoint);
        // Numbered as the copy takes them.
        m_numbers.assign(m_cells.size(), 0);
        const std::vector<int> order = ReadingOrder(m_cells, m_rightToLeft);
        for (size_t k = 0; k < order.size(); ++k)
            m_numbers[size_t(order[k])] = int(k) + 1;
    }
    if (m_image.isNull())
        return;
    // The page, 360 pixels high at most, with its cells.
    QImage shown = m_image.scaled(QSize(360, 360), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32);
    const double scale = double(shown.width()) / m_image.width() * m_pixelsPerPoint;
    QPainter painter(&shown);
    painter.setPen(QPen(QColor(255, 0, 0), 2, Qt::DashLine));
    for (size_t i = 0; i < m_cells.size(); ++i) {
        const CropRect &c = m_cells[i];
        const QRectF r(c.left * scale, c.top * scale, (c.right - c.left) * scale, (c.bottom - c.top) * scale);
        painter.drawRect(r);
        painter.drawText(r.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, QString::number(m_numbers[i]));
    }
    painter.end();
    m_preview->setPixmap(QPixmap::fromImage(shown));
    m_caption->setText(QStringLiteral("Page %1").arg(m_previewed));
}

void CSplitPagesDialog::done(int result) {
    if (result == QDialog::Accepted) {
        std::string error;
        if (m_columns->value() * m_rows->value() < 2)
            error = "1 x 1 splits nothing: give two columns or two rows at least.";
        else
            ParsePageRange(m_range->text().toStdString(), m_pageCount, m_pages, error);
        if (!error.empty()) {
            m_problem->setText(QString::fromStdString(error));
            m_problem->show();
            return;  // the dialog stays open
        }
        s_last = {m_columns->value(),  m_rows->value(),        m_overlap->value(), m_margin->value(),
                  m_even->isChecked(), m_uniform->isChecked(), m_range->text()};
    }
    QDialog::done(result);
}

}  // namespace crop
