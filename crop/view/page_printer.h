#ifndef CROP_VIEW_PAGE_PRINTER_H
#define CROP_VIEW_PAGE_PRINTER_H

#include "render/page_image.h"
#include "render/page_source.h"

#include <QString>

class QPrinter;

namespace crop {

// The most dots per inch a page is rendered at for printing.
inline constexpr int kMaxPrintDpi = 300;

// Prints page `page` (from 1) of `source` on one sheet of `printer`, upright
// as the page is shown, fitted to the printable area and centred in it. A
// PDF page is rendered afresh through the rendering library at the
// printer's resolution (at most kMaxPrintDpi), in bands, so no single
// picture grows past the library's limit however large the sheet; a
// picture document's frame is scaled from `picture`. False, with the
// reason, when nothing could be printed.
bool PrintPage(QPrinter &printer, render::PageSource &source, int page, const render::PageImage &picture,
               QString &error);

}  // namespace crop

#endif
