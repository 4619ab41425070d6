/*
 * libravel.so: the page-rendering library.
 *
 * A plain C interface so the program can load it with dlopen and bind every
 * entry point by name. No entry point lets an exception or a rendering error
 * escape: failures come back as a 0 handle, a 0 bitmap or a 0 result.
 *
 * Threads: LS_LoadLibrary once per process before anything else; after that
 * any number of threads may each work on their own document handle. A
 * handle is used by one thread at a time.
 */
#ifndef RAVEL_RAVEL_H
#define RAVEL_RAVEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An open document. 0 is never a valid handle. */
typedef uintptr_t LS_Document;

/*
 * A 24-bit picture laid out like a device-independent bitmap: rows stored
 * bottom-up (row 0 is the bottom row of the picture), each pixel blue, green,
 * red, each row `stride` bytes (a multiple of 4, padding bytes zero). The
 * rows follow the header in the same allocation; `bits` points at row 0.
 */
typedef struct LS_Bitmap {
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel; /* 24; 8 for LS_RenderGrayCancellable */
    int32_t stride;
    uint64_t sizeImage; /* stride * height */
    unsigned char *bits;
} LS_Bitmap;

/* Largest picture, in bits of pixel data, that the library produces. */
#define LS_MAX_BITMAP_BITS 0x80000000u

/* Process-wide set-up; nonzero when ready. `name` is the file name the
 * library was loaded under (informational). Safe to call more than once. */
int LS_LoadLibrary(const char *name);
/* Process-wide release. Every document must be closed before. */
void LS_FreeLibrary(void);

/* Opens a PDF file; `flag` is 1. Returns 0 when the file is missing, is not
 * a PDF, is damaged beyond repair or needs a password. */
LS_Document LS_OpenFile(const char *path, int flag);
/* LS_OpenFile for a file that may be locked by a password: `password`
 * (null or empty for none) is tried as its user or owner password.
 * `status` (may be null) gets why nothing was opened, or LS_OPEN_OK. */
#define LS_OPEN_OK 0
#define LS_OPEN_UNREADABLE 1     /* missing, not a PDF, damaged beyond repair */
#define LS_OPEN_NEEDS_PASSWORD 2 /* locked, and no password was given */
#define LS_OPEN_WRONG_PASSWORD 3 /* locked, and the password given is not its own */
LS_Document LS_OpenFileWithPassword(const char *path, const char *password, int flag, int32_t *status);
void LS_CloseFile(LS_Document doc);

/* Number of pages; 0 for a bad handle. */
int LS_Pages(LS_Document doc);

/* The shown size of every page, as LS_PageExtent gives each one's width
 * and height, found in one walk of the page tree (asking LS_PageExtent for
 * each page of a long flat tree walks the tree once a page). `count` must
 * be LS_Pages; `sizes` gets 2 * count doubles, width then height of page 1,
 * page 2, and so on. Returns count when every page was measured; 0 (and
 * `sizes` undefined) for a bad handle, another count, or a page tree whose
 * walk does not agree with how pages are counted: the caller then asks
 * LS_PageExtent page by page. */
int LS_PageSizes(LS_Document doc, double *sizes, int count);

/* What page `page` is made of, from its content alone (annotations left
 * out), without decoding a picture: facts[0] the share of the shown page
 * covered by its largest picture, in thousandths; facts[1] the glyphs of
 * visible text (invisible text, such as a scan's text layer, is not
 * counted); facts[2] the paths filled or stroked. Nonzero on success. */
int LS_PageFacts(LS_Document doc, int page, int32_t *facts);

/* Every later render of page `page` through this handle (LS_DIBitmap24,
 * the regions, grey and ink pictures and thumbnails) shows it turned by
 * `degrees` counterclockwise about the centre of the shown page, within
 * the same extent; 0 shows it level again. Nonzero on success; 0 for a bad
 * handle or page, or more than 45 degrees either way. */
int LS_SetPageTurn(LS_Document doc, int page, double degrees);

/* Every later use of page `page` through this handle (its extent and size,
 * its boxes, every render) shows it turned a further `degrees` clockwise:
 * 90, 180 or 270, or 0 for the page as the file shows it. A turn set with
 * LS_SetPageTurn applies after it, about the centre of the page so shown.
 * Nonzero on success; 0 for a bad handle or page or another angle. */
