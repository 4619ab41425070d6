// The box of a page's ink without drawing the whole page: the page is read
// once into a display list, its drawing operations are bounded, and thin
// strips are drawn inward from each side of that bound to the first pixel
// that is not white. The strips are drawn with the matrix of the whole
// grey picture, so their pixels are the whole picture's.

#include "ravel/document.h"
#include "ravel/forward_device.h"
#include "ravel/ravel.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace ravel {
namespace {

// Where any glyph of `span` may reach from its origin, drawn with `ctm`
// (its translation aside): the font's box, and an em every way whatever
// the font says unless `believed`, with room for the glyph cache's
// placement to a pixel or so; four ems every way where the font's box
// cannot be trusted, and infinite for a Type 3 font, whose glyphs are
// drawings of their own.
fz_rect GlyphReach(fz_context *ctx, const fz_text_span *span, fz_matrix ctm, bool believed = false) {
    if (fz_font_t3_procs(ctx, span->font))
        return fz_infinite_rect;
    fz_matrix trm = span->trm;
    trm.e = trm.f = 0;
    ctm.e = ctm.f = 0;
    const fz_matrix m = fz_concat(trm, ctm);
    const fz_rect font = fz_font_bbox(ctx, span->font);
    if (fz_font_flags(span->font)->invalid_bbox || fz_is_empty_rect(font) || fz_is_infinite_rect(font))
        return fz_expand_rect(fz_transform_rect(fz_make_rect(-4, -4, 4, 4), m), 2);
    // A font's box that says less than an em round the origin is not
    // believed, unless whatever it leaves out is found later anyway.
    const fz_rect reach = believed ? font : fz_union_rect(font, fz_make_rect(-1, -1, 1, 1));
    return fz_expand_rect(fz_transform_rect(reach, m), 2);
}

// Where the glyphs of `text` may reach: the box of each span's glyph
// origins drawn with `ctm`, widened by the span's reach.
fz_rect TextReach(fz_context *ctx, const fz_text *text, fz_matrix ctm) {
    fz_rect bound = fz_empty_rect;
    for (const fz_text_span *span = text->head; span; span = span->next) {
        // Ink past a bound this tight sends the strips through the whole page.
        const fz_rect around = GlyphReach(ctx, span, ctm, true);
        if (fz_is_infinite_rect(around))
            return fz_bound_text(ctx, text, nullptr, ctm);
        float x0 = FLT_MAX, y0 = FLT_MAX, x1 = -FLT_MAX, y1 = -FLT_MAX;
        for (int i = 0; i < span->len; ++i) {
            const fz_text_item &item = span->items[i];
            if (item.gid < 0)
                continue;
            x0 = std::min(x0, item.x);
            x1 = std::max(x1, item.x);
            y0 = std::min(y0, item.y);
            y1 = std::max(y1, item.y);
        }
        if (x0 > x1)
            continue;
        const fz_rect origins = fz_transform_rect(fz_make_rect(x0, y0, x1, y1), ctm);
        const fz_rect r = fz_make_rect(origins.x0 + around.x0, origins.y0 + around.y0, origins.x1 + around.x1,
                                       origins.y1 + around.y1);
        bound = fz_is_empty_rect(bound) ? r : fz_union_rect(bound, r);
    }
    return bound;
}

// Bounds what a page paints, within its clips, and tells whether its paper
// can be taken for white: no picture, shading or pattern over more than a
// sliver of it, and fills not white over no more than a quarter of it.
// It stands in front of the device the page is read into, and hands every
// call on to it.
struct ScoutDevice {
    ForwardDevice forward;
    std::vector<fz_rect> *clips;  // the innermost last; never empty
    fz_rect bound;
    float painted;  // the area of fills that are not white, in square pixels
    float pictures;
    // The picture drawn over the most of the page: its area drawn, its own
    // size in pixels and its box drawn.
    float largest;
    int width, height;
    fz_rect drawn;
    bool colour;  // something is painted in a colour space of more than grey
    int ignore;   // depth of mask definitions, which paint nothing
};

ScoutDevice *Scout(fz_device *dev) { return reinterpret_cast<ScoutDevice *>(dev); }

float Area(fz_rect r) { return fz_is_empty_rect(r) ? 0 : (r.x1 - r.x0) * (r.y1 - r.y0); }

void Paint(fz_device *dev, fz_rect r) {
    ScoutDevice *s = Scout(dev);
    if (s->ignore)
        return;
    r = fz_intersect_rect(r, s->clips->back());
    if (!fz_is_empty_rect(r))
        s->bound = fz_is_empty_rect(s->bound) ? r : fz_union_rect(s->bound, r);
}

// A fill of `cs` and `color` over `r`, counted when it is not white.
void Colour(fz_context *ctx, fz_device *dev, fz_colorspace *cs) {
    if (cs && fz_colorspace_n(ctx, cs) > 1)
        Scout(dev)->colour = true;
}

void Fill(fz_context *ctx, fz_device *dev, fz_rect r, fz_colorspace *cs, const float *color, fz_color_params params) {
    Paint(dev, r);
    Colour(ctx, dev, cs);
    float grey = 0;
    if (cs)
        fz_convert_color(ctx, cs, color, fz_device_gray(ctx), &grey, nullptr, params);
    if (grey < 0.999f && !Scout(dev)->ignore)
        Scout(dev)->painted += Area(fz_intersect_rect(r, Scout(dev)->clips->back()));
}

void Picture(fz_device *dev, fz_rect r) {
    Paint(dev, r);
    if (!Scout(dev)->ignore)
        Scout(dev)->pictures += Area(fz_intersect_rect(r, Scout(dev)->clips->back()));
}

void Clip(fz_context *ctx, fz_device *dev, fz_rect r) {
    ScoutDevice *s = Scout(dev);
    const fz_rect inner = fz_intersect_rect(r, s->clips->back());
    // MuPDF's errors leave by longjmp, the vector's own would not: it is
    // told once the handler has ended.
    bool failed = false;
    try {
        s->clips->push_back(inner);
    } catch (...) {
        failed = true;
    }
    if (failed)
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
}

void FillPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_colorspace *cs,
              const float *color, float alpha, fz_color_params params) {
    Fill(ctx, dev, fz_bound_path(ctx, path, nullptr, ctm), cs, color, params);
    fz_fill_path(ctx, Target(dev), path, evenOdd, ctm, cs, color, alpha, params);
}
void StrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
                fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    Colour(ctx, dev, cs);
    Paint(dev, fz_bound_path(ctx, path, stroke, ctm));
    fz_stroke_path(ctx, Target(dev), path, stroke, ctm, cs, color, alpha, params);
}
void ClipPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_rect scissor) {
    Clip(ctx, dev, fz_bound_path(ctx, path, nullptr, ctm));
    fz_clip_path(ctx, Target(dev), path, evenOdd, ctm, scissor);
}
void ClipStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
                    fz_rect scissor) {
    Clip(ctx, dev, fz_bound_path(ctx, path, stroke, ctm));
    fz_clip_stroke_path(ctx, Target(dev), path, stroke, ctm, scissor);
}
void FillText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *cs,
              const float *color, float alpha, fz_color_params params) {
    Colour(ctx, dev, cs);
    Paint(dev, TextReach(ctx, text, ctm));
    fz_fill_text(ctx, Target(dev), text, ctm, cs, color, alpha, params);
}
void StrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke, fz_matrix ctm,
                fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    Colour(ctx, dev, cs);
    Paint(dev, fz_bound_text(ctx, text, stroke, ctm));
    fz_stroke_text(ctx, Target(dev), text, stroke, ctm, cs, color, alpha, params);
}
void ClipText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_rect scissor) {
    Clip(ctx, dev, fz_bound_text(ctx, text, nullptr, ctm));
    fz_clip_text(ctx, Target(dev), text, ctm, scissor);
}
void ClipStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke, fz_matrix ctm,
                    fz_rect scissor) {
    Clip(ctx, dev, fz_bound_text(ctx, text, stroke, ctm));
    fz_clip_stroke_text(ctx, Target(dev), text, stroke, ctm, scissor);
}
void FillShade(fz_context *ctx, fz_device *dev, fz_shade *shade, fz_matrix ctm, float alpha, fz_color_params params) {
    Scout(dev)->colour = true;
    Picture(dev, fz_bound_shade(ctx, shade, ctm));
    fz_fill_shade(ctx, Target(dev), shade, ctm, alpha, params);
}
void FillImage(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, float alpha, fz_color_params params) {
    fz_fill_image(ctx, Target(dev), image, ctm, alpha, params);
    const fz_rect r = fz_transform_rect(fz_unit_rect, ctm);
    if (!image->colorspace)
        Scout(dev)->colour = true;
    Colour(ctx, dev, image->colorspace);
    Picture(dev, r);
    ScoutDevice *s = Scout(dev);
    const float area = Area(fz_intersect_rect(r, s->clips->back()));
    // Drawn upright and unturned, so that its pixels map onto the page's.
    if (!s->ignore && area > s->largest && ctm.b == 0 && ctm.c == 0) {
        s->largest = area;
        s->width = image->w;
        s->height = image->h;
        s->drawn = r;
    }
}
void FillImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_colorspace *cs,
                   const float *color, float alpha, fz_color_params params) {
    Fill(ctx, dev, fz_transform_rect(fz_unit_rect, ctm), cs, color, params);
    fz_fill_image_mask(ctx, Target(dev), image, ctm, cs, color, alpha, params);
}
void ClipImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_rect scissor) {
    Clip(ctx, dev, fz_transform_rect(fz_unit_rect, ctm));
    fz_clip_image_mask(ctx, Target(dev), image, ctm, scissor);
}
void PopClip(fz_context *ctx, fz_device *dev) {
    if (Scout(dev)->clips->size() > 1)
        Scout(dev)->clips->pop_back();
    fz_pop_clip(ctx, Target(dev));
}
void BeginMask(fz_context *ctx, fz_device *dev, fz_rect area, int luminosity, fz_colorspace *cs, const float *backdrop,
               fz_color_params params) {
    ++Scout(dev)->ignore;
    fz_begin_mask(ctx, Target(dev), area, luminosity, cs, backdrop, params);
}
void EndMask(fz_context *ctx, fz_device *dev) {
    // The mask clips what follows until its pop; where, it does not tell.
    --Scout(dev)->ignore;
    Clip(ctx, dev, fz_infinite_rect);
    fz_end_mask(ctx, Target(dev));
}
int BeginTile(fz_context *ctx, fz_device *dev, fz_rect area, fz_rect view, float xstep, float ystep, fz_matrix ctm,
              int id) {
    // A pattern may paint anything anywhere: not plain paper.
    Scout(dev)->pictures = FLT_MAX;
    return fz_begin_tile_id(ctx, Target(dev), area, view, xstep, ystep, ctm, id);
}

