// The documents of libravel.so: what every part of the library shares. A
// document has a MuPDF context of its own; it is opened, counted and its
// pages found here, and a copy of it is written to an open file through
// the output defined here. Internal to the library (hidden symbols).
#ifndef RAVEL_DOCUMENT_H
#define RAVEL_DOCUMENT_H

#include "ravel/ravel.h"

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

#include <map>
#include <sys/types.h>
#include <vector>

// A cancel flag is MuPDF's cookie: its abort field is what the renderer
// looks at between drawing operations, and may be set from any thread.
struct LS_CancelFlag {
    fz_cookie cookie;
};

namespace ravel {

struct Document {
    fz_context *ctx = nullptr;
    pdf_document *pdf = nullptr;
    int dpi = 72;
    int pages = 0;  // as the page tree holds them, whatever it says
    // The object number of each page, when MuPDF's map of the pages is
    // loaded (finding a page is then a lookup, not a walk of the tree).
    std::vector<int> pageObjects;
    // Pages drawn turned, by page index (from 0): degrees counterclockwise
    // as shown, about the shown page's centre.
    std::map<int, double> turns;
    // Pages shown rotated further, by page index: 90, 180 or 270 degrees
    // clockwise.
    std::map<int, int> rotations;
};

// The further rotation of page index `index` as a matrix about the origin
// (identity for none).
inline fz_matrix ExtraRotation(const Document *doc, int index) {
    const auto found = doc->rotations.find(index);
    return found == doc->rotations.end() ? fz_identity : fz_rotate(float(found->second));
}

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

// The document a handle names while it is registered; null for anything
// else (0, a closed handle, a stray number), never dereferenced.
Document *Lookup(LS_Document handle);
// A document of its own for `path`, on a context cloned from the base one,
// not yet known as a handle; null when it is not a PDF this library opens.
// `status` gets why. Freed with DropDocument. One opened to look at a page
// or two, or none, goes without the map that finds any page at once
// (`mapPages` false).
Document *OpenDocumentAt(const char *path, const char *password = nullptr, int32_t *status = nullptr,
                         bool mapPages = true);
void DropDocument(Document *doc);
// The pages the page tree holds.
int PageCount(Document *doc);
// The page object of page `index` (from 0), borrowed; throws as MuPDF does.
pdf_obj *PageObject(Document *doc, int index);
// The object number of page `index` (from 0).
int PageNumber(Document *doc, int index);
// pdf_load_page of page `index` (from 0), without a reference MuPDF's own
// lookup keeps.
pdf_page *LoadPage(Document *doc, int index);

// The matrix that draws page `page` (1-based, loaded as `pg`) scaled to
// exactly width x height pixels, of which the region from (x, y) that is
// `h` rows high is drawn; its rows bottom-up when `bottomUp`. Throws (as
// MuPDF does) for a page with no area.
fz_matrix PageMatrix(Document *doc, pdf_page *pg, int page, int width, int height, int x, int y, int h, bool bottomUp);

// What page `page` (from 1) is made of (LS_PageFacts); false when it
// cannot be read.
bool PageFacts(Document *doc, int page, int32_t *out);

// Where a copy goes: an open file, written from where it stood, its
// offsets counted from there.
struct Descriptor {
    int fd;
    off_t start;
};
// The document at `path` opened to write a copy of into the open file
// `fd`, from where the file stands; null, with the reason for
// LS_LastWriteError, when it cannot be.
Document *OpenToWrite(const char *path, const char *password, int fd, Descriptor &descriptor, bool mapPages);
// A MuPDF output writing to `descriptor`, which must outlive it; throws as
// MuPDF does. A write that fails records its error for LS_LastWriteError.
fz_output *NewDescriptorOutput(fz_context *ctx, Descriptor &descriptor);
// The reason LS_LastWriteError gives: the system's error number (0 for
// none) and a few words.
void WriteFailed(int error, const char *message);
// The error number of the calling thread's last failed write.
int LastWriteErrno();

}  // namespace ravel

#endif
