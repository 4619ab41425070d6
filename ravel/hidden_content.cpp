// libravel.so: a copy of a document that keeps nothing wholly outside each
// page's crop box (LS_WriteWithoutHidden). Glyphs and images go through
// MuPDF's content filter; paths are culled by a first pass of our own;
// annotations, form fields, the pages' pictures and private data, pictures
// in XMP, and the tags of what went are taken out here.
//
// As in the rest of the library, fz_try blocks hold no C++ objects with
// destructors: what lives across MuPDF's calls lives in `Cleaning`, made
// before any of them.

#include "ravel/document.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using namespace ravel;

namespace {

// What a page keeps when what lies outside its crop box is removed: the
// box in the page's default user space, and counts of what went.
struct Keep {
    fz_rect box;
    int32_t glyphs = 0, images = 0, annotations = 0, drawings = 0;
};

bool Outside(const fz_rect &r, const fz_rect &box) {
    return r.x1 <= box.x0 || r.x0 >= box.x1 || r.y1 <= box.y0 || r.y0 >= box.y1;
}

// A glyph goes when its box (advance wide, from the font's descender to
// its ascender, and 0.15 em more all round for what overhangs it, as an
// italic does) lies wholly outside; one cut by the crop box stays whole.
int GlyphOutside(fz_context *, void *opaque, int *, int, fz_matrix trm, fz_matrix ctm, fz_rect bbox) {
    auto *keep = static_cast<Keep *>(opaque);
    const fz_rect r = fz_transform_rect(fz_expand_rect(bbox, 0.15f), fz_concat(trm, ctm));
    if (!Outside(r, keep->box))
        return 0;
    ++keep->glyphs;
    return 1;
}

// An image goes when the square it is painted in lies wholly outside; one
// partly inside is kept whole.
fz_image *ImageOutside(fz_context *ctx, void *opaque, fz_matrix ctm, const char *, fz_image *image) {
    auto *keep = static_cast<Keep *>(opaque);
    if (Outside(fz_transform_rect(fz_unit_rect, ctm), keep->box)) {
        ++keep->images;
        return nullptr;
    }
    // The same image back means "keep it": MuPDF's filter takes no
    // reference then (it drops only an image other than the one it gave),
    // so none is made here, or every picture kept would never be freed.
    (void)ctx;
    return image;
}

// A first pass over a content stream, written out again operator by
// operator (MuPDF's buffer processor), with some operators changed on the
// way:
//  - MuPDF's content filter carries a text position that was never sent
//    (its text object's glyphs all removed) into the next text object, so
//    every text object is given an explicit identity text matrix: the same
//    drawing, and the filter then sends each position whole;
//  - with `cull`, a path painted wholly outside `keep` (its points, and for
//    a stroke a generous width round them, in default user space) is left
//    out, unless it also clips: a path is held until it is painted.
// Memory our own bookkeeping cannot get is told as MuPDF's error, not as
// a C++ exception through its frames.
struct FirstPass {
    static constexpr size_t kDeepestNesting = 1000;
    pdf_processor original;  // the buffer processor's own operators
    bool cull = false;
    fz_rect keep{};
    struct State {
        fz_matrix ctm = fz_identity;
        float lineWidth = 1;
        float miterLimit = 10;
    };
    std::vector<State> saved;
    State now;
    bool points = false, clips = false;
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the path's points so far
    int drawings = 0;
    // The path's operators not yet passed on: m l c v y h re W W*.
    struct Op {
        char name;
        float v[6];
    };
    std::vector<Op> path;

    void Hold(fz_context *ctx, char name, std::initializer_list<float> values) {
        Op op{name, {0, 0, 0, 0, 0, 0}};
        std::copy(values.begin(), values.end(), op.v);
        Push(ctx, path, op);
    }
    void Save(fz_context *ctx) { Push(ctx, saved, now); }
    // Back to a fresh pass, keeping the memory.
    void Reset(bool cullOutside, fz_rect keepBox) {
        cull = cullOutside;
        keep = keepBox;
        saved.clear();
        now = State();
        points = clips = false;
        drawings = 0;
        path.clear();
    }
    // Passes the held path on.
    void Release(fz_context *ctx, pdf_processor *proc) {
        for (const Op &op : path) {
            const float *v = op.v;
            switch (op.name) {
            case 'm':
                original.op_m(ctx, proc, v[0], v[1]);
                break;
            case 'l':
                original.op_l(ctx, proc, v[0], v[1]);
                break;
            case 'c':
                original.op_c(ctx, proc, v[0], v[1], v[2], v[3], v[4], v[5]);
                break;
            case 'v':
                original.op_v(ctx, proc, v[0], v[1], v[2], v[3]);
                break;
            case 'y':
                original.op_y(ctx, proc, v[0], v[1], v[2], v[3]);
                break;
            case 'h':
                original.op_h(ctx, proc);
                break;
            case 'r':
                original.op_re(ctx, proc, v[0], v[1], v[2], v[3]);
                break;
            case 'W':
                original.op_W(ctx, proc);
                break;
            case '*':
                original.op_Wstar(ctx, proc);
                break;
            }
        }
        path.clear();
    }

