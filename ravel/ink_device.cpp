// The ink device: every call goes on to the draw device behind it, except
// the glyphs of dark text and the dark paths it may leave out.

#include "ravel/ink_device.h"

#include <algorithm>

namespace ravel {
namespace {

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
        fz_fill_text(ctx, Target(dev), text, ctm, cs, color, alpha, params);
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
            fz_fill_text(ctx, Target(dev), text, ctm, cs, color, alpha, params);
        else if (kept)
            fz_fill_text(ctx, Target(dev), kept, ctm, cs, color, alpha, params);
    }
    fz_always(ctx) { fz_drop_text(ctx, kept); }
    fz_catch(ctx) { fz_rethrow(ctx); }
}

// Whether a dark path (filled, or stroked with `stroke`) lies wholly within
// the box, and so is left out as a dark glyph is: its box is then told.
bool LeavePath(fz_context *ctx, InkDevice *ink, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
               fz_colorspace *cs, const float *color, fz_color_params params) {
    if (!cs || ink->keepAll || ink->leftArea >= ink->maxArea)
        return false;
    float grey = 1;
    fz_convert_color(ctx, cs, color, fz_device_gray(ctx), &grey, nullptr, params);
    if (grey > 0.9f)
        return false;
    // The outline's box, with room for anti-aliasing and thin lines drawn
    // a pixel wide.
    const fz_rect r = fz_bound_path(ctx, path, stroke, ctm);
    if (fz_is_empty_rect(r) || fz_is_infinite_rect(r))
        return false;
    const fz_irect box = fz_expand_irect(fz_irect_from_rect(r), 2);
    const int64_t area = int64_t(box.x1 - box.x0) * (box.y1 - box.y0);
    if (!Within(box, ink->inside) || ink->leftArea + area > ink->maxArea)
        return false;
    ink->leftOut = Union(ink->leftOut, box);
    ink->leftArea += area;
    return true;
}

void InkFillPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_colorspace *cs,
                 const float *color, float alpha, fz_color_params params) {
    if (!LeavePath(ctx, Ink(dev), path, nullptr, ctm, cs, color, params))
        fz_fill_path(ctx, Target(dev), path, evenOdd, ctm, cs, color, alpha, params);
}
void InkStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
                   fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    if (!LeavePath(ctx, Ink(dev), path, stroke, ctm, cs, color, params))
        fz_stroke_path(ctx, Target(dev), path, stroke, ctm, cs, color, alpha, params);
}
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
int InkBeginTile(fz_context *ctx, fz_device *dev, fz_rect area, fz_rect view, float xstep, float ystep, fz_matrix ctm,
                 int id) {
    ++Ink(dev)->keepAll;
    return fz_begin_tile_id(ctx, Target(dev), area, view, xstep, ystep, ctm, id);
}
void InkEndTile(fz_context *ctx, fz_device *dev) {
    --Ink(dev)->keepAll;
    fz_end_tile(ctx, Target(dev));
}

}  // namespace

fz_device *NewInkDevice(fz_context *ctx, fz_device *target, fz_irect inside, int64_t pixels) {
    InkDevice *ink = fz_new_derived_device(ctx, InkDevice);
    ForwardAll(&ink->forward, target);
    ink->inside = inside;
    ink->leftOut = fz_empty_irect;
    ink->leftArea = 0;
    // At most a fifth of the picture: the paper of the picture stays as
    // white as the whole picture's, where its kind is told.
    ink->maxArea = pixels / 5;
    fz_device &d = ink->forward.super;
    d.fill_path = InkFillPath;
    d.stroke_path = InkStrokePath;
    d.fill_text = InkFillText;
    d.begin_mask = InkBeginMask;
    d.end_mask = InkEndMask;
    d.begin_group = InkBeginGroup;
    d.begin_tile = InkBeginTile;
    d.end_tile = InkEndTile;
    return &d;
}

}  // namespace ravel
