#include "crop/view/page_printer.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <cstring>

namespace crop {
namespace {

constexpr int kBandRows = 256;

// A bottom-up 24-bit bitmap as a top-down image.
QImage ToImage(const render::Bitmap &bitmap) {
    QImage image(bitmap.width, bitmap.height, QImage::Format_RGB888);
    if (image.isNull())
        return image;
    for (int y = 0; y < bitmap.height; ++y) {
        const uint8_t *in = bitmap.bits + size_t(bitmap.height - 1 - y) * size_t(bitmap.stride);
        uint8_t *out = image.scanLine(y);
        for (int x = 0; x < bitmap.width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return image;
}

// Rows `top` .. `top + rows` of the page printed at width x height.
QImage Band(render::PageSource &source, int page, const render::PageImage &picture, int width, int height, int top,
            int rows) {
    if (source.Kind() == render::SourceKind::Pdf) {
        render::BitmapHandle bitmap = source.RenderRegion(page, width, height, 0, top, width, rows);
        return bitmap ? ToImage(*bitmap) : QImage();
    }
    QImage band(width, rows, QImage::Format_RGB32);
    if (band.isNull())
        return band;
    band.fill(Qt::white);
    QPainter painter(&band);
    painter.translate(0, -top);
    picture.Paint(painter, QRect(0, 0, width, height), nullptr, true);
    return band;
}

}  // namespace

bool PrintPage(QPrinter &printer, render::PageSource &source, int page, const render::PageImage &picture,
               QString &error) {
    double pw = 0, ph = 0;  // the page as shown, in points (pixels for a picture)
    switch (source.Kind()) {
    case render::SourceKind::Pdf: {
        render::PageExtent extent;
        if (source.PageExtent(page, &extent, 0)) {
            pw = extent.x2 - extent.x1;
            ph = extent.y2 - extent.y1;
        }
        break;
    }
    case render::SourceKind::Image:
        pw = picture.Width();
        ph = picture.Height();
        break;
    default:
        error = QStringLiteral("drawings in enhanced metafiles are not rendered");
        return false;
    }
    if (pw <= 0 || ph <= 0) {
        error = QStringLiteral("the page has no size");
        return false;
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        error = QStringLiteral("the printer could not be started");
        return false;
    }
    // Text stays sharp: no lossy compression of the page's pictures.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    const int deviceDpi = std::max(printer.resolution(), 1);
    const int dpi = std::min(deviceDpi, kMaxPrintDpi);
    const double toDevice = double(deviceDpi) / dpi;
    // The painter's origin is the printable area's top-left corner.
    const QRect area = printer.pageLayout().paintRectPixels(deviceDpi);
    const double areaWidth = area.width() / toDevice, areaHeight = area.height() / toDevice;
    const double fit = std::min(areaWidth / pw, areaHeight / ph);
    const int width = std::max(1, int(pw * fit)), height = std::max(1, int(ph * fit));
    const double left = (areaWidth - width) / 2, top = (areaHeight - height) / 2;

    for (int y = 0; y < height; y += kBandRows) {
        const int rows = std::min(kBandRows, height - y);
        const QImage band = Band(source, page, picture, width, height, y, rows);
        if (band.isNull()) {
            painter.end();
            error = QStringLiteral("the rendering library could not render it");
            return false;
        }
        painter.drawImage(QRectF(left * toDevice, (top + y) * toDevice, width * toDevice, rows * toDevice), band);
    }
    painter.end();
    return true;
}

}  // namespace crop
