#include "crop/view/split_pages_dialog.h"

#include "crop/detect/page_range.h"

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

namespace crop {

CSplitPagesDialog::CSplitPagesDialog(const PixelView &page, double pixelsPerPoint, const QImage &image, int pageCount,
                                     QWidget *parent)
    : QDialog(parent), m_page(page), m_pixelsPerPoint(pixelsPerPoint), m_image(image), m_pageCount(pageCount) {
    setWindowTitle(QStringLiteral("Split Pages"));
    m_columns = new QSpinBox(this);
    m_columns->setRange(1, SplitGrid::kMost);
    m_columns->setValue(2);
    m_rows = new QSpinBox(this);
    m_rows->setRange(1, SplitGrid::kMost);
    m_rows->setValue(1);
    m_overlap = new QDoubleSpinBox(this);
    m_overlap->setRange(0, 144);
    m_overlap->setSuffix(QStringLiteral(" pt"));
    m_range = new QLineEdit(QStringLiteral("all"), this);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->hide();
    m_preview = new QLabel(this);
    m_preview->setAlignment(Qt::AlignCenter);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Columns:"), m_columns);
    form->addRow(QStringLiteral("&Rows:"), m_rows);
    form->addRow(QStringLiteral("&Overlap:"), m_overlap);
    form->addRow(QStringLiteral("&Pages:"), m_range);
    form->addRow(m_problem);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addLayout(form);
    row->addWidget(m_preview, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    for (QSpinBox *box : {m_columns, m_rows})
        connect(box, &QSpinBox::valueChanged, this, &CSplitPagesDialog::Redraw);
    connect(m_overlap, &QDoubleSpinBox::valueChanged, this, &CSplitPagesDialog::Redraw);
    connect(m_range, &QLineEdit::textEdited, m_problem, &QWidget::hide);
    Redraw();
    m_columns->setFocus();
    m_columns->selectAll();
}

SplitGrid CSplitPagesDialog::Grid() const { return {m_columns->value(), m_rows->value(), m_overlap->value()}; }

void CSplitPagesDialog::Redraw() {
    const SplitGrid grid = Grid();
    m_cells = grid.columns * grid.rows > 1 ? SplitPage(m_page, m_pixelsPerPoint, grid) : std::vector<CropRect>();
    if (m_image.isNull())
        return;
    // The shown page, 360 pixels high at most, with its cells.
    QImage shown = m_image.scaled(QSize(360, 360), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32);
    const double scale = double(shown.width()) / m_image.width() * m_pixelsPerPoint;
    QPainter painter(&shown);
    painter.setPen(QPen(QColor(255, 0, 0), 2, Qt::DashLine));
    for (size_t i = 0; i < m_cells.size(); ++i) {
        const CropRect &c = m_cells[i];
        const QRectF r(c.left * scale, c.top * scale, (c.right - c.left) * scale, (c.bottom - c.top) * scale);
        painter.drawRect(r);
        painter.drawText(r.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, QString::number(i + 1));
    }
    painter.end();
    m_preview->setPixmap(QPixmap::fromImage(shown));
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
    }
    QDialog::done(result);
}

}  // namespace crop
