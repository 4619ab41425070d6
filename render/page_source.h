#ifndef RENDER_PAGE_SOURCE_H
#define RENDER_PAGE_SOURCE_H

// The open form of one document file: a number of pages, a box for each
// page and a picture of a page on request. PDF files go through the
// rendering library, enhanced metafiles through their header, and every
// other file through the page image's decoders, its frames counting as
// pages. The kind is chosen by the file's extension, whatever its case.

#include "render/bitmap.h"

#include <cstdint>
#include <memory>
#include <string>

namespace render {

struct PageSource;

enum PageSourceKindCode { kSourcePdf = 1, kSourceMetafile = 2, kSourceImage = 3 };

// x1, y1, x2, y2 of a page's box: points for PDF, the header's bounds
// units for a metafile, pixels for a picture.
struct PageExtent {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// Releases everything; accepts null.
void PageSourceClose(PageSource *source);

struct PageSourceCloser {
    void operator()(PageSource *source) const { PageSourceClose(source); }
};
using PageSourceHandle = std::unique_ptr<PageSource, PageSourceCloser>;

// Null when the file cannot be opened (missing, damaged, locked by a
// password, not a format we read). `openFlag` goes to the rendering
// library.
PageSourceHandle PageSourceOpen(const std::string &path, int openFlag);

// 1, 2 or 3; 0 for null.
int PageSourceKind(const PageSource *source);
// Pages (at least 1 for metafiles and pictures); 0 for null.
int PageSourcePageCount(PageSource *source);
void PageSourceSetResolution(PageSource *source, int dpi);
// Fills `extent` for page `page` (from 1); 0 for null, or when the
// rendering library refuses the page.
int PageSourcePageExtent(PageSource *source, int page, PageExtent *extent, int extra);
// A picture of PDF page `page` at exactly width x height pixels; the other
// arguments go unchanged to the rendering library. Null on failure and for
// sources that are not PDF.
BitmapHandle PageSourceRenderPage(PageSource *source, int zero1, int page, const double *scale, int zero2,
                                  int width, int height, int32_t *slot);
// Frame `page` (from 1) of a picture; null for other kinds. The file is
// decoded again only when the frame changes.
BitmapHandle PageSourceRenderFrame(PageSource *source, int page);

// How many times the source has decoded its picture file.
int PageSourceDecodeCount(const PageSource *source);

}  // namespace render

#endif