// A device in front of the draw device of a strip that hands on only the
// glyphs that may touch the strip: a text of a whole page is then not
// drawn glyph by glyph for every strip.
struct StripDevice {
    ForwardDevice forward;
    fz_rect strip;
};

void StripFillText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *cs,
                   const float *color, float alpha, fz_color_params params) {
    const fz_rect strip = reinterpret_cast<StripDevice *>(dev)->strip;
    fz_text *kept = nullptr;
    volatile bool dropped = false;
    fz_var(kept);
    fz_try(ctx) {
        // Upright text is tested where its glyphs stand, untransformed.
        const bool upright = ctm.b == 0 && ctm.c == 0 && ctm.a != 0 && ctm.d != 0;
        for (const fz_text_span *span = text->head; span; span = span->next) {
            const fz_rect around = GlyphReach(ctx, span, ctm);
            const bool all = fz_is_infinite_rect(around);
            // The origins whose glyphs may reach the strip: x0 < x < x1, y0 < y < y1.
            float x0 = 0, x1 = 0, y0 = 0, y1 = 0;
            if (upright && !all) {
                x0 = (strip.x0 - around.x1 - ctm.e) / ctm.a;
                x1 = (strip.x1 - around.x0 - ctm.e) / ctm.a;
                y0 = (strip.y0 - around.y1 - ctm.f) / ctm.d;
                y1 = (strip.y1 - around.y0 - ctm.f) / ctm.d;
                if (x0 > x1)
                    std::swap(x0, x1);
                if (y0 > y1)
                    std::swap(y0, y1);
            }
            for (int i = 0; i < span->len; ++i) {
                const fz_text_item &item = span->items[i];
                bool keep = all;
                if (!keep && upright) {
                    keep = item.x > x0 && item.x < x1 && item.y > y0 && item.y < y1;
                } else if (!keep) {
                    const fz_point at = fz_transform_point_xy(item.x, item.y, ctm);
                    keep = at.x + around.x1 > strip.x0 && at.x + around.x0 < strip.x1 && at.y + around.y1 > strip.y0 &&
                           at.y + around.y0 < strip.y1;
                }
                if (!keep) {
                    dropped = true;
                    continue;
                }
                if (!kept)
                    kept = fz_new_text(ctx);
                fz_matrix trm = span->trm;
                trm.e = item.x;
                trm.f = item.y;
                fz_show_glyph(ctx, kept, span->font, trm, item.gid, item.ucs, span->wmode, span->bidi_level,
                              fz_bidi_direction(span->markup_dir), fz_text_language(span->language));
            }
        }
        if (!dropped)
            fz_fill_text(ctx, Target(dev), text, ctm, cs, color, alpha, params);
        else if (kept)
            fz_fill_text(ctx, Target(dev), kept, ctm, cs, color, alpha, params);
    }
    fz_always(ctx) { fz_drop_text(ctx, kept); }
    fz_catch(ctx) { fz_rethrow(ctx); }
}