    void Include(float x, float y) {
        const fz_point p = fz_transform_point_xy(x, y, now.ctm);
        if (!points) {
            x0 = x1 = p.x;
            y0 = y1 = p.y;
            points = true;
        }
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    // True when the path about to be painted shows nothing inside `keep`.
    bool Hidden(bool stroked) {
        const bool hidden = [&] {
            if (!cull || clips || !points)
                return false;
            // A fill's edge is smoothed over a fraction of a point. A
            // stroke reaches past its points by half its width, or by a
            // miter of up to half the miter limit times it: the pen, a
            // square of that size, taken through the transform on each
            // axis apart (a transform may stretch one axis alone).
            if (!stroked)
                return Outside(fz_make_rect(x0 - 0.5f, y0 - 0.5f, x1 + 0.5f, y1 + 0.5f), keep);
            const fz_matrix &m = now.ctm;
            const float pen = std::fabs(now.lineWidth) * std::max(now.miterLimit, 10.0f) * 0.5f;
            const float reachX = std::max(pen * (std::fabs(m.a) + std::fabs(m.c)), 5.0f);
            const float reachY = std::max(pen * (std::fabs(m.b) + std::fabs(m.d)), 5.0f);
            if (!std::isfinite(reachX) || !std::isfinite(reachY))
                return false;
            return Outside(fz_make_rect(x0 - reachX, y0 - reachY, x1 + reachX, y1 + reachY), keep);
        }();
        points = clips = false;
        drawings += hidden ? 1 : 0;
        return hidden;
    }
};
thread_local FirstPass *t_pass = nullptr;

#define ORVANE_PAINT(op, stroked)                                                                                      \
    [](fz_context *c, pdf_processor *p) {                                                                              \
        if (t_pass->Hidden(stroked)) {                                                                                 \
            t_pass->path.clear();                                                                                      \
        } else {                                                                                                       \
            t_pass->Release(c, p);                                                                                     \
            t_pass->original.op(c, p);                                                                                 \
        }                                                                                                              \
    }

void HookFirstPass(pdf_processor *proc) {
    // A path held when something else comes (a stream out of order) is
    // passed on first.
    proc->op_BT = [](fz_context *ctx, pdf_processor *p) {
        t_pass->Release(ctx, p);
        t_pass->original.op_BT(ctx, p);
        p->op_Tm(ctx, p, 1, 0, 0, 1, 0, 0);
    };
    proc->op_q = [](fz_context *ctx, pdf_processor *p) {
        t_pass->Release(ctx, p);
        // No page needs states saved this deep; a stream that does is
        // damaged (or made to cost its reader the machine's memory), and
        // no copy is made of it. (An abort, which the interpreter passes
        // on rather than skipping the rest of the stream.)
        if (t_pass->saved.size() >= FirstPass::kDeepestNesting)
            fz_throw(ctx, FZ_ERROR_ABORT, "a content stream saves the graphics state more than %d levels deep",
                     int(FirstPass::kDeepestNesting));
        t_pass->Save(ctx);
        t_pass->original.op_q(ctx, p);
    };
    proc->op_gs_begin = [](fz_context *ctx, pdf_processor *p, const char *name, pdf_obj *extgstate) {
        t_pass->Release(ctx, p);
        // Line widths and miter limits set by a graphics state dictionary.
        pdf_obj *width = pdf_dict_get(ctx, extgstate, PDF_NAME(LW));
        if (pdf_is_number(ctx, width))
            t_pass->now.lineWidth = pdf_to_real(ctx, width);
        pdf_obj *limit = pdf_dict_get(ctx, extgstate, PDF_NAME(ML));
        if (pdf_is_number(ctx, limit))
            t_pass->now.miterLimit = pdf_to_real(ctx, limit);
        t_pass->original.op_gs_begin(ctx, p, name, extgstate);
    };
    proc->op_Q = [](fz_context *ctx, pdf_processor *p) {
        t_pass->Release(ctx, p);
        if (!t_pass->saved.empty()) {
            t_pass->now = t_pass->saved.back();
            t_pass->saved.pop_back();
        }
        t_pass->original.op_Q(ctx, p);
    };
    proc->op_cm = [](fz_context *ctx, pdf_processor *p, float a, float b, float c, float d, float e, float f) {
        t_pass->Release(ctx, p);
        t_pass->now.ctm = fz_concat(fz_make_matrix(a, b, c, d, e, f), t_pass->now.ctm);
        t_pass->original.op_cm(ctx, p, a, b, c, d, e, f);
    };
    proc->op_w = [](fz_context *ctx, pdf_processor *p, float width) {
        t_pass->Release(ctx, p);
        t_pass->now.lineWidth = width;
        t_pass->original.op_w(ctx, p, width);
    };
    proc->op_M = [](fz_context *ctx, pdf_processor *p, float limit) {
        t_pass->Release(ctx, p);
        t_pass->now.miterLimit = limit;
        t_pass->original.op_M(ctx, p, limit);
    };
    proc->op_m = [](fz_context *ctx, pdf_processor *, float x, float y) {
        t_pass->Include(x, y);
        t_pass->Hold(ctx, 'm', {x, y});
    };
    proc->op_l = [](fz_context *ctx, pdf_processor *, float x, float y) {
        t_pass->Include(x, y);
        t_pass->Hold(ctx, 'l', {x, y});
    };
    // A curve lies within its control points.
    proc->op_c = [](fz_context *ctx, pdf_processor *, float a, float b, float c, float d, float e, float f) {
        t_pass->Include(a, b), t_pass->Include(c, d), t_pass->Include(e, f);
        t_pass->Hold(ctx, 'c', {a, b, c, d, e, f});
    };
    proc->op_v = [](fz_context *ctx, pdf_processor *, float a, float b, float c, float d) {
        t_pass->Include(a, b), t_pass->Include(c, d);
        t_pass->Hold(ctx, 'v', {a, b, c, d});
    };
    proc->op_y = [](fz_context *ctx, pdf_processor *, float a, float b, float c, float d) {
        t_pass->Include(a, b), t_pass->Include(c, d);
        t_pass->Hold(ctx, 'y', {a, b, c, d});
    };
    proc->op_h = [](fz_context *ctx, pdf_processor *) { t_pass->Hold(ctx, 'h', {}); };
    proc->op_re = [](fz_context *ctx, pdf_processor *, float x, float y, float w, float h) {
        t_pass->Include(x, y), t_pass->Include(x + w, y), t_pass->Include(x, y + h), t_pass->Include(x + w, y + h);
        t_pass->Hold(ctx, 'r', {x, y, w, h});
    };
    proc->op_W = [](fz_context *ctx, pdf_processor *) {
        t_pass->clips = true;
        t_pass->Hold(ctx, 'W', {});
    };
    proc->op_Wstar = [](fz_context *ctx, pdf_processor *) {
        t_pass->clips = true;
        t_pass->Hold(ctx, '*', {});
    };
    proc->op_n = [](fz_context *ctx, pdf_processor *p) {
        // Ends a path: a clip takes effect; one that clips nothing is
        // nothing at all.
        if (!t_pass->clips)
            t_pass->path.clear();
        t_pass->points = t_pass->clips = false;
        t_pass->Release(ctx, p);
        t_pass->original.op_n(ctx, p);
    };
    proc->op_S = ORVANE_PAINT(op_S, true);
    proc->op_s = ORVANE_PAINT(op_s, true);
    proc->op_F = ORVANE_PAINT(op_F, false);
    proc->op_f = ORVANE_PAINT(op_f, false);
    proc->op_fstar = ORVANE_PAINT(op_fstar, false);
    proc->op_B = ORVANE_PAINT(op_B, true);
    proc->op_Bstar = ORVANE_PAINT(op_Bstar, true);
    proc->op_b = ORVANE_PAINT(op_b, true);
    proc->op_bstar = ORVANE_PAINT(op_bstar, true);
}
#undef ORVANE_PAINT

// The content stream `contents` (with resources `res`) after the first
// pass; `pass` says what it culls and counts what it did.
fz_buffer *AfterFirstPass(fz_context *ctx, pdf_document *pdf, pdf_obj *contents, pdf_obj *res, FirstPass &pass) {
    fz_buffer *buffer = fz_new_buffer(ctx, 4096);
    pdf_processor *volatile proc = nullptr;
    fz_try(ctx) {
        proc = pdf_new_buffer_processor(ctx, buffer, 0);
        pass.original = *proc;
        HookFirstPass(proc);
        t_pass = &pass;
        pdf_process_contents(ctx, proc, pdf, res, contents, nullptr);
        pass.Release(ctx, proc);  // a path never painted ends the stream
        pdf_close_processor(ctx, proc);
    }
    fz_always(ctx) {
        t_pass = nullptr;
        pdf_drop_processor(ctx, proc);
    }
    fz_catch(ctx) {
        fz_drop_buffer(ctx, buffer);
        fz_rethrow(ctx);
    }
    return buffer;
}

fz_buffer *WithTextMatrices(fz_context *ctx, pdf_document *pdf, pdf_obj *contents, pdf_obj *res, FirstPass &pass) {
    pass.Reset(false, fz_rect{});
    return AfterFirstPass(ctx, pdf, contents, res, pass);
}

// The forms that `res` names, and theirs in turn, rewritten so.
void FormsWithTextMatrices(fz_context *ctx, pdf_document *pdf, pdf_obj *res, std::unordered_set<int> &seen,
                           FirstPass &pass, int depth) {
    pdf_obj *xobjects = pdf_dict_get(ctx, res, PDF_NAME(XObject));
    if (!pdf_is_dict(ctx, xobjects) || depth > 16)
        return;
    const int n = pdf_dict_len(ctx, xobjects);
    for (int i = 0; i < n; ++i) {
        pdf_obj *form = pdf_dict_get_val(ctx, xobjects, i);
        if (!pdf_is_stream(ctx, form) ||
            !pdf_name_eq(ctx, pdf_dict_get(ctx, form, PDF_NAME(Subtype)), PDF_NAME(Form)) ||
            !seen.insert(pdf_to_num(ctx, form)).second)
            continue;
        pdf_obj *formRes = pdf_dict_get(ctx, form, PDF_NAME(Resources));
        if (!formRes)
            formRes = res;
        fz_buffer *buffer = WithTextMatrices(ctx, pdf, form, formRes, pass);
        fz_try(ctx) { pdf_update_stream(ctx, pdf, form, buffer, 0); }
        fz_always(ctx) { fz_drop_buffer(ctx, buffer); }
        fz_catch(ctx) { fz_rethrow(ctx); }
        FormsWithTextMatrices(ctx, pdf, formRes, seen, pass, depth + 1);
    }
}

// Takes the fields whose widgets were removed out of the form's field
// tree `fields`, and fields left with no kids with them.
void PruneFields(fz_context *ctx, pdf_obj *fields, const std::unordered_set<int> &gone, int depth) {
    if (!pdf_is_array(ctx, fields) || depth > 32)
        return;
    for (int i = pdf_array_len(ctx, fields) - 1; i >= 0; --i) {
        pdf_obj *field = pdf_array_get(ctx, fields, i);
        if (gone.count(pdf_to_num(ctx, field))) {
            pdf_array_delete(ctx, fields, i);
            continue;
        }
        pdf_obj *kids = pdf_dict_get(ctx, field, PDF_NAME(Kids));
        if (pdf_is_array(ctx, kids) && pdf_array_len(ctx, kids) > 0) {
            PruneFields(ctx, kids, gone, depth + 1);
            if (pdf_array_len(ctx, kids) == 0)
                pdf_array_delete(ctx, fields, i);
        }
    }
}

// Removes what lies wholly outside the crop box of `page`; MuPDF errors
// are thrown on.
// What the cleaning of a document keeps from page to page. It lives
// outside every MuPDF try block: a MuPDF error leaves by longjmp, past
// the destructors of anything made inside.
// The marked-content sequences of a content stream that paint: the
// numbers (MCID) of those in which a glyph, an image, a path, a shading or
// a form is painted.
struct MarkedContent {
    std::vector<int> open;  // the sequences entered, each its MCID or -1
    // The sequences entered below this depth have painted already: each
    // is marked once, however deep the nesting and however many paint.
    size_t marked = 0;
    std::unordered_set<int> painted;
};

// What becomes of the structure tree (the tagged text that readers read
// aloud or extract) when content goes: the marked content of each page
// (by its object) that painted before and paints no more, the annotations
// removed, and the elements left with nothing, which go with their
// alternate and actual texts.
struct Structure {
    bool tagged = false;
    std::string xmp;  // an XMP packet being cleaned, kept here, outside MuPDF's frames
    MarkedContent before, after;
    std::unordered_map<int, std::unordered_set<int>> goneMarks;
    std::unordered_set<int> goneAnnotations, goneElements, seen;
};

struct Cleaning {
    Keep total;
    std::unordered_set<int> goneWidgets, formsSeen, gone;
    FirstPass pass;
    Structure structure;
};

void MarkGoneOn(fz_context *ctx, Structure &s, int page, int mcid) {
    std::unordered_set<int> *marks = nullptr;
    bool failed = false;
    try {
        marks = &s.goneMarks[page];
    } catch (...) {
        failed = true;
    }
    if (failed)
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
    Insert(ctx, *marks, mcid);
}

struct MarkedObserver {
    pdf_processor super;
    MarkedContent *marks;
};

void Painted(fz_context *ctx, pdf_processor *proc) {
    MarkedContent &marks = *reinterpret_cast<MarkedObserver *>(proc)->marks;
    for (; marks.marked < marks.open.size(); ++marks.marked)
        if (marks.open[marks.marked] >= 0)
            Insert(ctx, marks.painted, marks.open[marks.marked]);
}

// Which marked content of the content stream `contents` paints.
void ObserveMarkedContent(fz_context *ctx, pdf_document *pdf, pdf_obj *contents, pdf_obj *res, MarkedContent &marks) {
    marks.open.clear();
    marks.marked = 0;
    marks.painted.clear();
    MarkedObserver *volatile proc = nullptr;
    fz_try(ctx) {
        proc = static_cast<MarkedObserver *>(pdf_new_processor(ctx, int(sizeof(MarkedObserver))));
        proc->marks = &marks;
        pdf_processor &p = proc->super;
        p.op_BMC = [](fz_context *c, pdf_processor *q, const char *) {
            Push(c, reinterpret_cast<MarkedObserver *>(q)->marks->open, -1);
        };
        p.op_BDC = [](fz_context *c, pdf_processor *q, const char *, pdf_obj *, pdf_obj *cooked) {
            pdf_obj *id = pdf_dict_get(c, cooked, PDF_NAME(MCID));
            Push(c, reinterpret_cast<MarkedObserver *>(q)->marks->open, pdf_is_int(c, id) ? pdf_to_int(c, id) : -1);
        };
        p.op_EMC = [](fz_context *, pdf_processor *q) {
            MarkedContent &m = *reinterpret_cast<MarkedObserver *>(q)->marks;
            if (!m.open.empty())
                m.open.pop_back();
            m.marked = std::min(m.marked, m.open.size());
        };
        p.op_S = p.op_s = p.op_F = p.op_f = p.op_fstar = p.op_B = p.op_Bstar = p.op_b = p.op_bstar = Painted;
        p.op_TJ = [](fz_context *c, pdf_processor *q, pdf_obj *) { Painted(c, q); };
        p.op_Tj = [](fz_context *c, pdf_processor *q, char *, size_t) { Painted(c, q); };
        p.op_squote = [](fz_context *c, pdf_processor *q, char *, size_t) { Painted(c, q); };
        p.op_dquote = [](fz_context *c, pdf_processor *q, float, float, char *, size_t) { Painted(c, q); };
        p.op_BI = [](fz_context *c, pdf_processor *q, fz_image *, const char *) { Painted(c, q); };
        p.op_sh = [](fz_context *c, pdf_processor *q, const char *, fz_shade *) { Painted(c, q); };
        p.op_Do_image = [](fz_context *c, pdf_processor *q, const char *, fz_image *) { Painted(c, q); };
        p.op_Do_form = [](fz_context *c, pdf_processor *q, const char *, pdf_obj *, pdf_obj *) { Painted(c, q); };
        pdf_process_contents(ctx, &p, pdf, res, contents, nullptr);
        pdf_close_processor(ctx, &p);
    }
    fz_always(ctx) {
        if (proc)
            pdf_drop_processor(ctx, &proc->super);
    }
    fz_catch(ctx) { fz_rethrow(ctx); }
}

bool MarkGone(const Structure &s, int page, int mcid) {
    const auto marks = s.goneMarks.find(page);
    return marks != s.goneMarks.end() && marks->second.count(mcid) > 0;
}

bool ElementEmptied(fz_context *ctx, pdf_obj *element, int page, Structure &s, int depth);

// Whether a kid of a structure element (a marked-content number, a
// reference to marked content or to an annotation, or an element) went.
bool KidGone(fz_context *ctx, pdf_obj *kid, int page, Structure &s, int depth) {
    if (pdf_is_int(ctx, kid))
        return MarkGone(s, page, pdf_to_int(ctx, kid));
    if (!pdf_is_dict(ctx, kid))
        return false;
    pdf_obj *type = pdf_dict_get(ctx, kid, PDF_NAME(Type));
    pdf_obj *pg = pdf_dict_gets(ctx, kid, "Pg");
    const int kidPage = pg ? pdf_to_num(ctx, pg) : page;
    if (pdf_is_name(ctx, type) && !std::strcmp(pdf_to_name(ctx, type), "MCR"))
        return !pdf_dict_gets(ctx, kid, "Stm") && MarkGone(s, kidPage, pdf_dict_get_int(ctx, kid, PDF_NAME(MCID)));
    if (pdf_is_name(ctx, type) && !std::strcmp(pdf_to_name(ctx, type), "OBJR"))
        return s.goneAnnotations.count(pdf_to_num(ctx, pdf_dict_gets(ctx, kid, "Obj"))) > 0;
    if (!ElementEmptied(ctx, kid, kidPage, s, depth + 1))
        return false;
    if (pdf_to_num(ctx, kid) > 0)
        Insert(ctx, s.goneElements, pdf_to_num(ctx, kid));
    return true;
}

// Takes out of `element` the kids whose content went; true when it had
// content and none is left.
bool ElementEmptied(fz_context *ctx, pdf_obj *element, int page, Structure &s, int depth) {
    if (depth > 256 || !pdf_is_dict(ctx, element))
        return false;
    if (pdf_to_num(ctx, element) > 0 && !Insert(ctx, s.seen, pdf_to_num(ctx, element)))
        return false;
    if (pdf_obj *pg = pdf_dict_gets(ctx, element, "Pg"))
        page = pdf_to_num(ctx, pg);
    pdf_obj *kids = pdf_dict_get(ctx, element, PDF_NAME(K));
    if (!pdf_is_array(ctx, kids))
        return kids && KidGone(ctx, kids, page, s, depth);
    const int n = pdf_array_len(ctx, kids);
    for (int i = n - 1; i >= 0; --i)
        if (KidGone(ctx, pdf_array_get(ctx, kids, i), page, s, depth))
            pdf_array_delete(ctx, kids, i);
    return n > 0 && pdf_array_len(ctx, kids) == 0;
}

// Every value of the number or name tree `node` (its /Nums or /Names
// pairs) that is an element gone, or holds one, becomes null.
void ForgetGoneElements(fz_context *ctx, pdf_obj *node, const char *pairs, Structure &s, int depth) {
    if (depth > 32 || !pdf_is_dict(ctx, node))
        return;
    auto gone = [&](pdf_obj *v) { return pdf_is_indirect(ctx, v) && s.goneElements.count(pdf_to_num(ctx, v)) > 0; };
    pdf_obj *list = pdf_dict_gets(ctx, node, pairs);
    for (int i = 1, n = pdf_array_len(ctx, list); i < n; i += 2) {
        pdf_obj *value = pdf_array_get(ctx, list, i);
        if (gone(value)) {
            pdf_array_put(ctx, list, i, PDF_NULL);
            continue;
        }
        if (pdf_is_array(ctx, value))
            for (int j = 0, m = pdf_array_len(ctx, value); j < m; ++j)
                if (gone(pdf_array_get(ctx, value, j)))
                    pdf_array_put(ctx, value, j, PDF_NULL);
    }
    pdf_obj *kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    for (int i = 0, n = pdf_array_len(ctx, kids); i < n; ++i)
        ForgetGoneElements(ctx, pdf_array_get(ctx, kids, i), pairs, s, depth + 1);
}

// The structure tree without the elements whose content all went.
void PruneStructure(fz_context *ctx, pdf_document *pdf, Structure &s) {
    if (s.goneMarks.empty() && s.goneAnnotations.empty())
        return;
    pdf_obj *root = pdf_dict_gets(ctx, pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Root)), "StructTreeRoot");
    s.seen.clear();
    ElementEmptied(ctx, root, 0, s, 0);
    if (s.goneElements.empty())
        return;
    ForgetGoneElements(ctx, pdf_dict_gets(ctx, root, "ParentTree"), "Nums", s, 0);
    ForgetGoneElements(ctx, pdf_dict_gets(ctx, root, "IDTree"), "Names", s, 0);
}

