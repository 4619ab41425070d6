// What a page is made of, found by running its content through a device
// that draws nothing: pictures are placed but never decoded.

#include "ravel/document.h"

#include <algorithm>

namespace ravel {
namespace {

struct FactsDevice {
    fz_device super;
    fz_rect page;
    float largestPicture;  // area of the page the largest picture covers
    int glyphs;
    int paths;
};

FactsDevice *Facts(fz_device *dev) { return reinterpret_cast<FactsDevice *>(dev); }

void CountPicture(fz_device *dev, fz_matrix ctm) {
    FactsDevice *facts = Facts(dev);
    const fz_rect r = fz_intersect_rect(fz_transform_rect(fz_unit_rect, ctm), facts->page);
    if (!fz_is_empty_rect(r))
        facts->largestPicture = std::max(facts->largestPicture, (r.x1 - r.x0) * (r.y1 - r.y0));
}

int Glyphs(const fz_text *text) {
    int n = 0;
    for (const fz_text_span *span = text->head; span; span = span->next)
        n += span->len;
    return n;
}

void FactsFillImage(fz_context *, fz_device *dev, fz_image *, fz_matrix ctm, float, fz_color_params) {
    CountPicture(dev, ctm);
}
void FactsFillImageMask(fz_context *, fz_device *dev, fz_image *, fz_matrix ctm, fz_colorspace *, const float *, float,
                        fz_color_params) {
    CountPicture(dev, ctm);
}
void FactsFillText(fz_context *, fz_device *dev, const fz_text *text, fz_matrix, fz_colorspace *, const float *, float,
                   fz_color_params) {
    Facts(dev)->glyphs += Glyphs(text);
}
void FactsStrokeText(fz_context *, fz_device *dev, const fz_text *text, const fz_stroke_state *, fz_matrix,
                     fz_colorspace *, const float *, float, fz_color_params) {
    Facts(dev)->glyphs += Glyphs(text);
}
void FactsFillPath(fz_context *, fz_device *dev, const fz_path *, int, fz_matrix, fz_colorspace *, const float *, float,
                   fz_color_params) {
    ++Facts(dev)->paths;
}
void FactsStrokePath(fz_context *, fz_device *dev, const fz_path *, const fz_stroke_state *, fz_matrix, fz_colorspace *,
                     const float *, float, fz_color_params) {
    ++Facts(dev)->paths;
}

}  // namespace

bool PageFacts(Document *doc, int page, int32_t *out) {
    fz_context *ctx = doc->ctx;
    pdf_page *volatile pg = nullptr;
    fz_device *volatile dev = nullptr;
    volatile bool ok = false;
    fz_try(ctx) {
        pg = LoadPage(doc, page - 1);
        const fz_rect bounds = pdf_bound_page(ctx, pg);
        const float area = (bounds.x1 - bounds.x0) * (bounds.y1 - bounds.y0);
        if (!(area > 0))
            fz_throw(ctx, FZ_ERROR_GENERIC, "empty page");
        FactsDevice *facts = fz_new_derived_device(ctx, FactsDevice);
        dev = &facts->super;
        facts->page = bounds;
        dev->fill_image = FactsFillImage;
        dev->fill_image_mask = FactsFillImageMask;
        dev->fill_text = FactsFillText;
        dev->stroke_text = FactsStrokeText;
        dev->fill_path = FactsFillPath;
        dev->stroke_path = FactsStrokePath;
        // Annotations are not the page's own print.
        pdf_run_page_contents(ctx, pg, dev, fz_identity, nullptr);
        fz_close_device(ctx, dev);
        out[0] = int32_t(std::clamp(facts->largestPicture / area * 1000, 0.0f, 1000.0f));
        out[1] = facts->glyphs;
        out[2] = facts->paths;
        ok = true;
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_page(ctx, reinterpret_cast<fz_page *>(pg));
    }
    fz_catch(ctx) { ok = false; }
    return ok;
}

}  // namespace ravel