int LS_SetPageRotation(LS_Document doc, int page, int degrees);

/* Stored only: the caller passes pixel sizes to LS_DIBitmap24. */
int LS_SetResolution(LS_Document doc, int dpi);

/* The page as a viewer shows it (the crop box clipped to the media box, the
 * page rotation applied) as 0, 0, width, height in points. Returns nonzero on
 * success; on failure (bad handle, page out of range) the four doubles are
 * left untouched and 0 is returned. `page` counts from 1; `extra` is unused. */
int LS_PageExtent(LS_Document doc, int page, double *box, int extra);

/* Which box of a page LS_PageBox gives. */
#define LS_TRIM_BOX 1
#define LS_BLEED_BOX 2
#define LS_ART_BOX 3

/* The page's own trim, bleed or art box (`which`, one of the LS_*_BOX) as
 * x0, y0, x1, y1 in points of the page as a viewer shows it (origin at its
 * top-left corner, y downwards, the rotation applied), clipped to the
 * shown page. Nonzero on success; 0, the four doubles untouched, when the
 * page has no such box, it lies wholly outside the shown page, or for a
 * bad handle, page or `which`. */
int LS_PageBox(LS_Document doc, int page, int which, double *box);

/* Renders the whole visible page, annotations included, on white into
 * exactly width x height pixels. `zero1`, `scale` (two doubles), `zero2`
 * and `slot` are accepted for compatibility and not used. Returns 0 for a
 * bad handle or page, a size <= 0 or a picture over LS_MAX_BITMAP_BITS.
 * Free the result with LS_DeleteBitmap. */
LS_Bitmap *LS_DIBitmap24(LS_Document doc, int zero1, int page, const double *scale, int zero2, int width, int height,
                         int32_t *slot);
void LS_DeleteBitmap(LS_Bitmap *bitmap);

/* Renders one region of the page: the picture LS_DIBitmap24 would make at
 * width x height pixels, of which only the w x h pixels from (x, y) (counted
 * from the top-left corner) are drawn and returned, laid out as
 * LS_DIBitmap24's. The whole width x height may pass LS_MAX_BITMAP_BITS;
 * the region may not. Returns 0 for a bad handle or page, a size <= 0, or a
 * region that does not lie within 0, 0, width, height. Free the result with
 * LS_DeleteBitmap. */
LS_Bitmap *LS_RenderRegion(LS_Document doc, int page, int width, int height, int x, int y, int w, int h);

/* A render another thread can stop: make one with LS_NewCancel, pass it to
 * LS_RenderRegionCancellable, and call LS_Cancel on it from any thread to
 * make that render stop at its next check and return 0. A cancel stays
 * set: make a new one for the next render. Free it with LS_DeleteCancel
 * once no render uses it. LS_NewCancel returns 0 when out of memory. */
typedef struct LS_CancelFlag LS_CancelFlag;
LS_CancelFlag *LS_NewCancel(void);
void LS_Cancel(LS_CancelFlag *cancel);
void LS_DeleteCancel(LS_CancelFlag *cancel);
/* Nonzero once `cancel` (which may be 0) has been cancelled. */
int LS_IsCancelled(const LS_CancelFlag *cancel);

/* LS_RenderRegion that stops, returning 0, once `cancel` (which may be 0)
 * has been cancelled. */
LS_Bitmap *LS_RenderRegionCancellable(LS_Document doc, int page, int width, int height, int x, int y, int w, int h,
                                      LS_CancelFlag *cancel);

/* The whole page as LS_RenderRegionCancellable draws it at width x height,
 * in grey: one byte a pixel (0 black, 255 white) and bitsPerPixel 8, rows
 * bottom-up as for the others. A third of the memory and less work, for
 * callers that only look at where the ink is. */
LS_Bitmap *LS_RenderGrayCancellable(LS_Document doc, int page, int width, int height, LS_CancelFlag *cancel);