// `text` without its XMP thumbnails (<x:Thumbnails>...</x:Thumbnails>,
// whatever the prefix): pictures of pages as they were.
bool WithoutXmpThumbnails(std::string &text) {
    bool changed = false;
    for (size_t at = 0; (at = text.find(":Thumbnails", at)) != std::string::npos;) {
        const size_t open = text.rfind('<', at);
        const size_t afterName = at + std::strlen(":Thumbnails");
        if (open == std::string::npos || text.compare(open, 2, "</") == 0 ||
            text.find_first_of(" \t\r\n<>", open + 1) < at || afterName >= text.size() ||
            !(text[afterName] == '>' || text[afterName] == '/' ||
              std::isspace(static_cast<unsigned char>(text[afterName])))) {
            at = afterName;
            continue;
        }
        const std::string name = text.substr(open + 1, afterName - open - 1);
        const size_t tagEnd = text.find('>', afterName);
        if (tagEnd == std::string::npos)
            break;
        size_t end = tagEnd + 1;
        if (text[tagEnd - 1] != '/') {
            const size_t close = text.find("</" + name + ">", tagEnd);
            if (close == std::string::npos)
                break;
            end = close + name.size() + 3;
        }
        text.erase(open, end - open);
        changed = true;
        at = open;
    }
    return changed;
}