fz_device *NewStripDevice(fz_context *ctx, fz_device *target, fz_irect strip) {
    StripDevice *s = fz_new_derived_device(ctx, StripDevice);
    ForwardAll(&s->forward, target);
    s->strip = fz_rect_from_irect(strip);
    s->forward.super.fill_text = StripFillText;
    return &s->forward.super;
}

}  // namespace
}  // namespace ravel

using namespace ravel;

namespace {

// The first line (row when `rows`, else column) of `strip` drawn from
// `list` that holds a pixel that is not white, looking from its start
// (`forward`) or its end, in device pixels; -1 when none does.
int InkInStrip(fz_context *ctx, fz_display_list *list, fz_irect strip, bool rows, bool forward, fz_cookie *cookie) {
    fz_pixmap *volatile pix = nullptr;
    fz_device *volatile dev = nullptr;
    fz_device *volatile filter = nullptr;
    volatile int found = -1;
    fz_try(ctx) {
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_gray(ctx), strip, nullptr, 0);
        fz_clear_pixmap_with_value(ctx, pix, 0xff);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        filter = NewStripDevice(ctx, dev, strip);
        fz_run_display_list(ctx, list, filter, fz_identity, fz_rect_from_irect(strip), cookie);
        fz_close_device(ctx, filter);
        const int w = pix->w, h = pix->h;
        const unsigned char *s = pix->samples;
        const ptrdiff_t stride = pix->stride;
        auto inkAt = [&](int line) {
            if (rows) {
                const unsigned char *row = s + ptrdiff_t(line) * stride;
                for (int x = 0; x < w; ++x)
                    if (row[x] != 255)
                        return true;
                return false;
            }
            for (int y = 0; y < h; ++y)
                if (s[ptrdiff_t(y) * stride + line] != 255)
                    return true;
            return false;
        };
        const int lines = rows ? h : w;
        for (int i = 0; i < lines; ++i) {
            const int line = forward ? i : lines - 1 - i;
            if (inkAt(line)) {
                found = (rows ? strip.y0 : strip.x0) + line;
                break;
            }
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, filter);
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
    }
    fz_catch(ctx) { fz_rethrow(ctx); }
    if (cookie && __atomic_load_n(&cookie->abort, __ATOMIC_RELAXED))
        fz_throw(ctx, FZ_ERROR_GENERIC, "cancelled");
    return found;
}

