#ifndef RENDER_PAGE_SOURCE_H
#define RENDER_PAGE_SOURCE_H

// The open form of one document file: a number of pages, a box for each
// page and a picture of a page on request. PDF files go through the
// rendering library, enhanced metafiles through their header, and every
// other file through the page image's decoders, its frames counting as
// pages. The kind is chosen by the file's extension, whatever its case.

#include "render/bitmap.h"
#include "render/page_image.h"
#include "render/page_turns.h"
#include "render/ravel_document.h"
#include "platform/secret.h"

#include <QRect>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace render {

enum class SourceKind { None = 0, Pdf = 1, Metafile = 2, Image = 3 };

// Why a file did not open.
enum class OpenFailure { None, Unreadable, NeedsPassword, WrongPassword };

// x1, y1, x2, y2 of a page's box: points for PDF, the header's bounds
// units for a metafile, pixels for a picture.
struct PageExtent {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// What a PDF page is made of (LS_PageFacts).
struct PageFacts {
    double pictureCover = 0;  // the share of the page its largest picture covers
    int glyphs = 0;           // of visible text
    int paths = 0;
    // A scanned page: one picture over most of it, and hardly any visible
    // text of its own (a scan's text layer is invisible).
    bool Scan() const { return pictureCover >= 0.6 && glyphs <= 40; }
};

// One source is used by one thread at a time.
class PageSource {
public:
    // Null when the file cannot be opened (missing, damaged, locked by a
    // password, not a format we read, or a PDF while the rendering library
    // is not loaded). `openFlag` goes to the rendering library.
    static std::unique_ptr<PageSource> Open(const std::string &path, int openFlag);
    // Open of a PDF that may be locked: `password` (null for none) is
    // tried, and `why` (may be null) gets why nothing was opened.
    static std::unique_ptr<PageSource> Open(const std::string &path, int openFlag, const platform::Secret *password,
                                            OpenFailure *why);
    // Closing releases the document handle, the metafile and the picture.
    ~PageSource() = default;
    PageSource(const PageSource &) = delete;
    PageSource &operator=(const PageSource &) = delete;

    SourceKind Kind() const { return m_kind; }
    const std::string &Path() const { return m_path; }
    // Pages (at least 1 for metafiles and pictures).
    int PageCount();
    void SetResolution(int dpi);
    // Fills `extent` for page `page` (from 1); 0 when the rendering library
    // refuses the page.
    int PageExtent(int page, render::PageExtent *extent, int extra);
    // The shown width and height in points of every page of a PDF, as
    // PageExtent gives them, measured in one go; empty when that cannot be
    // done (other kinds, an odd page tree), and pages are then measured one
    // by one.
    std::vector<std::pair<double, double>> PageSizes();
    // A picture of PDF page `page` at exactly width x height pixels; the
    // other arguments go unchanged to the rendering library. Null on
    // failure and for sources that are not PDF.
    BitmapHandle RenderPage(int zero1, int page, const double *scale, int zero2, int width, int height, int32_t *slot);
    // The w x h pixels from (x, y) of the picture RenderPage would make at
    // width x height; the whole may be larger than a picture can be. Null
    // on failure and for sources that are not PDF.
    BitmapHandle RenderRegion(int page, int width, int height, int x, int y, int w, int h);
    // RenderRegion that stops, giving null, once `cancel` is cancelled
    // (from any thread).
    BitmapHandle RenderRegion(int page, int width, int height, int x, int y, int w, int h, LS_CancelFlag *cancel);
    // The whole page at width x height in 8-bit grey (a grey palette),
    // stopped by `cancel` as RenderRegion is; null on failure, for sources
    // that are not PDF and where the library renders no grey.
    BitmapHandle RenderGrey(int page, int width, int height, LS_CancelFlag *cancel);
    // The region of RenderGrey's picture that `region` (pixels of the whole
    // width x height picture, rows from the top) covers, leaving out dark
    // text within `inside` as LS_RenderInkCancellable does; `leftOut` gets
    // the box of what was left out (empty when nothing was). Null on
    // failure, or when the library cannot.
    BitmapHandle RenderInk(int page, int width, int height, const QRect &region, const QRect &inside, QRect *leftOut,
                           LS_CancelFlag *cancel);
    // The box of the ink of RenderGrey's picture (pixels, rows from the
    // top), found as LS_InkBoxCancellable finds it without drawing the
    // whole page: Found with `box`, Blank for a page without ink, Unknown
    // when the page is to be drawn instead (not plain white paper, not a
    // PDF, cancelled, or a library that cannot), Scan for a page that one
    // upright picture covers the most of, with `box` its size in pixels at
    // (0, 0) and `drawn` the size it is drawn at; GreyScan for such a page
    // with nothing in colour.
    enum class InkBoxResult { Found, Blank, Unknown, Scan, GreyScan };
    InkBoxResult InkBox(int page, int width, int height, QRect &box, QSize &drawn, LS_CancelFlag *cancel);
    // What PDF page `page` is made of; nothing for other kinds and pages
    // that cannot be read.
    std::optional<PageFacts> Facts(int page);
    // The page's own trim, bleed or art box (LS_TRIM_BOX, ...) in points of
    // the shown page, origin top-left, within it; nothing when it has none.
    std::optional<render::PageExtent> Box(int page, int which);
    // Frame `page` (from 1) of a picture; null for other kinds. The file is
    // decoded again only when the frame changes; a frame that fails to
    // decode leaves the source at the frame it held before.
    BitmapHandle RenderFrame(int page);

    // Pages drawn turned as `turns` holds them (each turn applied before
    // the page is drawn); null for none.
    void FollowTurns(std::shared_ptr<const PageTurns> turns) { m_turns = std::move(turns); }
    // The turn page `page` is drawn with from now on, for calls through
    // DocumentHandle (every render of the source applies it itself).
    double ApplyTurn(int page);
    // The pages' rotations as the shared turns hold them, given to the
    // library before anything is measured or drawn.
    void ApplyRotations();
    // Degrees clockwise page `page` is shown rotated by, past the file's own.
    int RotationOf(int page) const { return m_turns ? m_turns->RotationOf(page) : 0; }

    // The rendering library's handle of a PDF source (0 for other kinds),
    // for calls the source does not wrap; used on the source's thread only.
    LS_Document DocumentHandle() const { return m_document.Handle(); }

    // How many times the source has decoded its picture file.
    int DecodeCount() const { return m_decodes; }

private:
    PageSource() = default;

    SourceKind m_kind = SourceKind::None;
    std::string m_path;
    int m_pageCount = 0;
    RavelDocument m_document;
    PageImage m_image;
    render::PageExtent m_metafileBounds;  // from the metafile's header
    int m_decodes = 0;
    std::shared_ptr<const PageTurns> m_turns;
    std::map<int, double> m_applied;  // the turns the library draws pages with
    std::map<int, int> m_rotated;     // the rotations it shows pages with
    unsigned m_rotationVersion = 0;   // of the rotations it shows them with
};

}  // namespace render

#endif