// The metadata stream `stream` without pictures of the pages; `text` is
// the room to clean it in.
void StripXmpThumbnails(fz_context *ctx, pdf_document *pdf, pdf_obj *stream, std::string &text) {
    if (!pdf_is_stream(ctx, stream))
        return;
    fz_buffer *volatile buffer = nullptr;
    bool failed = false;
    fz_try(ctx) {
        buffer = pdf_load_stream(ctx, stream);
        unsigned char *data = nullptr;
        const size_t n = fz_buffer_storage(ctx, buffer, &data);
        try {
            text.assign(reinterpret_cast<const char *>(data), n);
        } catch (...) {
            failed = true;
        }
    }
    fz_always(ctx) { fz_drop_buffer(ctx, buffer); }
    fz_catch(ctx) { fz_rethrow(ctx); }
    bool changed = false;
    try {
        changed = !failed && WithoutXmpThumbnails(text);
    } catch (...) {
        failed = true;
    }
    if (failed)
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
    if (!changed)
        return;
    fz_buffer *volatile cleaned = nullptr;
    fz_try(ctx) {
        cleaned =
            fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char *>(text.data()), text.size());
        pdf_update_stream(ctx, pdf, stream, cleaned, 0);
    }
    fz_always(ctx) { fz_drop_buffer(ctx, cleaned); }
    fz_catch(ctx) { fz_rethrow(ctx); }
}

