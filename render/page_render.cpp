#include "render/page_render.h"

#include "render/page_image.h"
#include "render/rendering_library.h"

#include <algorithm>
#include <cmath>

namespace render {
namespace {

// A pixel count from a size in points, kept within what an int holds.
int PixelsFor(double value) { return int(std::clamp(std::trunc(value), 1.0, 1.0e9)); }

}  // namespace

QSize PagePictureSize(PageSource &source, int page, QRect &pageRect, QString &note) {
    note.clear();
    PageExtent extent;
    source.PageExtent(page, &extent, 0);
    int widthPx = kPageDefaultWidthPx, heightPx = kPageDefaultHeightPx;
    int widthPt = 0, heightPt = 0;
    if (extent.x2 != 0 && extent.y2 != 0) {
        const double w = extent.x2 - extent.x1, h = extent.y2 - extent.y1;
        widthPx = PixelsFor(w * kPageResolution / 72);
        heightPx = PixelsFor(h * kPageResolution / 72);
        widthPt = int(std::clamp(w, 0.0, 1.0e9));
        heightPt = int(std::clamp(h, 0.0, 1.0e9));
    }
    widthPx = PixelsFor(widthPx * kPageScale);
    heightPx = PixelsFor(heightPx * kPageScale);
    source.SetResolution(kPageResolution);
    pageRect = QRect(0, 0, widthPt, heightPt);

    // A page too large for a picture at the usual density (a banner, a
    // map) is rendered at the largest size a picture may have.
    if (!WithinPageImageLimit(uint32_t(widthPx), uint32_t(heightPx), 24)) {
        const double fullWidth = widthPx, fullHeight = heightPx;
        double factor = std::sqrt(double(kPageImageMaxBits) / (24.0 * fullWidth * fullHeight));
        do {
            widthPx = std::max(1, int(fullWidth * factor));
            heightPx = std::max(1, int(fullHeight * factor));
            factor *= 0.999;
        } while (!WithinPageImageLimit(uint32_t(widthPx), uint32_t(heightPx), 24));
        note = QStringLiteral("Page %1 is shown at %2% resolution: it is too large for more.")
                   .arg(page)
                   .arg(std::max(1, int(std::lround(100.0 * widthPx / fullWidth))));
    }
    return QSize(widthPx, heightPx);
}

BitmapHandle RenderPageBitmap(PageSource &source, int page, QRect &pageRect, QString &reason, QString &note,
                              LS_CancelFlag *cancel, bool grey, LeaveOutText *leaveOut, QSize size) {
    note.clear();
    if (leaveOut)
        leaveOut->leftOut = QRect();
    if (source.Kind() == SourceKind::Image) {
        // The frame itself is shown, its size in pixels taken as points.
        BitmapHandle bitmap = source.RenderFrame(page);
        if (!bitmap)
            reason = QStringLiteral("its picture cannot be decoded");
        else
            pageRect = QRect(0, 0, bitmap->width, bitmap->height);
        return bitmap;
    }
    const QSize usual = PagePictureSize(source, page, pageRect, note);
    if (!size.isValid() || size.isEmpty())
        size = usual;
    const int widthPx = size.width(), heightPx = size.height();
    if (source.Kind() != SourceKind::Pdf) {
        reason = QStringLiteral("drawings in enhanced metafiles are not rendered");
        return nullptr;
    }

    const double scale[2] = {kPageScale, kPageScale};
    int32_t slot = 0;
    // The same picture either way: the whole page as a region.
    BitmapHandle bitmap;
    if (grey && leaveOut && !leaveOut->inside.isEmpty() && leaveOut->picture == QSize(widthPx, heightPx))
        bitmap = source.RenderInk(page, widthPx, heightPx, QRect(0, 0, widthPx, heightPx), leaveOut->inside,
                                  &leaveOut->leftOut, cancel);
    if (!bitmap && grey && !(cancel && Ravel().IsCancelled(cancel)))
        bitmap = source.RenderGrey(page, widthPx, heightPx, cancel);
    if (!bitmap && !(cancel && Ravel().IsCancelled(cancel)))
        bitmap = cancel ? source.RenderRegion(page, widthPx, heightPx, 0, 0, widthPx, heightPx, cancel)
                        : source.RenderPage(0, page, scale, 0, widthPx, heightPx, &slot);
    if (!bitmap)
        reason = QStringLiteral("the rendering library could not render it");
    return bitmap;
}

}  // namespace render
