#ifndef RENDER_PAGE_RENDER_H
#define RENDER_PAGE_RENDER_H

#include "render/bitmap.h"
#include "render/page_source.h"

#include <QRect>
#include <QString>

namespace render {

// Every page is rendered at 101 dots per inch times 1.5 (about 2.1 pixels
// per point): the picture the page view shows and scales, and what the
// content of a page is found on.
inline constexpr int kPageResolution = 101;
inline constexpr double kPageScale = 1.5;
// The pixel size of a page whose extent gives no size (8.5 x 11 inches).
inline constexpr int kPageDefaultWidthPx = 858;
inline constexpr int kPageDefaultHeightPx = 1111;

// The picture of one page as the document shows it: for a PDF (and a
// metafile, whose extent counts as points) the page rendered at
// kPageResolution times kPageScale, or at the largest size a picture may
// have when that is too large; for a picture file its frame, each pixel a
// point. `pageRect` gets the page's rectangle in whole points. Null, with
// the reason, when the page cannot be rendered; `note` tells when the page
// was rendered at less than the usual resolution. With `cancel`, a PDF
// page stops rendering (null) once it is cancelled. With `grey`, a PDF
// page comes in 8-bit grey at the same size, where the library can.
//
// With `leaveOut` as well, a grey picture of the size `leaveOut->picture`
// may leave out dark text within `leaveOut->inside` (PageSource::RenderInk),
// and `leaveOut->leftOut` gets the box of what was left out.
struct LeaveOutText {
    QSize picture;
    QRect inside;
    QRect leftOut;
};
// The size in pixels of the picture RenderPageBitmap makes of PDF page
// `page`, with `pageRect` and `note` as it gives them. A valid `size`
// given to RenderPageBitmap is the picture's size in its place.
QSize PagePictureSize(PageSource &source, int page, QRect &pageRect, QString &note);
BitmapHandle RenderPageBitmap(PageSource &source, int page, QRect &pageRect, QString &reason, QString &note,
                              LS_CancelFlag *cancel = nullptr, bool grey = false, LeaveOutText *leaveOut = nullptr,
                              QSize size = QSize());

}  // namespace render

#endif