void FilterPage(fz_context *ctx, pdf_document *pdf, pdf_page *page, Cleaning &cleaning, Keep &keep, pdf_obj *res);
void RemoveAnnotations(fz_context *ctx, pdf_document *pdf, pdf_obj *obj, Cleaning &cleaning, Keep &keep);

void CleanPage(fz_context *ctx, pdf_document *pdf, pdf_page *page, Cleaning &cleaning) {
    Keep &total = cleaning.total;
    pdf_obj *obj = page->obj;
    // The page's picture stored with it, and the private data of the
    // program that made it, show the page as it was.
    pdf_dict_dels(ctx, obj, "Thumb");
    pdf_dict_dels(ctx, obj, "PieceInfo");
    Structure &structure = cleaning.structure;
    StripXmpThumbnails(ctx, pdf, pdf_dict_get(ctx, obj, PDF_NAME(Metadata)), structure.xmp);
    if (structure.tagged)
        ObserveMarkedContent(ctx, pdf, pdf_dict_get(ctx, obj, PDF_NAME(Contents)),
                             pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Resources)), structure.before);
    fz_rect media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(MediaBox)));
    fz_rect crop = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(CropBox)));
    Keep keep;
    keep.box = fz_is_empty_rect(crop) ? media : fz_intersect_rect(crop, media);
    pdf_obj *res = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Resources));
    // A page with nothing outside its crop gets its own content back: the
    // filter's rewrite of it would change nothing that shows.
    pdf_obj *ownContents = pdf_keep_obj(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Contents)));
    pdf_obj *ownResources = pdf_keep_obj(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Resources)));
    volatile bool restored = true;
    fz_try(ctx) { FilterPage(ctx, pdf, page, cleaning, keep, res); }
    fz_always(ctx) {
        // Given back in a block of its own: a page that a repair of the
        // file has taken away fails here too, and what was kept must still
        // be let go.
        if (keep.glyphs == 0 && keep.images == 0 && keep.drawings == 0) {
            fz_try(ctx) {
                pdf_dict_put(ctx, obj, PDF_NAME(Contents), ownContents);
                if (ownResources)
                    pdf_dict_put(ctx, obj, PDF_NAME(Resources), ownResources);
                else
                    pdf_dict_del(ctx, obj, PDF_NAME(Resources));
            }
            fz_catch(ctx) { restored = false; }
        }
        pdf_drop_obj(ctx, ownContents);
        pdf_drop_obj(ctx, ownResources);
    }
    fz_catch(ctx) { fz_rethrow(ctx); }
    if (!restored)
        fz_throw(ctx, FZ_ERROR_GENERIC, "a page's content cannot be given back");
    if (structure.tagged && (keep.glyphs || keep.images || keep.drawings)) {
        // Marked content that painted and paints no more.
        ObserveMarkedContent(ctx, pdf, pdf_dict_get(ctx, obj, PDF_NAME(Contents)),
                             pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Resources)), structure.after);
        for (int id : structure.before.painted)
            if (!structure.after.painted.count(id))
                MarkGoneOn(ctx, structure, pdf_to_num(ctx, obj), id);
    }
    RemoveAnnotations(ctx, pdf, obj, cleaning, keep);
    total.glyphs += keep.glyphs;
    total.images += keep.images;
    total.annotations += keep.annotations;
    total.drawings += keep.drawings;
}

