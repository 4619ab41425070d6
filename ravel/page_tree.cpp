// libravel.so: the sizes of every page at once, read from the page tree.
// Every MuPDF call happens inside fz_try; nothing escapes the C interface.

#include "ravel/document.h"

#include <cmath>

using namespace ravel;

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

extern "C" __attribute__((visibility("default"))) int LS_PageSizes(LS_Document handle, double *sizes, int count) {
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
                same = walk.numbers[i] != 0 && PageNumber(doc, walk.checks[i]) == walk.numbers[i];
            measured = same ? count : 0;
            // Pages shown turned a quarter further have their sides swapped.
            for (const auto &[index, degrees] : doc->rotations)
                if (index < count && degrees % 180 != 0)
                    std::swap(sizes[2 * index], sizes[2 * index + 1]);
        }
        fz_catch(ctx) { measured = 0; }
        return measured;
    } catch (...) {
        return 0;
    }
}
