// libravel.so on MuPDF: rendering pages (whole, a region, in grey, with
// text left out through the ink device), a page's size, cancel flags and
// thumbnails. Opening documents is in document.cpp, the ink device in
// ink_device.cpp, every page's size at once in page_tree.cpp, repaired copies
// in repair.cpp, copies without hidden content in hidden_content.cpp.
//
// Every MuPDF call happens inside fz_try on the context of the document it
// works on; fz_try blocks hold no C++ objects with destructors, since MuPDF
// leaves them with longjmp. Each exported function also catches C++
// exceptions (allocation failures of our own bookkeeping) so nothing escapes
// the C interface.

#include "ravel/document.h"
#include "ravel/ink_device.h"
#include "ravel/jpeg_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace ravel;

namespace {

// The shown page in MuPDF's device space: (0, 0, width, height) in points.
bool PageBounds(Document *doc, int page, fz_rect *out) {
    volatile bool ok = false;
    fz_try(doc->ctx) {
        pdf_obj *obj = PageObject(doc, page - 1);
        fz_rect box;
        fz_matrix ctm;
        pdf_page_obj_transform(doc->ctx, obj, &box, &ctm);
        *out = fz_transform_rect(fz_transform_rect(box, ctm), ExtraRotation(doc, page - 1));
        ok = true;
    }
    fz_catch(doc->ctx) { ok = false; }
    return ok;
}

bool ValidPage(Document *doc, int page) { return page >= 1 && page <= PageCount(doc); }

// Pixel data within the limit the page image accepts.
bool WithinLimit(int width, int height) {
    uint64_t bits = uint64_t(width) * uint64_t(height) * 24u;
    return (bits & ~uint64_t(7)) <= LS_MAX_BITMAP_BITS;
}

}  // namespace

namespace ravel {

fz_matrix PageMatrix(Document *doc, pdf_page *pg, int page, int width, int height, int x, int y, int h, bool bottomUp) {
    fz_context *ctx = doc->ctx;
    const fz_matrix rotation = ExtraRotation(doc, page - 1);
    fz_rect bounds = fz_transform_rect(pdf_bound_page(ctx, pg), rotation);
    float bw = bounds.x1 - bounds.x0;
    float bh = bounds.y1 - bounds.y0;
    if (bw <= 0 || bh <= 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "empty page");
    fz_matrix ctm = fz_concat(fz_translate(-bounds.x0, -bounds.y0), fz_scale(float(width) / bw, float(height) / bh));
    if (const auto turn = doc->turns.find(page - 1); turn != doc->turns.end()) {
        // Counterclockwise as shown is clockwise in MuPDF's turn, whose
        // y runs down.
        const float cx = (bounds.x0 + bounds.x1) / 2, cy = (bounds.y0 + bounds.y1) / 2;
        ctm = fz_concat(
            fz_concat(fz_concat(fz_translate(-cx, -cy), fz_rotate(-float(turn->second))), fz_translate(cx, cy)), ctm);
    }
    ctm = fz_concat(rotation, ctm);
    ctm = fz_concat(ctm, fz_translate(-float(x), -float(y)));
    // Drawn upside down, the rows come out bottom row first.
    if (bottomUp)
        ctm = fz_concat(ctm, fz_concat(fz_scale(1, -1), fz_translate(0, float(h))));
    return ctm;
}

}  // namespace ravel