// The page's content without what lies outside `keep.box`.
void FilterPage(fz_context *ctx, pdf_document *pdf, pdf_page *page, Cleaning &cleaning, Keep &keep, pdf_obj *res) {
    pdf_obj *obj = page->obj;
    // Drawings are culled in the page's own content, where its user space
    // is known; a form's content is drawn wherever the form is placed.
    FirstPass &pass = cleaning.pass;
    pass.Reset(true, keep.box);
    fz_buffer *fixed = AfterFirstPass(ctx, pdf, pdf_dict_get(ctx, obj, PDF_NAME(Contents)), res, pass);
    keep.drawings = pass.drawings;
    fz_try(ctx) { pdf_dict_put_drop(ctx, obj, PDF_NAME(Contents), pdf_add_stream(ctx, pdf, fixed, nullptr, 0)); }
    fz_always(ctx) { fz_drop_buffer(ctx, fixed); }
    fz_catch(ctx) { fz_rethrow(ctx); }
    FormsWithTextMatrices(ctx, pdf, res, cleaning.formsSeen, pass, 0);
    pdf_filter_options options = {};
    options.opaque = &keep;
    options.text_filter = GlyphOutside;
    options.image_filter = ImageOutside;
    // Patterns, soft masks and Type 3 glyphs are left as they are: they
    // are shared, and drawn in spaces of their own.
    options.recurse = 0;
    options.instance_forms = 1;
    options.sanitize = 1;
    pdf_filter_page_contents(ctx, pdf, page, &options);
}

