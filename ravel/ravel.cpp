// libravel.so on MuPDF: rendering pages (whole, a region, in grey, with
// text left out), measuring them, thumbnails, and repaired copies. Opening
// documents is in document.cpp, copies without hidden content in
// hidden_content.cpp.
//
// Every MuPDF call happens inside fz_try on the context of the document it
// works on; fz_try blocks hold no C++ objects with destructors, since MuPDF
// leaves them with longjmp. Each exported function also catches C++
// exceptions (allocation failures of our own bookkeeping) so nothing escapes
// the C interface.

#include "ravel/document.h"
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
        *out = fz_transform_rect(box, ctm);
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

// A device in front of the draw device that leaves out glyphs of dark
// text lying wholly within `inside` (device pixels), for pictures that are
// only looked at for where the ink is, when the ink there is known to be
// within the box found anyway. Everything else goes to the draw device as it
// is. The picture then differs from the whole one only within `leftOut`, the
// box of what was left out, and there only by being lighter: a glyph left
// out is dark, so wherever the whole picture is white so is this one, and
// every later paint composites pixel by pixel and the darker the backdrop
// the darker the result. Not inside a soft mask's definition or a tile,
// where that does not hold; a group with a blend mode other than normal,
// multiply and darken, or a knockout group, marks the picture as one to
// draw again whole.
struct InkDevice {
    fz_device super;
    fz_device *target;
    fz_irect inside;
    fz_irect leftOut;
    int64_t leftArea;  // the glyph boxes left out, in pixels
    int64_t maxArea;   // leaving out stops there: the paper stays mostly white
    int keepAll;       // depth of mask definitions and tiles
    bool drawAgain;
};

InkDevice *Ink(fz_device *dev) { return reinterpret_cast<InkDevice *>(dev); }
fz_device *Target(fz_device *dev) { return Ink(dev)->target; }

bool Within(const fz_irect &r, const fz_irect &box) {
    return r.x0 >= box.x0 && r.y0 >= box.y0 && r.x1 <= box.x1 && r.y1 <= box.y1;
}

fz_irect Union(const fz_irect &a, const fz_irect &b) {
    if (fz_is_empty_irect(a))
        return b;
    if (fz_is_empty_irect(b))
        return a;
    return fz_make_irect(std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1));
}

void InkFillText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *cs,
                 const float *color, float alpha, fz_color_params params) {
    InkDevice *ink = Ink(dev);
    float grey = 1;
    if (cs && !ink->keepAll && ink->leftArea < ink->maxArea)
        fz_convert_color(ctx, cs, color, fz_device_gray(ctx), &grey, nullptr, params);
    if (grey > 0.9f) {
        fz_fill_text(ctx, ink->target, text, ctm, cs, color, alpha, params);
        return;
    }
    fz_text *kept = nullptr;
    bool leftSome = false;
    fz_var(kept);
    fz_try(ctx) {
        for (const fz_text_span *span = text->head; span; span = span->next) {
            // A Type 3 glyph is a drawing of its own, in colours of its own.
            const bool drawing = fz_font_t3_procs(ctx, span->font) != nullptr;
            for (int i = 0; i < span->len; ++i) {
                const fz_text_item &item = span->items[i];
                fz_matrix trm = span->trm;
                trm.e = item.x;
                trm.f = item.y;
                bool leave = false;
                if (!drawing && item.gid >= 0 && ink->leftArea < ink->maxArea) {
                    // The outline's box, with room for anti-aliasing, the
                    // glyph's placement on the subpixel grid and emboldening.
                    const fz_rect r = fz_bound_glyph(ctx, span->font, item.gid, fz_concat(trm, ctm));
                    if (!fz_is_empty_rect(r) && !fz_is_infinite_rect(r)) {
                        const fz_irect box = fz_expand_irect(fz_irect_from_rect(r), 2);
                        if (Within(box, ink->inside)) {
                            leave = true;
                            ink->leftOut = Union(ink->leftOut, box);
                            ink->leftArea += int64_t(box.x1 - box.x0) * (box.y1 - box.y0);
                        }
                    }
                }
                if (leave) {
                    leftSome = true;
                    continue;
                }
                if (!kept)
                    kept = fz_new_text(ctx);
                fz_show_glyph(ctx, kept, span->font, trm, item.gid, item.ucs, span->wmode, span->bidi_level,
                              fz_bidi_direction(span->markup_dir), fz_text_language(span->language));
            }
        }
        if (!leftSome)
            fz_fill_text(ctx, ink->target, text, ctm, cs, color, alpha, params);
        else if (kept)
            fz_fill_text(ctx, ink->target, kept, ctm, cs, color, alpha, params);
    }
    fz_always(ctx) { fz_drop_text(ctx, kept); }
    fz_catch(ctx) { fz_rethrow(ctx); }
}

