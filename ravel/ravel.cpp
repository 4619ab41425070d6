// libravel.so on MuPDF.
//
// Every MuPDF call happens inside fz_try on the context of the document it
// works on; fz_try blocks hold no C++ objects with destructors, since MuPDF
// leaves them with longjmp. Each exported function also catches C++
// exceptions (allocation failures of our own bookkeeping) so nothing escapes
// the C interface.

#include "ravel/ravel.h"
#include "ravel/jpeg_writer.h"

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <cctype>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// MuPDF asks the caller for FZ_LOCK_MAX mutexes shared by every context
// cloned from the base one.
std::mutex g_fzLocks[FZ_LOCK_MAX];

void LockFz(void *, int lock) { g_fzLocks[lock].lock(); }
void UnlockFz(void *, int lock) { g_fzLocks[lock].unlock(); }

fz_locks_context g_locks = {nullptr, LockFz, UnlockFz};

void LockShared(void *, int lock) {
    if (lock == FZ_LOCK_FREETYPE)
        g_fzLocks[lock].lock();
}
void UnlockShared(void *, int lock) {
    if (lock == FZ_LOCK_FREETYPE)
        g_fzLocks[lock].unlock();
}

fz_locks_context g_documentLocks = {nullptr, LockShared, UnlockShared};

std::mutex g_stateMutex;  // guards g_base and g_documents
fz_context *g_base = nullptr;

struct Document {
    fz_context *ctx = nullptr;
    pdf_document *pdf = nullptr;
    int dpi = 72;
    int pages = 0;  // as the page tree holds them, whatever it says
    // The object number of each page, when MuPDF's map of the pages is
    // loaded (finding a page is then a lookup, not a walk of the tree).
    std::vector<int> pageObjects;
};

// Memory our own bookkeeping cannot get is told as MuPDF's error, not as
// a C++ exception through its frames.
template <typename T>
void Push(fz_context *ctx, std::vector<T> &into, const T &value) {
    bool pushed = true;
    try {
        into.push_back(value);
    } catch (...) {
        pushed = false;
    }
    if (!pushed)
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
}

// The same for a set: true when `value` was not in it yet.
template <typename Set, typename T>
bool Insert(fz_context *ctx, Set &into, const T &value) {
    bool added = false, failed = false;
    try {
        added = into.insert(value).second;
    } catch (...) {
        failed = true;
    }
    if (failed)
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory");
    return added;
}

std::unordered_set<Document *> g_documents;


void DropDocument(Document *doc) {
    // MuPDF's map of the pages is freed by its own call, not with the
    // document.
    if (!doc->pageObjects.empty()) {
        fz_try(doc->ctx) { pdf_drop_page_tree(doc->ctx, doc->pdf); }
        fz_catch(doc->ctx) {}
    }
    fz_try(doc->ctx) { pdf_drop_document(doc->ctx, doc->pdf); }
    fz_catch(doc->ctx) {}
    fz_drop_context(doc->ctx);
    delete doc;
}

// A handle is valid only while it is registered; anything else (0, a closed
// handle, a stray number) is refused without being dereferenced.
Document *Lookup(LS_Document handle) {
    std::lock_guard<std::mutex> guard(g_stateMutex);
    auto *doc = reinterpret_cast<Document *>(handle);
    return g_documents.count(doc) ? doc : nullptr;
}

void Silent(void *, const char *) {}

// A context of its own for each document: a handle is used by one thread
// at a time, so its context needs no locks of its own, and threads
// rendering their own documents side by side share no allocator lock,
// glyph cache or font library to wait for. One lock stays shared by every
// context: MuPDF guards the memory hooks it gives the JPEG 2000 and text
// shaping libraries, which are process-wide, with its FreeType lock. Each
// context keeps a store of its own (fonts, decoded pictures) of at most
// this size: the window's three documents (the page shown and two render
// threads) hold at most 288 MB, about what one shared store of 256 MB did.
// Null when the library is not loaded.
constexpr size_t kStorePerDocument = 96u << 20;

fz_context *NewDocumentContext() {
    {
        std::lock_guard<std::mutex> guard(g_stateMutex);
        if (!g_base)
            return nullptr;
    }
    fz_context *ctx = fz_new_context(nullptr, &g_documentLocks, kStorePerDocument);
    if (ctx) {
        fz_set_warning_callback(ctx, Silent, nullptr);
        fz_set_error_callback(ctx, Silent, nullptr);
    }
    return ctx;
}