// Annotations and widgets wholly outside `keep.box` taken off the page.
void RemoveAnnotations(fz_context *ctx, pdf_document *pdf, pdf_obj *obj, Cleaning &cleaning, Keep &keep) {
    std::unordered_set<int> &goneWidgets = cleaning.goneWidgets;
    // Annotations and widgets wholly outside leave the page's
    // list (a list of its own, since a split page's copies
    // share theirs), and a removed note's pop-up with it.
    pdf_obj *annots = pdf_dict_get(ctx, obj, PDF_NAME(Annots));
    if (pdf_is_array(ctx, annots)) {
        std::unordered_set<int> &gone = cleaning.gone;
        gone.clear();
        const int count = pdf_array_len(ctx, annots);
        for (int i = 0; i < count; ++i) {
            pdf_obj *a = pdf_array_get(ctx, annots, i);
            if (pdf_name_eq(ctx, pdf_dict_get(ctx, a, PDF_NAME(Subtype)), PDF_NAME(Popup)))
                continue;
            const fz_rect r = pdf_to_rect(ctx, pdf_dict_get(ctx, a, PDF_NAME(Rect)));
            // One without area (an invisible signature's) lies nowhere.
            // One held in the list itself (no object of its own) is kept.
            if (fz_is_empty_rect(r) || !Outside(r, keep.box) || pdf_to_num(ctx, a) == 0)
                continue;
            gone.insert(pdf_to_num(ctx, a));
            Insert(ctx, cleaning.structure.goneAnnotations, pdf_to_num(ctx, a));
            if (pdf_name_eq(ctx, pdf_dict_get(ctx, a, PDF_NAME(Subtype)), PDF_NAME(Widget)))
                goneWidgets.insert(pdf_to_num(ctx, a));
            if (pdf_obj *popup = pdf_dict_get(ctx, a, PDF_NAME(Popup)))
                gone.insert(pdf_to_num(ctx, popup));
        }
        if (!gone.empty()) {
            pdf_obj *kept = pdf_new_array(ctx, pdf, count);
            pdf_keep_obj(ctx, annots);  // the old list, until the new one is filled
            pdf_dict_put_drop(ctx, obj, PDF_NAME(Annots), kept);
            for (int i = 0; i < count; ++i) {
                pdf_obj *a = pdf_array_get(ctx, annots, i);
                const int num = pdf_to_num(ctx, a);
                if (num && gone.count(num)) {
                    ++keep.annotations;
                    continue;
                }
                pdf_array_push(ctx, kept, a);
            }
            pdf_drop_obj(ctx, annots);
        }
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int LS_WriteWithoutHidden(const char *path, const char *password, int fd,
                                                                 int32_t *removed) {
    try {
        Descriptor descriptor{};
        Document *doc = OpenToWrite(path, password, fd, descriptor, true);
        if (!doc)
            return 0;
        fz_context *ctx = doc->ctx;
        pdf_document *pdf = doc->pdf;
        Cleaning cleaning;
        const Keep &total = cleaning.total;
        const std::unordered_set<int> &goneWidgets = cleaning.goneWidgets;
        fz_output *volatile out = nullptr;
        pdf_page *volatile page = nullptr;
        volatile int written = 0;
        const int pages = PageCount(doc);
        fz_try(ctx) {
            pdf_obj *catalog = pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Root));
            cleaning.structure.tagged = pdf_is_dict(ctx, pdf_dict_gets(ctx, catalog, "StructTreeRoot"));
            StripXmpThumbnails(ctx, pdf, pdf_dict_get(ctx, catalog, PDF_NAME(Metadata)), cleaning.structure.xmp);
            for (int n = 0; n < pages; ++n) {  // NOLINT: not changed after a throw
                page = LoadPage(doc, n);
                CleanPage(ctx, pdf, page, cleaning);
                fz_drop_page(ctx, &page->super);
                page = nullptr;
            }
            PruneStructure(ctx, pdf, cleaning.structure);
            pdf_obj *form = pdf_dict_get(ctx, catalog, PDF_NAME(AcroForm));
            if (!goneWidgets.empty()) {
                PruneFields(ctx, pdf_dict_get(ctx, form, PDF_NAME(Fields)), goneWidgets, 0);
                PruneFields(ctx, pdf_dict_gets(ctx, form, "CO"), goneWidgets, 0);  // the calculation order
            }

            out = NewDescriptorOutput(ctx, descriptor);
            // A whole new file: objects nothing uses any more (the old
            // contents, removed images and annotations) are left out, new
            // streams compressed, the encryption kept.
            pdf_write_options options = pdf_default_write_options;
            options.do_garbage = 1;
            options.do_compress = 1;
            pdf_write_document(ctx, pdf, out, &options);
            fz_close_output(ctx, out);
            written = 1;
        }
        fz_always(ctx) {
            fz_drop_output(ctx, out);
            if (page)
                fz_drop_page(ctx, &page->super);
        }
        fz_catch(ctx) {
            written = 0;
            WriteFailed(LastWriteErrno(), fz_caught_message(ctx));
        }
        DropDocument(doc);
        if (written && removed) {
            removed[0] = total.glyphs;
            removed[1] = total.images;
            removed[2] = total.annotations;
            removed[3] = int32_t(goneWidgets.size());
            removed[4] = total.drawings;
        }
        return written;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