namespace {

// What may be left out of a picture and what was: boxes in pixels of the
// whole picture (width x height), rows counted from the top.
struct LeaveOut {
    fz_irect inside;
    fz_irect leftOut;
};

// Renders `page` scaled to exactly width x height, of which the w x h
// pixels from (x, y) go into `samples`: top-down rows of `stride` bytes in
// colour space `cs` (3 components or grey, no alpha); bottom row first
// when `bottomUp`. With `leaveOut`, dark text within its box may be left
// out (InkDevice).
bool RenderInto(Document *doc, int page, int width, int height, int x, int y, int w, int h, fz_colorspace *cs,
                int stride, unsigned char *samples, fz_cookie *cookie = nullptr, bool bottomUp = false,
                LeaveOut *leaveOut = nullptr) {
    fz_context *ctx = doc->ctx;
    pdf_page *volatile pg = nullptr;
    fz_pixmap *volatile pix = nullptr;
    fz_device *volatile dev = nullptr;
    fz_device *volatile ink = nullptr;
    volatile bool ok = false;
    // Between the picture's rows from the top and the device's.
    auto toDevice = [&](fz_irect r) {
        r = fz_translate_irect(r, -x, -y);
        return bottomUp ? fz_make_irect(r.x0, h - r.y1, r.x1, h - r.y0) : r;
    };
    auto fromDevice = [&](fz_irect r) {
        if (bottomUp)
            r = fz_make_irect(r.x0, h - r.y1, r.x1, h - r.y0);
        return fz_translate_irect(r, x, y);
    };
    if (leaveOut)
        leaveOut->leftOut = fz_empty_irect;
    fz_try(ctx) {
        pg = LoadPage(doc, page - 1);
        const fz_matrix ctm = PageMatrix(doc, pg, page, width, height, x, y, h, bottomUp);
        pix = fz_new_pixmap_with_data(ctx, cs, w, h, nullptr, 0, stride, samples);
        fz_clear_pixmap_with_value(ctx, pix, 0xff);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        const bool leaving = leaveOut && !fz_is_empty_irect(leaveOut->inside);
        if (leaving)
            ink = NewInkDevice(ctx, dev, toDevice(leaveOut->inside), int64_t(w) * h);
        pdf_run_page(ctx, pg, ink ? ink : dev, ctm, cookie);
        if (ink) {
            fz_close_device(ctx, ink);
            const InkDevice *seen = Ink(ink);
            if (seen->drawAgain && !fz_is_empty_irect(seen->leftOut)) {
                // Drawn again whole: something composited over the text
                // in a way that a lighter backdrop might darken.
                fz_drop_device(ctx, dev);
                dev = nullptr;
                fz_clear_pixmap_with_value(ctx, pix, 0xff);
                dev = fz_new_draw_device(ctx, fz_identity, pix);
                pdf_run_page(ctx, pg, dev, ctm, cookie);
                fz_close_device(ctx, dev);
            } else if (!fz_is_empty_irect(seen->leftOut)) {
                leaveOut->leftOut = fromDevice(seen->leftOut);
            }
        } else {
            fz_close_device(ctx, dev);
        }
        ok = !cookie || !__atomic_load_n(&cookie->abort, __ATOMIC_RELAXED);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, ink);
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
        fz_drop_page(ctx, reinterpret_cast<fz_page *>(pg));
    }
    fz_catch(ctx) { ok = false; }
    return ok;
}

// The region (x, y, w, h) of the page at width x height as a bottom-up
// 24-bit bitmap (8-bit grey when `grey`); null on any failure.
LS_Bitmap *RenderBitmap(LS_Document handle, int page, int width, int height, int x, int y, int w, int h,
                        fz_cookie *cookie = nullptr, bool grey = false, LeaveOut *leaveOut = nullptr) {
    if (width <= 0 || height <= 0 || w <= 0 || h <= 0 || x < 0 || y < 0 || x > width - w || y > height - h ||
        !WithinLimit(w, h))
        return nullptr;
    Document *doc = Lookup(handle);
    if (!doc || !ValidPage(doc, page))
        return nullptr;

    const int bits = grey ? 8 : 24;
    const size_t stride = ((size_t(w) * size_t(bits) + 31) / 32) * 4;
    const size_t size = stride * size_t(h);
    void *block = std::malloc(sizeof(LS_Bitmap) + size);
    if (!block)
        return nullptr;
    auto *bmp = static_cast<LS_Bitmap *>(block);
    bmp->width = w;
    bmp->height = h;
    bmp->bitsPerPixel = bits;
    bmp->stride = int32_t(stride);
    bmp->sizeImage = size;
    bmp->bits = static_cast<unsigned char *>(block) + sizeof(LS_Bitmap);

    // A grey picture, only looked at for ink, is drawn bottom row first:
    // no rows to swap afterwards.
    if (!RenderInto(doc, page, width, height, x, y, w, h, grey ? fz_device_gray(doc->ctx) : fz_device_bgr(doc->ctx),
                    int(stride), bmp->bits, cookie, grey, leaveOut)) {
        std::free(block);
        return nullptr;
    }
    if (grey) {
        for (size_t row = 0; stride != size_t(w) && row < size_t(h); ++row)
            std::memset(bmp->bits + row * stride + size_t(w), 0, stride - size_t(w));
        return bmp;
    }

    // MuPDF draws top-down; the bitmap stores the bottom row first.
    unsigned char *rows = bmp->bits;
    const size_t used = size_t(w) * (grey ? 1 : 3);
    std::vector<unsigned char> tmp(used);
    for (size_t top = 0, bottom = size_t(h) - 1; top < bottom; ++top, --bottom) {
        unsigned char *a = rows + top * stride;
        unsigned char *b = rows + bottom * stride;
        std::memcpy(tmp.data(), a, used);
        std::memcpy(a, b, used);
        std::memcpy(b, tmp.data(), used);
    }
    if (stride != used)
        for (size_t row = 0; row < size_t(h); ++row)
            std::memset(rows + row * stride + used, 0, stride - used);
    return bmp;
}

