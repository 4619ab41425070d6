// The forwarding device: each call handed on to the device behind.

#include "ravel/forward_device.h"

namespace ravel {
namespace {

// The calls handed on as they come.
void CloseDevice(fz_context *ctx, fz_device *dev) { fz_close_device(ctx, Target(dev)); }
void FillPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_colorspace *cs,
              const float *color, float alpha, fz_color_params params) {
    fz_fill_path(ctx, Target(dev), path, evenOdd, ctm, cs, color, alpha, params);
}
void StrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
                fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    fz_stroke_path(ctx, Target(dev), path, stroke, ctm, cs, color, alpha, params);
}
void ClipPath(fz_context *ctx, fz_device *dev, const fz_path *path, int evenOdd, fz_matrix ctm, fz_rect scissor) {
    fz_clip_path(ctx, Target(dev), path, evenOdd, ctm, scissor);
}
void ClipStrokePath(fz_context *ctx, fz_device *dev, const fz_path *path, const fz_stroke_state *stroke, fz_matrix ctm,
                    fz_rect scissor) {
    fz_clip_stroke_path(ctx, Target(dev), path, stroke, ctm, scissor);
}
void FillText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_colorspace *cs,
              const float *color, float alpha, fz_color_params params) {
    fz_fill_text(ctx, Target(dev), text, ctm, cs, color, alpha, params);
}
void StrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke, fz_matrix ctm,
                fz_colorspace *cs, const float *color, float alpha, fz_color_params params) {
    fz_stroke_text(ctx, Target(dev), text, stroke, ctm, cs, color, alpha, params);
}
void ClipText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm, fz_rect scissor) {
    fz_clip_text(ctx, Target(dev), text, ctm, scissor);
}
void ClipStrokeText(fz_context *ctx, fz_device *dev, const fz_text *text, const fz_stroke_state *stroke, fz_matrix ctm,
                    fz_rect scissor) {
    fz_clip_stroke_text(ctx, Target(dev), text, stroke, ctm, scissor);
}
void IgnoreText(fz_context *ctx, fz_device *dev, const fz_text *text, fz_matrix ctm) {
    fz_ignore_text(ctx, Target(dev), text, ctm);
}
void FillShade(fz_context *ctx, fz_device *dev, fz_shade *shade, fz_matrix ctm, float alpha, fz_color_params params) {
    fz_fill_shade(ctx, Target(dev), shade, ctm, alpha, params);
}
void FillImage(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, float alpha, fz_color_params params) {
    fz_fill_image(ctx, Target(dev), image, ctm, alpha, params);
}
void FillImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_colorspace *cs,
                   const float *color, float alpha, fz_color_params params) {
    fz_fill_image_mask(ctx, Target(dev), image, ctm, cs, color, alpha, params);
}
void ClipImageMask(fz_context *ctx, fz_device *dev, fz_image *image, fz_matrix ctm, fz_rect scissor) {
    fz_clip_image_mask(ctx, Target(dev), image, ctm, scissor);
}
void PopClip(fz_context *ctx, fz_device *dev) { fz_pop_clip(ctx, Target(dev)); }
void BeginMask(fz_context *ctx, fz_device *dev, fz_rect area, int luminosity, fz_colorspace *cs, const float *backdrop,
               fz_color_params params) {
    fz_begin_mask(ctx, Target(dev), area, luminosity, cs, backdrop, params);
}
void EndMask(fz_context *ctx, fz_device *dev) { fz_end_mask(ctx, Target(dev)); }
void BeginGroup(fz_context *ctx, fz_device *dev, fz_rect area, fz_colorspace *cs, int isolated, int knockout,
                int blendmode, float alpha) {
    fz_begin_group(ctx, Target(dev), area, cs, isolated, knockout, blendmode, alpha);
}
void EndGroup(fz_context *ctx, fz_device *dev) { fz_end_group(ctx, Target(dev)); }
int BeginTile(fz_context *ctx, fz_device *dev, fz_rect area, fz_rect view, float xstep, float ystep, fz_matrix ctm,
              int id) {
    return fz_begin_tile_id(ctx, Target(dev), area, view, xstep, ystep, ctm, id);
}
void EndTile(fz_context *ctx, fz_device *dev) { fz_end_tile(ctx, Target(dev)); }
void RenderFlags(fz_context *ctx, fz_device *dev, int set, int clear) { fz_render_flags(ctx, Target(dev), set, clear); }
void SetDefaultColorspaces(fz_context *ctx, fz_device *dev, fz_default_colorspaces *colorspaces) {
    fz_set_default_colorspaces(ctx, Target(dev), colorspaces);
}
void BeginLayer(fz_context *ctx, fz_device *dev, const char *name) { fz_begin_layer(ctx, Target(dev), name); }
void EndLayer(fz_context *ctx, fz_device *dev) { fz_end_layer(ctx, Target(dev)); }

}  // namespace

void ForwardAll(ForwardDevice *dev, fz_device *target) {
    dev->target = target;
    fz_device &d = dev->super;
    d.close_device = CloseDevice;
    d.fill_path = FillPath;
    d.stroke_path = StrokePath;
    d.clip_path = ClipPath;
    d.clip_stroke_path = ClipStrokePath;
    d.fill_text = FillText;
    d.stroke_text = StrokeText;
    d.clip_text = ClipText;
    d.clip_stroke_text = ClipStrokeText;
    d.ignore_text = IgnoreText;
    d.fill_shade = FillShade;
    d.fill_image = FillImage;
    d.fill_image_mask = FillImageMask;
    d.clip_image_mask = ClipImageMask;
    d.pop_clip = PopClip;
    d.begin_mask = BeginMask;
    d.end_mask = EndMask;
    d.begin_group = BeginGroup;
    d.end_group = EndGroup;
    d.begin_tile = BeginTile;
    d.end_tile = EndTile;
    d.render_flags = RenderFlags;
    d.set_default_colorspaces = SetDefaultColorspaces;
    d.begin_layer = BeginLayer;
    d.end_layer = EndLayer;
}

}  // namespace ravel