// Only PDF files are documents here: regular files with a PDF header in
// their first 16 MB. Readers take a header after other bytes, even past the
// first kilobyte, and MuPDF reads such a file as it is; a file that is no
// PDF is not read to its end to tell.
constexpr size_t kHeaderWithin = 16u << 20;

bool LooksLikePdf(const char *path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool found = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[1 << 16];
        size_t kept = 0;  // the last bytes of the block before, a header may span the two
        for (size_t read = 0; read < kHeaderWithin;) {
            const ssize_t n = ::read(fd, buffer + kept, sizeof buffer - kept);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            read += size_t(n);
            const size_t end = kept + size_t(n);
            if (memmem(buffer, end, "%PDF-", 5)) {
                found = true;
                break;
            }
            kept = std::min<size_t>(end, 4);
            std::memmove(buffer, buffer + end - kept, kept);
        }
    }
    ::close(fd);
    return found;
}

// Opens `path` on `ctx`; null when MuPDF cannot make sense of it or when a
// password other than the empty one is needed and `password` (null or
// empty for none) is not one of the file's. `status` gets why.
pdf_document *OpenPdf(fz_context *ctx, const char *path, const char *password = nullptr,
                      int32_t *status = nullptr) {
    pdf_document *volatile pdf = nullptr;
    volatile int ok = 0;
    volatile int32_t why = LS_OPEN_UNREADABLE;
    fz_try(ctx) {
        pdf = pdf_open_document(ctx, path);
        if (pdf_needs_password(ctx, pdf)) {
            const bool given = password && *password;
            if (!given || !pdf_authenticate_password(ctx, pdf, password)) {
                why = given ? LS_OPEN_WRONG_PASSWORD : LS_OPEN_NEEDS_PASSWORD;
                fz_throw(ctx, FZ_ERROR_GENERIC, "password required");
            }
        }
        ok = 1;
        why = LS_OPEN_OK;
    }
    fz_catch(ctx) {
        ok = 0;
    }
    if (status)
        *status = why;
    if (!ok && pdf) {
        fz_try(ctx) { pdf_drop_document(ctx, pdf); }
        fz_catch(ctx) {}
        pdf = nullptr;
    }
    return pdf;
}

// The page tree made to agree with itself, in memory only: every node's
// /Count becomes the number of pages below it, a node met a second time (a
// loop, a page listed twice, a list of kids shared) leaves the place it is
// met again, a branch deeper than 64 levels goes, and a page whose crop box
// lies wholly outside its media box shows its media box (as the crop tool
// reads such a page). So counting the pages, finding page N and walking the
// tree all give the same pages, and nothing is sized by a count the file
// merely claims. Longjmps out (fz_throw) on MuPDF's errors.
struct PageTree {
    std::unordered_set<int> seen;  // objects met: nodes, pages, lists of kids
    std::vector<int> pages;        // each page's object number, 0 for a direct one
};

constexpr int kDeepestPageTree = 64;

bool Seen(fz_context *ctx, PageTree &tree, pdf_obj *obj) {
    const int num = pdf_to_num(ctx, obj);
    return num > 0 && !Insert(ctx, tree.seen, num);
}

// A page whose crop box and media box do not meet shows its media box.
void SettleBoxes(fz_context *ctx, pdf_obj *page) {
    pdf_obj *cropObj = pdf_dict_get_inheritable(ctx, page, PDF_NAME(CropBox));
    if (!pdf_is_array(ctx, cropObj))
        return;
    fz_rect media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox)));
    if (fz_is_empty_rect(media))
        media = fz_make_rect(0, 0, 612, 792);
    const fz_rect crop = pdf_to_rect(ctx, cropObj);
    if (fz_is_empty_rect(crop))
        return;
    if (std::max(media.x0, crop.x0) < std::min(media.x1, crop.x1) &&
        std::max(media.y0, crop.y0) < std::min(media.y1, crop.y1))
        return;
    pdf_dict_put_rect(ctx, page, PDF_NAME(CropBox), media);
}