void InkCloseDevice(fz_context *ctx, fz_device *dev) { fz_close_device(ctx, Target(dev)); }
void InkFillPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm,
                 fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    fz_fill_path(ctx, Target(dev), path, evenOdd, ctm, cs, color, alpha, params);
}
void InkStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke,
                   fz_matrix ctm, fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    fz_stroke_path(ctx, Target(dev), path, stroke, ctm, cs, color, alpha, params);
}
void InkClipPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_rect scissor) {
    fz_clip_path(ctx, Target(dev), path, evenOdd, ctm, scissor);
}
void InkClipStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke,
                       fz_matrix ctm, fz_rect scissor) {
    fz_clip_stroke_path(ctx, Target(dev), path, stroke, ctm, scissor);
}
void InkStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke,
                   fz_matrix ctm, fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    fz_stroke_text(ctx, Target(dev), text, stroke, ctm, cs, color, alpha, params);
}
void InkClipText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_rect scissor) {
    fz_clip_text(ctx, Target(dev), text, ctm, scissor);
}
void InkClipStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke,
                       fz_matrix ctm, fz_rect scissor) {
    fz_clip_stroke_text(ctx, Target(dev), text, stroke, ctm, scissor);
}
void InkIgnoreText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm) {
    fz_ignore_text(ctx, Target(dev), text, ctm);
}
void InkFillShade(fz_context *ctx, fz_device *dev, fz_shade *shade, fz_matrix ctm, float alpha,
                  fz_color_params params) {
    fz_fill_shade(ctx, Target(dev), shade, ctm, alpha, params);
}
void InkFillImage(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, float alpha,
                  fz_color_params params) {
    fz_fill_image(ctx, Target(dev), image, ctm, alpha, params);
}
void InkFillImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_colorspace *cs,
                      const float *color, float alpha, fz_color_params params) {
    fz_fill_image_mask(ctx, Target(dev), image, ctm, cs, color, alpha, params);
}
void InkClipImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_rect scissor) {
    fz_clip_image_mask(ctx, Target(dev), image, ctm, scissor);
}
void InkPopClip(fz_context *ctx, fz_device *dev) { fz_pop_clip(ctx, Target(dev)); }
void InkBeginMask(fz_context *ctx, fz_device *dev, fz_rect area, int luminosity, fz_colorspace *cs,
                  const float *backdrop, fz_color_params params) {
    ++Ink(dev)->keepAll;
    fz_begin_mask(ctx, Target(dev), area, luminosity, cs, backdrop, params);
}
void InkEndMask(fz_context *ctx, fz_device *dev) {
    --Ink(dev)->keepAll;
    fz_end_mask(ctx, Target(dev));
}
void InkBeginGroup(fz_context *ctx, fz_device *dev, fz_rect area, fz_colorspace *cs, int isolated, int knockout,
                   int blendmode, float alpha) {
    // Where a glyph is left out, a group's backdrop is lighter, or
    // transparent within an isolated group, so that what is painted over it
    // shows its own colour: only normal, multiply and darken then never
    // come out darker than over the glyph.
    if (knockout || (blendmode != FZ_BLEND_NORMAL && blendmode != FZ_BLEND_MULTIPLY && blendmode != FZ_BLEND_DARKEN))
        Ink(dev)->drawAgain = true;
    fz_begin_group(ctx, Target(dev), area, cs, isolated, knockout, blendmode, alpha);
}
void InkEndGroup(fz_context *ctx, fz_device *dev) { fz_end_group(ctx, Target(dev)); }
int InkBeginTile(fz_context *ctx, fz_device *dev, fz_rect area, fz_rect view, float xstep, float ystep,
                 fz_matrix ctm, int id) {
    ++Ink(dev)->keepAll;
    return fz_begin_tile_id(ctx, Target(dev), area, view, xstep, ystep, ctm, id);
}
void InkEndTile(fz_context *ctx, fz_device *dev) {
    --Ink(dev)->keepAll;
    fz_end_tile(ctx, Target(dev));
}
void InkRenderFlags(fz_context *ctx, fz_device *dev, int set, int clear) {
    fz_render_flags(ctx, Target(dev), set, clear);
}
void InkSetDefaultColorspaces(fz_context *ctx, fz_device *dev, fz_default_colorspaces *colorspaces) {
    fz_set_default_colorspaces(ctx, Target(dev), colorspaces);
}
void InkBeginLayer(fz_context *ctx, fz_device *dev, const char *name) { fz_begin_layer(ctx, Target(dev), name); }
void InkEndLayer(fz_context *ctx, fz_device *dev) { fz_end_layer(ctx, Target(dev)); }