// The first line of `area` with ink (InkInStrip), looked for in strips
// from one side, deeper as they find nothing; -1 when none has.
int FirstInk(fz_context *ctx, fz_display_list *list, fz_irect area, bool rows, bool forward, fz_cookie *cookie) {
    const int from = rows ? area.y0 : area.x0, to = rows ? area.y1 : area.x1;
    for (int depth = 16, at = forward ? from : to; forward ? at < to : at > from; depth = std::min(depth * 2, 512)) {
        const int n = std::min(depth, forward ? to - at : at - from);
        const int a = forward ? at : at - n, b = forward ? at + n : at;
        const fz_irect strip = rows ? fz_make_irect(area.x0, a, area.x1, b) : fz_make_irect(a, area.y0, b, area.y1);
        if (const int found = InkInStrip(ctx, list, strip, rows, forward, cookie); found >= 0)
            return found;
        at = forward ? at + n : at - n;
    }
    return -1;
}

// 1 with `box` (the whole grey picture's pixels, rows from the top, right
// and bottom exclusive), 2 for a page with no ink, 0 when the paper cannot
// be taken for white or on failure.
int InkBox(Document *doc, int page, int width, int height, int32_t *box, fz_cookie *cookie) {
    fz_context *ctx = doc->ctx;
    pdf_page *volatile pg = nullptr;
    fz_display_list *volatile list = nullptr;
    fz_device *volatile dev = nullptr;
    fz_device *volatile listDev = nullptr;
    volatile int result = 0;
    std::vector<fz_rect> clips;
    try {
        clips.reserve(16);
        clips.push_back(fz_infinite_rect);
    } catch (...) {
        return 0;
    }
    fz_try(ctx) {
        pg = LoadPage(doc, page - 1);
        const fz_matrix ctm = PageMatrix(doc, pg, page, width, height, 0, 0, height, true);
        list = fz_new_display_list(ctx, fz_infinite_rect);
        listDev = fz_new_list_device(ctx, list);
        ScoutDevice *scout = fz_new_derived_device(ctx, ScoutDevice);
        dev = &scout->forward.super;
        ForwardAll(&scout->forward, listDev);
        scout->clips = &clips;
        scout->bound = fz_empty_rect;
        fz_device &d = scout->forward.super;
        d.fill_path = FillPath;
        d.stroke_path = StrokePath;
        d.clip_path = ClipPath;
        d.clip_stroke_path = ClipStrokePath;
        d.fill_text = FillText;
        d.stroke_text = StrokeText;
        d.clip_text = ClipText;
        d.clip_stroke_text = ClipStrokeText;
        d.fill_shade = FillShade;
        d.fill_image = FillImage;
        d.fill_image_mask = FillImageMask;
        d.clip_image_mask = ClipImageMask;
        d.pop_clip = PopClip;
        d.begin_mask = BeginMask;
        d.end_mask = EndMask;
        d.begin_tile = BeginTile;
        // The page is read once, through the scout into the list.
        pdf_run_page(ctx, pg, dev, ctm, cookie);
        fz_close_device(ctx, dev);  // and the list behind it
        const float pageArea = float(width) * float(height);
        if (cookie && __atomic_load_n(&cookie->abort, __ATOMIC_RELAXED))
            fz_throw(ctx, FZ_ERROR_GENERIC, "cancelled");
        if (scout->largest >= pageArea * 0.6f) {
            // A scan: its picture's size, and where it is drawn.
            box[0] = scout->width;
            box[1] = scout->height;
            box[2] = int32_t(std::lround(scout->drawn.x1 - scout->drawn.x0));
            box[3] = int32_t(std::lround(scout->drawn.y1 - scout->drawn.y0));
            result = scout->colour ? 3 : 4;
        } else if (scout->pictures <= pageArea / 100 && scout->painted <= pageArea / 4) {
            // Room for anti-aliasing round the bound.
            const fz_irect whole = fz_make_irect(0, 0, width, height);
            fz_irect area = fz_intersect_irect(fz_expand_irect(fz_irect_from_rect(scout->bound), 2), whole);
            // Ink on the bound's very edge may go on past it: then the
            // whole page is looked through.
            for (int round = 0; round < 2 && result == 0; ++round) {
                const int top = fz_is_empty_irect(area) ? -1 : FirstInk(ctx, list, area, true, true, cookie);
                if (top < 0) {
                    result = 2;
                    break;
                }
                const int bottom =
                    FirstInk(ctx, list, fz_make_irect(area.x0, top, area.x1, area.y1), true, false, cookie);
                const fz_irect rows = fz_make_irect(area.x0, top, area.x1, bottom + 1);
                const int left = FirstInk(ctx, list, rows, false, true, cookie);
                const int right =
                    FirstInk(ctx, list, fz_make_irect(left, top, area.x1, bottom + 1), false, false, cookie);
                if (round == 0 && ((top == area.y0 && area.y0 > 0) || (bottom == area.y1 - 1 && area.y1 < height) ||
                                   (left == area.x0 && area.x0 > 0) || (right == area.x1 - 1 && area.x1 < width))) {
                    area = whole;
                    continue;
                }
                // The device's rows run from the bottom of the page up.
                box[0] = left;
                box[1] = height - 1 - bottom;
                box[2] = right + 1;
                box[3] = height - top;
                result = 1;
            }
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_device(ctx, listDev);
        fz_drop_display_list(ctx, list);
        fz_drop_page(ctx, reinterpret_cast<fz_page *>(pg));
    }
    fz_catch(ctx) { result = 0; }
    return result;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int LS_InkBoxCancellable(LS_Document handle, int page, int width, int height,
                                                                int32_t *box, LS_CancelFlag *cancel) {
    try {
        Document *doc = Lookup(handle);
        if (!doc || !box || width <= 0 || height <= 0 || page < 1 || page > PageCount(doc) ||
            uint64_t(width) * uint64_t(height) > (uint64_t(1) << 31))
            return 0;
        if (cancel && LS_IsCancelled(cancel))
            return 0;
        return InkBox(doc, page, width, height, box, cancel ? &cancel->cookie : nullptr);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