// The pages below `node`, its kids settled.
int SettleKids(fz_context *ctx, pdf_obj *node, int depth, PageTree &tree) {
    pdf_obj *kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    if (pdf_is_array(ctx, kids) && Seen(ctx, tree, kids)) {
        pdf_dict_put_drop(ctx, node, PDF_NAME(Kids), pdf_new_array(ctx, pdf_get_bound_document(ctx, node), 0));
        kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    }
    int total = 0;
    for (int i = 0; i < pdf_array_len(ctx, kids);) {
        pdf_obj *kid = pdf_array_get(ctx, kids, i);
        // A kid is a node of the tree as MuPDF finds pages: a /Pages, or
        // without a type, one with kids and no media box.
        pdf_obj *type = pdf_dict_get(ctx, kid, PDF_NAME(Type));
        const bool inner = type ? pdf_name_eq(ctx, type, PDF_NAME(Pages))
                                : pdf_dict_get(ctx, kid, PDF_NAME(Kids)) && !pdf_dict_get(ctx, kid, PDF_NAME(MediaBox));
        if (Seen(ctx, tree, kid) || (inner && depth >= kDeepestPageTree)) {
            pdf_array_delete(ctx, kids, i);
            continue;
        }
        if (inner) {
            total += SettleKids(ctx, kid, depth + 1, tree);
        } else {
            if (pdf_is_dict(ctx, kid))
                SettleBoxes(ctx, kid);
            Push(ctx, tree.pages, pdf_to_num(ctx, kid));
            ++total;
        }
        ++i;
    }
    pdf_obj *count = pdf_dict_get(ctx, node, PDF_NAME(Count));
    if (!pdf_is_int(ctx, count) || pdf_to_int(ctx, count) != total)
        pdf_dict_put_int(ctx, node, PDF_NAME(Count), total);
    return total;
}

// Settles the page tree of `pdf` and tells `doc` what it holds; false when
// the tree cannot be read at all. Finding a page by its number is made a
// lookup where MuPDF's map of the pages agrees with the walk (else pages of
// a flat tree of thousands each walk the thousands before them).
bool SettlePageTree(fz_context *ctx, pdf_document *pdf, Document &doc) {
    PageTree tree;
    volatile bool ok = false;
    volatile int count = 0;
    fz_try(ctx) {
        pdf_obj *root = pdf_dict_getp(ctx, pdf_trailer(ctx, pdf), "Root/Pages");
        if (pdf_is_dict(ctx, root)) {
            Seen(ctx, tree, root);
            count = SettleKids(ctx, root, 0, tree);
        }
        ok = true;
    }
    fz_catch(ctx) { ok = false; }
    if (!ok)
        return false;
    doc.pages = count;
    if (count == 0)
        return true;
    // The map is sized by the root's count, now the true one.
    volatile bool mapped = false;
    fz_try(ctx) {
        pdf_load_page_tree(ctx, pdf);
        mapped = true;
    }
    fz_catch(ctx) { mapped = false; }
    if (!mapped)
        return true;
    bool same = pdf->fwd_page_map && pdf->map_page_count == count;
    for (int i = 0; same && i < count; ++i)
        same = tree.pages[size_t(i)] > 0 && pdf->fwd_page_map[i] == tree.pages[size_t(i)];
    if (!same) {
        fz_try(ctx) { pdf_drop_page_tree(ctx, pdf); }
        fz_catch(ctx) {}
        return true;
    }
    doc.pageObjects.swap(tree.pages);
    return true;
}

// A document of its own for `path`, on a context cloned from the base one,
// not yet known as a handle; null when it is not a PDF this library opens.
// Freed with DropDocument.
Document *OpenDocumentAt(const char *path, const char *password = nullptr, int32_t *status = nullptr) {
    if (status)
        *status = LS_OPEN_UNREADABLE;
    if (!path || !LooksLikePdf(path))
        return nullptr;
    fz_context *ctx = NewDocumentContext();
    if (!ctx)
        return nullptr;
    pdf_document *pdf = OpenPdf(ctx, path, password, status);
    auto *doc = pdf ? new (std::nothrow) Document : nullptr;
    if (doc && !SettlePageTree(ctx, pdf, *doc)) {
        delete doc;
        doc = nullptr;
        if (status)
            *status = LS_OPEN_UNREADABLE;
    }
    if (!doc) {
        if (pdf) {
            fz_try(ctx) { pdf_drop_document(ctx, pdf); }
            fz_catch(ctx) {}
        }
        fz_drop_context(ctx);
        return nullptr;
    }
    doc->ctx = ctx;
    doc->pdf = pdf;
    return doc;
}

int PageCount(Document *doc) { return doc->pages; }