// The largest size within 160 x 200 pixels with the page's proportions.
void ThumbnailSize(double pw, double ph, int *w, int *h) {
    double scale = std::min(160.0 / pw, 200.0 / ph);
    *w = std::clamp(int(std::lround(pw * scale)), 1, 160);
    *h = std::clamp(int(std::lround(ph * scale)), 1, 200);
}

// The page's stored thumbnail as an RGB pixmap without alpha; null when
// the page has none or it cannot be decoded.
fz_pixmap *StoredThumbnail(Document *doc, int page) {
    fz_context *ctx = doc->ctx;
    fz_image *volatile image = nullptr;
    fz_pixmap *volatile pix = nullptr;
    fz_pixmap *volatile rgb = nullptr;
    fz_try(ctx) {
        if (page < 1 || page > PageCount(doc))
            fz_throw(ctx, FZ_ERROR_GENERIC, "no such page");
        pdf_obj *pageObj = PageObject(doc, page - 1);
        pdf_obj *thumb = pdf_dict_gets(ctx, pageObj, "Thumb");
        if (!pdf_is_stream(ctx, thumb))
            fz_throw(ctx, FZ_ERROR_GENERIC, "no stored thumbnail");
        image = pdf_load_image(ctx, doc->pdf, thumb);
        if (image->w <= 0 || image->h <= 0 || !WithinLimit(image->w, image->h))
            fz_throw(ctx, FZ_ERROR_GENERIC, "thumbnail too large");
        pix = fz_get_pixmap_from_image(ctx, image, nullptr, nullptr, nullptr, nullptr);
        rgb = fz_convert_pixmap(ctx, pix, fz_device_rgb(ctx), nullptr, nullptr, fz_default_color_params, 0);
        if (rgb->n != 3)
            fz_throw(ctx, FZ_ERROR_GENERIC, "unexpected thumbnail layout");
    }
    fz_always(ctx) {
        fz_drop_pixmap(ctx, pix);
        fz_drop_image(ctx, image);
    }
    fz_catch(ctx) {
        fz_drop_pixmap(ctx, rgb);
        rgb = nullptr;
    }
    return rgb;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int LS_SetResolution(LS_Document handle, int dpi) {
    try {
        Document *doc = Lookup(handle);
        if (!doc)
            return 0;
        doc->dpi = dpi;
        return 1;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_PageExtent(LS_Document handle, int page, double *box, int) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !box || !ValidPage(doc, page))
            return 0;
        fz_rect r;
        if (!PageBounds(doc, page, &r))
            return 0;
        box[0] = 0;
        box[1] = 0;
        box[2] = double(r.x1) - double(r.x0);
        box[3] = double(r.y1) - double(r.y0);
        return 1;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_PageBox(LS_Document handle, int page, int which, double *box) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !box || !ValidPage(doc, page) || which < LS_TRIM_BOX || which > LS_ART_BOX)
            return 0;
        volatile bool ok = false;
        fz_try(doc->ctx) {
            pdf_obj *obj = PageObject(doc, page - 1);
            pdf_obj *name = which == LS_TRIM_BOX    ? PDF_NAME(TrimBox)
                            : which == LS_BLEED_BOX ? PDF_NAME(BleedBox)
                                                    : PDF_NAME(ArtBox);
            pdf_obj *array = pdf_dict_get(doc->ctx, obj, name);
            if (pdf_is_array(doc->ctx, array) && pdf_array_len(doc->ctx, array) == 4) {
                const fz_rect own = pdf_to_rect(doc->ctx, array);
                fz_rect shown;
                fz_matrix ctm;
                pdf_page_obj_transform(doc->ctx, obj, &shown, &ctm);
                ctm = fz_concat(ctm, ExtraRotation(doc, page - 1));
                shown = fz_transform_rect(shown, ctm);
                const fz_rect inside = fz_intersect_rect(fz_transform_rect(own, ctm), shown);
                if (!fz_is_empty_rect(inside)) {
                    box[0] = inside.x0 - shown.x0;
                    box[1] = inside.y0 - shown.y0;
                    box[2] = inside.x1 - shown.x0;
                    box[3] = inside.y1 - shown.y0;
                    ok = true;
                }
            }
        }
        fz_catch(doc->ctx) { ok = false; }
        return ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_PageFacts(LS_Document handle, int page, int32_t *facts) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !facts || !ValidPage(doc, page))
            return 0;
        return PageFacts(doc, page, facts) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_SetPageRotation(LS_Document handle, int page, int degrees) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !ValidPage(doc, page) || (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270))
            return 0;
        if (degrees == 0)
            doc->rotations.erase(page - 1);
        else
            doc->rotations[page - 1] = degrees;
        return 1;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_SetPageTurn(LS_Document handle, int page, double degrees) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !ValidPage(doc, page) || !std::isfinite(degrees) || std::fabs(degrees) > 45)
            return 0;
        if (degrees == 0)
            doc->turns.erase(page - 1);
        else
            doc->turns[page - 1] = degrees;
        return 1;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) LS_Bitmap *LS_DIBitmap24(LS_Document handle, int, int page, const double *, int,
                                                                int width, int height, int32_t *) {
    try {
        return RenderBitmap(handle, page, width, height, 0, 0, width, height);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) LS_Bitmap *LS_RenderRegion(LS_Document handle, int page, int width, int height,
                                                                  int x, int y, int w, int h) {
    try {
        return RenderBitmap(handle, page, width, height, x, y, w, h);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) void LS_DeleteBitmap(LS_Bitmap *bitmap) { std::free(bitmap); }

__attribute__((visibility("default"))) LS_CancelFlag *LS_NewCancel(void) {
    return static_cast<LS_CancelFlag *>(std::calloc(1, sizeof(LS_CancelFlag)));
}

__attribute__((visibility("default"))) void LS_Cancel(LS_CancelFlag *cancel) {
    if (cancel)
        __atomic_store_n(&cancel->cookie.abort, 1, __ATOMIC_RELAXED);
}

__attribute__((visibility("default"))) void LS_DeleteCancel(LS_CancelFlag *cancel) { std::free(cancel); }

__attribute__((visibility("default"))) int LS_IsCancelled(const LS_CancelFlag *cancel) {
    return cancel && __atomic_load_n(&cancel->cookie.abort, __ATOMIC_RELAXED) ? 1 : 0;
}

__attribute__((visibility("default"))) LS_Bitmap *LS_RenderRegionCancellable(LS_Document handle, int page, int width,
                                                                             int height, int x, int y, int w, int h,
                                                                             LS_CancelFlag *cancel) {
    try {
        if (cancel && __atomic_load_n(&cancel->cookie.abort, __ATOMIC_RELAXED))
            return nullptr;
        return RenderBitmap(handle, page, width, height, x, y, w, h, cancel ? &cancel->cookie : nullptr);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) LS_Bitmap *LS_RenderGrayCancellable(LS_Document handle, int page, int width,
                                                                           int height, LS_CancelFlag *cancel) {
    try {
        if (cancel && __atomic_load_n(&cancel->cookie.abort, __ATOMIC_RELAXED))
            return nullptr;
        return RenderBitmap(handle, page, width, height, 0, 0, width, height, cancel ? &cancel->cookie : nullptr, true);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) LS_Bitmap *LS_RenderInkCancellable(LS_Document handle, int page, int width,
                                                                          int height, int x, int y, int w, int h,
                                                                          const int32_t *inside, int32_t *leftOut,
                                                                          LS_CancelFlag *cancel) {
    try {
        if (leftOut)
            std::fill(leftOut, leftOut + 4, 0);
        if (cancel && __atomic_load_n(&cancel->cookie.abort, __ATOMIC_RELAXED))
            return nullptr;
        LeaveOut leave{fz_empty_irect, fz_empty_irect};
        if (inside && leftOut && inside[0] < inside[2] && inside[1] < inside[3])
            leave.inside = fz_make_irect(inside[0], inside[1], inside[2], inside[3]);
        LS_Bitmap *bitmap =
            RenderBitmap(handle, page, width, height, x, y, w, h, cancel ? &cancel->cookie : nullptr, true, &leave);
        if (bitmap && leftOut && !fz_is_empty_irect(leave.leftOut)) {
            leftOut[0] = leave.leftOut.x0;
            leftOut[1] = leave.leftOut.y0;
            leftOut[2] = leave.leftOut.x1;
            leftOut[3] = leave.leftOut.y1;
        }
        return bitmap;
    } catch (...) {
        return nullptr;
    }
}

namespace {

int WriteThumbnail(LS_Document handle, const char *jpegPath, int page, fz_cookie *cookie) {
    Document *doc = Lookup(handle);
    if (!doc || !jpegPath || !ValidPage(doc, page))
        return 0;
    fz_rect r;
    if (!PageBounds(doc, page, &r) || r.x1 - r.x0 <= 0 || r.y1 - r.y0 <= 0)
        return 0;
    int w = 0, h = 0;
    ThumbnailSize(double(r.x1) - r.x0, double(r.y1) - r.y0, &w, &h);
    std::vector<unsigned char> rgb(size_t(w) * 3 * size_t(h));
    if (!RenderInto(doc, page, w, h, 0, 0, w, h, fz_device_rgb(doc->ctx), w * 3, rgb.data(), cookie))
        return 0;
    if (cookie && __atomic_load_n(&cookie->abort, __ATOMIC_RELAXED))
        return 0;  // stopped part way: what was drawn is not the page
    return ravel::WriteJpeg(jpegPath, rgb.data(), w, h, size_t(w) * 3) ? 1 : 0;
}

}  // namespace

__attribute__((visibility("default"))) int LS_Thumbnail(LS_Document handle, const char *jpegPath, int page, int32_t *) {
    try {
        return WriteThumbnail(handle, jpegPath, page, nullptr);
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_ThumbnailCancellable(LS_Document handle, const char *jpegPath, int page,
                                                                   LS_CancelFlag *cancel) {
    try {
        if (cancel && __atomic_load_n(&cancel->cookie.abort, __ATOMIC_RELAXED))
            return 0;
        return WriteThumbnail(handle, jpegPath, page, cancel ? &cancel->cookie : nullptr);
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_GetPDFThumbnail(const char *pdfPath, const char *jpegPath, int page,
                                                              int32_t *) {
    try {
        if (!jpegPath || page < 1)
            return 0;
        Document *doc = OpenDocumentAt(pdfPath, nullptr, nullptr, false);  // one page's picture
        if (!doc)
            return 0;
        fz_pixmap *rgb = StoredThumbnail(doc, page);
        int written = 0;
        if (rgb)
            written = ravel::WriteJpeg(jpegPath, rgb->samples, rgb->w, rgb->h, size_t(rgb->stride)) ? 1 : 0;
        fz_drop_pixmap(doc->ctx, rgb);
        DropDocument(doc);
        return written;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