/* The region (x, y, w, h) of the page at width x height in grey, as
 * LS_RenderGrayCancellable draws the whole page, except that glyphs of
 * dark text lying wholly within `inside` may be left out: for callers
 * that look only for the box of the ink and know that the ink there lies
 * within the box they will find anyway. `inside` and `leftOut` are
 * {x0, y0, x1, y1}: pixels of the whole width x height picture, rows
 * counted from the top, right and bottom exclusive. `leftOut` receives the
 * box of all that was left out, all zero when nothing was. Outside it the
 * picture is the whole one exactly; inside it a pixel may be lighter than
 * the whole one's, never darker, so where this picture has ink the whole
 * one has too. Where the ink found does not cover `leftOut`, draw the part
 * beyond it again with `inside` 0. `inside` may be 0: nothing is left out. */
LS_Bitmap *LS_RenderInkCancellable(LS_Document doc, int page, int width, int height, int x, int y, int w, int h,
                                   const int32_t *inside, int32_t *leftOut, LS_CancelFlag *cancel);

/* The box of the ink of the page as LS_RenderGrayCancellable draws it at
 * width x height, found without drawing the whole picture: the page's
 * drawing operations are bounded, then thin strips are drawn inward from
 * each side of that bound to the first pixel that is not white. Returns 1
 * with `box` {x0, y0, x1, y1} (pixels, rows counted from the top, right and
 * bottom exclusive), 2 when the page has no ink at all, 3 for a page that
 * one upright picture covers the most of (a scan) with `box` {its width
 * and height in pixels, the width and height it is drawn at in pixels of
 * the width x height picture}, 4 for such a page of which nothing is in
 * colour (a picture in grey, nothing painted in a colour space of more
 * than grey), and 0 when its paper cannot be taken for
 * white that way (a picture, shading or pattern over more than a
 * hundredth of it, fills that are not white over more than a quarter),
 * when cancelled, or on failure: the page is to be drawn then. */
int LS_InkBoxCancellable(LS_Document doc, int page, int width, int height, int32_t *box, LS_CancelFlag *cancel);

/* Renders the page to fit within 160 x 200 pixels and writes it as a JPEG
 * file at `jpegPath`. Nonzero on success. */
int LS_Thumbnail(LS_Document doc, const char *jpegPath, int page, int32_t *slot);
/* LS_Thumbnail that stops, writing nothing and returning 0, once `cancel`
 * (which may be 0) has been cancelled. */
int LS_ThumbnailCancellable(LS_Document doc, const char *jpegPath, int page, LS_CancelFlag *cancel);

/* Writes the thumbnail stored in the page (/Thumb) as a JPEG file at
 * `jpegPath`. Nonzero when the page has one and it was written. */
int LS_GetPDFThumbnail(const char *pdfPath, const char *jpegPath, int page, int32_t *slot);

/* Writes a whole copy of the PDF at `path` as this library reads it: a
 * damaged file repaired (its cross-reference rebuilt from the objects
 * found), every object kept as it is read, streams as they are stored and
 * the encryption as it was. The bytes go to the open file `fd`, from its
 * current position; `fd` stays open. Nonzero when the copy was written
 * whole; 0 when the file is missing, is not a PDF, is damaged beyond
 * repair or needs a password, or when the copy cannot be written (part of
 * it may have been). */
int LS_WriteRepaired(const char *path, int fd);

/* Writes a whole copy of the PDF at `path` (opened with `password`, null
 * or empty for none) that holds nothing wholly outside each page's crop
 * box (within its media box): glyphs, images, annotations and form fields
 * (with their entries in the document's form) outside it are removed, and
 * so are paths the page's own content paints outside it (not those inside
 * forms it draws, nor clipping paths); objects nothing uses any more are
 * left out. A glyph, an image or a path that lies partly inside is kept
 * whole. The encryption is kept. The bytes go to `fd` from its current
 * position. `removed` (may be null) gets 5 counts: glyphs, images,
 * annotations (widgets among them), form fields' widgets, paths. Nonzero
 * when the copy was written whole. */
int LS_WriteWithoutHidden(const char *path, const char *password, int fd, int32_t *removed);

/* Why the calling thread's last LS_WriteRepaired or LS_WriteWithoutHidden
 * that returned 0 failed: the system's error number when writing the copy
 * to `fd` failed (ENOSPC when the disk is full), else 0. `message` (may be
 * null) gets a short reason in English, cut to `capacity` bytes with the
 * terminating zero. */
int LS_LastWriteError(char *message, int capacity);

#ifdef __cplusplus
}
#endif

#endif