// The page object of page `index` (from 0), borrowed from the document
// (not to be dropped); throws as MuPDF does. With the map loaded, MuPDF's
// own lookup hands out a reference it never takes back, so the page is
// fetched by its number.
pdf_obj *PageObject(Document *doc, int index) {
    fz_context *ctx = doc->ctx;
    if (doc->pageObjects.empty())
        return pdf_lookup_page_obj(ctx, doc->pdf, index);
    if (index < 0 || index >= int(doc->pageObjects.size()))
        fz_throw(ctx, FZ_ERROR_GENERIC, "no page %d", index + 1);
    pdf_obj *obj = pdf_load_object(ctx, doc->pdf, doc->pageObjects[size_t(index)]);
    pdf_drop_obj(ctx, obj);  // the document's cache holds it
    return obj;
}

// The object number of page `index` (from 0).
int PageNumber(Document *doc, int index) {
    if (!doc->pageObjects.empty())
        return index >= 0 && index < int(doc->pageObjects.size()) ? doc->pageObjects[size_t(index)] : 0;
    return pdf_to_num(doc->ctx, pdf_lookup_page_obj(doc->ctx, doc->pdf, index));
}

// pdf_load_page, without the reference MuPDF's lookup keeps when the map
// is loaded: the page object has as many references after the page is
// dropped as before it was loaded.
pdf_page *LoadPage(Document *doc, int index) {
    fz_context *ctx = doc->ctx;
    pdf_obj *obj = doc->pageObjects.empty() ? nullptr : PageObject(doc, index);
    const int before = obj ? pdf_obj_refs(ctx, obj) : 0;
    pdf_page *page = pdf_load_page(ctx, doc->pdf, index);
    if (obj && page->obj == obj && pdf_obj_refs(ctx, obj) > before + 1)
        pdf_drop_obj(ctx, obj);
    return page;
}

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