fz_device *NewInkDevice(fz_context *ctx, fz_device *target, fz_irect inside, int64_t pixels) {
    InkDevice *ink = fz_new_derived_device(ctx, InkDevice);
    ink->target = target;
    ink->inside = inside;
    ink->leftOut = fz_empty_irect;
    ink->leftArea = 0;
    // At most a fifth of the picture: the paper of the picture stays as
    // white as the whole picture's, where its kind is told.
    ink->maxArea = pixels / 5;
    fz_device &d = ink->super;
    d.close_device = InkCloseDevice;
    d.fill_path = InkFillPath;
    d.stroke_path = InkStrokePath;
    d.clip_path = InkClipPath;
    d.clip_stroke_path = InkClipStrokePath;
    d.fill_text = InkFillText;
    d.stroke_text = InkStrokeText;
    d.clip_text = InkClipText;
    d.clip_stroke_text = InkClipStrokeText;
    d.ignore_text = InkIgnoreText;
    d.fill_shade = InkFillShade;
    d.fill_image = InkFillImage;
    d.fill_image_mask = InkFillImageMask;
    d.clip_image_mask = InkClipImageMask;
    d.pop_clip = InkPopClip;
    d.begin_mask = InkBeginMask;
    d.end_mask = InkEndMask;
    d.begin_group = InkBeginGroup;
    d.end_group = InkEndGroup;
    d.begin_tile = InkBeginTile;
    d.end_tile = InkEndTile;
    d.render_flags = InkRenderFlags;
    d.set_default_colorspaces = InkSetDefaultColorspaces;
    d.begin_layer = InkBeginLayer;
    d.end_layer = InkEndLayer;
    return &d;
}

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
bool RenderInto(Document *doc, int page, int width, int height, int x, int y, int w, int h,
                fz_colorspace *cs, int stride, unsigned char *samples, fz_cookie *cookie = nullptr,
                bool bottomUp = false, LeaveOut *leaveOut = nullptr) {
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
        fz_rect bounds = pdf_bound_page(ctx, pg);
        float bw = bounds.x1 - bounds.x0;
        float bh = bounds.y1 - bounds.y0;
        if (bw <= 0 || bh <= 0)
            fz_throw(ctx, FZ_ERROR_GENERIC, "empty page");
        fz_matrix ctm = fz_concat(fz_translate(-bounds.x0, -bounds.y0),
                                  fz_scale(float(width) / bw, float(height) / bh));
        ctm = fz_concat(ctm, fz_translate(-float(x), -float(y)));
        // Drawn upside down, the rows come out bottom row first.
        if (bottomUp)
            ctm = fz_concat(ctm, fz_concat(fz_scale(1, -1), fz_translate(0, float(h))));
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
LS_Bitmap *RenderBitmap(LS_Document handle, int page, int width, int height, int x, int y, int w,
                        int h, fz_cookie *cookie = nullptr, bool grey = false, LeaveOut *leaveOut = nullptr) {
    if (width <= 0 || height <= 0 || w <= 0 || h <= 0 || x < 0 || y < 0 || x > width - w ||
        y > height - h || !WithinLimit(w, h))
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
        rgb = fz_convert_pixmap(ctx, pix, fz_device_rgb(ctx), nullptr, nullptr,
                                fz_default_color_params, 0);
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

__attribute__((visibility("default"))) int LS_PageExtent(LS_Document handle, int page, double *box,
                                                         int) {
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

namespace {

// The pages below `node` in document order: each leaf's shown size into
// `sizes`, and the object numbers of the pages at the three places the
// walk is checked at. Longjmps out (fz_throw) on anything the walk cannot
// trust; it holds nothing that needs freeing.
struct PageWalk {
    double *sizes;
    int count;
    int found = 0;
    int visited = 0;
    int checks[3];
    int numbers[3] = {0, 0, 0};
};

void WalkPageTree(fz_context *ctx, pdf_obj *node, int depth, PageWalk &walk) {
    if (depth > 64 || ++walk.visited > 4 * walk.count + 1024)
        fz_throw(ctx, FZ_ERROR_GENERIC, "page tree too deep or too wide");
    pdf_obj *kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    if (pdf_is_array(ctx, kids) && !pdf_name_eq(ctx, pdf_dict_get(ctx, node, PDF_NAME(Type)), PDF_NAME(Page))) {
        const int before = walk.found;
        for (int i = 0, n = pdf_array_len(ctx, kids); i < n; ++i)
            WalkPageTree(ctx, pdf_array_get(ctx, kids, i), depth + 1, walk);
        // Pages are found by skipping whole subtrees by their /Count: a
        // count that is not what the subtree holds numbers pages otherwise.
        pdf_obj *counted = pdf_dict_get(ctx, node, PDF_NAME(Count));
        if (!pdf_is_int(ctx, counted) || pdf_to_int(ctx, counted) != walk.found - before)
            fz_throw(ctx, FZ_ERROR_GENERIC, "a page count that is not what the tree holds");
        return;
    }
    if (walk.found >= walk.count || !pdf_is_dict(ctx, node))
        fz_throw(ctx, FZ_ERROR_GENERIC, "not the pages counted");
    fz_rect box;
    fz_matrix ctm;
    pdf_page_obj_transform(ctx, node, &box, &ctm);
    const fz_rect r = fz_transform_rect(box, ctm);
    walk.sizes[2 * walk.found] = double(r.x1) - double(r.x0);
    walk.sizes[2 * walk.found + 1] = double(r.y1) - double(r.y0);
    for (int i = 0; i < 3; ++i)
        if (walk.checks[i] == walk.found)
            walk.numbers[i] = pdf_to_num(ctx, node);
    ++walk.found;
}

}  // namespace

__attribute__((visibility("default"))) int LS_PageSizes(LS_Document handle, double *sizes, int count) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !sizes || count < 1 || count != PageCount(doc))
            return 0;
        fz_context *ctx = doc->ctx;
        PageWalk walk{sizes, count, 0, 0, {0, count / 2, count - 1}};
        volatile int measured = 0;
        fz_try(ctx) {
            WalkPageTree(ctx, pdf_dict_getp(ctx, pdf_trailer(ctx, doc->pdf), "Root/Pages"), 0, walk);
            // The walk agrees with how pages are found when shown: the
            // same number of pages, and the same page at the first, the
            // middle and the last place.
            bool same = walk.found == count;
            for (int i = 0; same && i < 3; ++i)
                same = walk.numbers[i] != 0 &&
                       PageNumber(doc, walk.checks[i]) == walk.numbers[i];
            measured = same ? count : 0;
        }
        fz_catch(ctx) { measured = 0; }
        return measured;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) LS_Bitmap *LS_DIBitmap24(LS_Document handle, int, int page,
                                                                const double *, int, int width,
                                                                int height, int32_t *) {
    try {
        return RenderBitmap(handle, page, width, height, 0, 0, width, height);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) LS_Bitmap *LS_RenderRegion(LS_Document handle, int page,
                                                                  int width, int height, int x,
                                                                  int y, int w, int h) {
    try {
        return RenderBitmap(handle, page, width, height, x, y, w, h);
    } catch (...) {
        return nullptr;
    }
}

__attribute__((visibility("default"))) void LS_DeleteBitmap(LS_Bitmap *bitmap) { std::free(bitmap); }

// A cancel flag is MuPDF's cookie: its abort field is what the renderer
// looks at between drawing operations, and may be set from any thread.
struct LS_CancelFlag {
    fz_cookie cookie;
};

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

__attribute__((visibility("default"))) LS_Bitmap *LS_RenderRegionCancellable(LS_Document handle, int page,
                                                                             int width, int height, int x, int y,
                                                                             int w, int h, LS_CancelFlag *cancel) {
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
        LS_Bitmap *bitmap = RenderBitmap(handle, page, width, height, x, y, w, h, cancel ? &cancel->cookie : nullptr,
                                         true, &leave);
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

__attribute__((visibility("default"))) int LS_Thumbnail(LS_Document handle, const char *jpegPath,
                                                        int page, int32_t *) {
    try {
        return WriteThumbnail(handle, jpegPath, page, nullptr);
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_ThumbnailCancellable(LS_Document handle, const char *jpegPath,
                                                                   int page, LS_CancelFlag *cancel) {
    try {
        if (cancel && __atomic_load_n(&cancel->cookie.abort, __ATOMIC_RELAXED))
            return 0;
        return WriteThumbnail(handle, jpegPath, page, cancel ? &cancel->cookie : nullptr);
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_GetPDFThumbnail(const char *pdfPath,
                                                              const char *jpegPath, int page,
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
            written = ravel::WriteJpeg(jpegPath, rgb->samples, rgb->w, rgb->h,
                                       size_t(rgb->stride)) ? 1 : 0;
        fz_drop_pixmap(doc->ctx, rgb);
        DropDocument(doc);
        return written;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) int LS_WriteRepaired(const char *path, int fd) {
    try {
        Descriptor descriptor{};
        Document *doc = OpenToWrite(path, nullptr, fd, descriptor, false);  // written object by object
        if (!doc)
            return 0;
        fz_context *ctx = doc->ctx;
        pdf_document *pdf = doc->pdf;
        fz_output *volatile out = nullptr;
        volatile int written = 0;
        fz_try(ctx) {
            out = NewDescriptorOutput(ctx, descriptor);
            // Every object kept as it is read, streams as they are stored,
            // the encryption kept.
            pdf_write_options options = pdf_default_write_options;
            pdf_write_document(ctx, pdf, out, &options);
            fz_close_output(ctx, out);
            written = 1;
        }
        fz_always(ctx) { fz_drop_output(ctx, out); }
        fz_catch(ctx) {
            written = 0;
            WriteFailed(LastWriteErrno(), fz_caught_message(ctx));
        }
        DropDocument(doc);
        return written;
    } catch (...) {
        return 0;
    }
}



}  // extern "C"