__attribute__((visibility("default"))) int LS_LoadLibrary(const char *) {
    try {
        std::lock_guard<std::mutex> guard(g_stateMutex);
        if (g_base)
            return 1;
        fz_context *ctx = fz_new_context(nullptr, &g_locks, FZ_STORE_DEFAULT);
        if (!ctx)
            return 0;
        fz_set_warning_callback(ctx, Silent, nullptr);
        fz_set_error_callback(ctx, Silent, nullptr);
        g_base = ctx;
        return 1;
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) void LS_FreeLibrary(void) {
    try {
        std::lock_guard<std::mutex> guard(g_stateMutex);
        for (Document *doc : g_documents)
            DropDocument(doc);
        g_documents.clear();
        if (g_base) {
            fz_drop_context(g_base);
            g_base = nullptr;
        }
    } catch (...) {
    }
}

__attribute__((visibility("default"))) LS_Document LS_OpenFile(const char *path, int flag) {
    return LS_OpenFileWithPassword(path, nullptr, flag, nullptr);
}

__attribute__((visibility("default"))) LS_Document LS_OpenFileWithPassword(const char *path, const char *password, int,
                                                                           int32_t *status) {
    if (status)
        *status = LS_OPEN_UNREADABLE;
    try {
        Document *doc = OpenDocumentAt(path, password, status);
        if (!doc)
            return 0;
        try {
            std::lock_guard<std::mutex> guard(g_stateMutex);
            g_documents.insert(doc);
        } catch (...) {
            DropDocument(doc);
            return 0;
        }
        return reinterpret_cast<LS_Document>(doc);
    } catch (...) {
        return 0;
    }
}

__attribute__((visibility("default"))) void LS_CloseFile(LS_Document handle) {
    try {
        Document *doc = nullptr;
        {
            std::lock_guard<std::mutex> guard(g_stateMutex);
            auto *candidate = reinterpret_cast<Document *>(handle);
            if (g_documents.erase(candidate))
                doc = candidate;
        }
        if (doc)
            DropDocument(doc);
    } catch (...) {
    }
}

__attribute__((visibility("default"))) int LS_Pages(LS_Document handle) {
    try {
        Document *doc = Lookup(handle);
        return doc ? PageCount(doc) : 0;
    } catch (...) {
        return 0;
    }
}

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
        Document *doc = OpenDocumentAt(pdfPath);
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

namespace {

// Where a repaired copy goes: an open file, written from where it stood,
// its offsets counted from there.
struct Descriptor {
    int fd;
    off_t start;
};

// Why the calling thread's last write of a copy failed.
thread_local int t_writeErrno = 0;
thread_local char t_writeMessage[256] = "";

void WriteFailed(int error, const char *message) {
    t_writeErrno = error;
    std::snprintf(t_writeMessage, sizeof t_writeMessage, "%s", message ? message : "");
}

void WriteToDescriptor(fz_context *ctx, void *state, const void *data, size_t n) {
    const int fd = static_cast<const Descriptor *>(state)->fd;
    const char *bytes = static_cast<const char *>(data);
    while (n > 0) {
        const ssize_t written = ::write(fd, bytes, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            t_writeErrno = written < 0 ? errno : EIO;
            fz_throw(ctx, FZ_ERROR_GENERIC, "cannot write the copy: %s", std::strerror(t_writeErrno));
        }
        bytes += written;
        n -= size_t(written);
    }
}

int64_t TellDescriptor(fz_context *ctx, void *state) {
    const auto *d = static_cast<const Descriptor *>(state);
    const off_t at = ::lseek(d->fd, 0, SEEK_CUR);
    if (at < 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot tell where the repaired copy stands");
    return int64_t(at - d->start);
}

void SeekDescriptor(fz_context *ctx, void *state, int64_t offset, int whence) {
    const auto *d = static_cast<const Descriptor *>(state);
    if (::lseek(d->fd, off_t(offset) + (whence == SEEK_SET ? d->start : 0), whence) < 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek in the repaired copy");
}

}  // namespace

__attribute__((visibility("default"))) int LS_LastWriteError(char *message, int capacity) {
    if (message && capacity > 0)
        std::snprintf(message, size_t(capacity), "%s", t_writeMessage);
    return t_writeErrno;
}

__attribute__((visibility("default"))) int LS_WriteRepaired(const char *path, int fd) {
    try {
        WriteFailed(0, "");
        if (fd < 0)
            return 0;
        Document *doc = OpenDocumentAt(path);
        if (!doc) {
            WriteFailed(0, "the file cannot be read");
            return 0;
        }
        fz_context *ctx = doc->ctx;
        pdf_document *pdf = doc->pdf;
        Descriptor descriptor{fd, ::lseek(fd, 0, SEEK_CUR)};
        if (descriptor.start < 0)
            descriptor.start = 0;
        fz_output *volatile out = nullptr;
        volatile int written = 0;
        fz_try(ctx) {
            out = fz_new_output(ctx, 1 << 16, &descriptor, WriteToDescriptor, nullptr, nullptr);
            out->seek = SeekDescriptor;
            out->tell = TellDescriptor;
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
            WriteFailed(t_writeErrno, fz_caught_message(ctx));
        }
        DropDocument(doc);
        return written;
    } catch (...) {
        return 0;
    }
}


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
    return fz_keep_image(ctx, image);
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
            case 'm': original.op_m(ctx, proc, v[0], v[1]); break;
            case 'l': original.op_l(ctx, proc, v[0], v[1]); break;
            case 'c': original.op_c(ctx, proc, v[0], v[1], v[2], v[3], v[4], v[5]); break;
            case 'v': original.op_v(ctx, proc, v[0], v[1], v[2], v[3]); break;
            case 'y': original.op_y(ctx, proc, v[0], v[1], v[2], v[3]); break;
            case 'h': original.op_h(ctx, proc); break;
            case 'r': original.op_re(ctx, proc, v[0], v[1], v[2], v[3]); break;
            case 'W': original.op_W(ctx, proc); break;
            case '*': original.op_Wstar(ctx, proc); break;
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

#define ORVANE_PAINT(op, stroked)                                                 \
    [](fz_context *ctx, pdf_processor *proc) {                                    \
        if (t_pass->Hidden(stroked)) {                                            \
            t_pass->path.clear();                                                 \
        } else {                                                                  \
            t_pass->Release(ctx, proc);                                           \
            t_pass->original.op(ctx, proc);                                       \
        }                                                                         \
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
        cleaned = fz_new_buffer_from_copied_data(ctx, reinterpret_cast<const unsigned char *>(text.data()), text.size());
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

__attribute__((visibility("default"))) int LS_WriteWithoutHidden(const char *path, const char *password, int fd,
                                                                 int32_t *removed) {
    try {
        WriteFailed(0, "");
        if (fd < 0)
            return 0;
        Document *doc = OpenDocumentAt(path, password, nullptr);
        if (!doc) {
            WriteFailed(0, "the file cannot be read");
            return 0;
        }
        fz_context *ctx = doc->ctx;
        pdf_document *pdf = doc->pdf;
        Descriptor descriptor{fd, ::lseek(fd, 0, SEEK_CUR)};
        if (descriptor.start < 0)
            descriptor.start = 0;
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

            out = fz_new_output(ctx, 1 << 16, &descriptor, WriteToDescriptor, nullptr, nullptr);
            out->seek = SeekDescriptor;
            out->tell = TellDescriptor;
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
            WriteFailed(t_writeErrno, fz_caught_message(ctx));
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
