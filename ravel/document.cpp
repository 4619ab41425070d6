// The documents of libravel.so: the library's set-up, opening documents
// (the page tree read as what it holds), their handles, and writing a copy
// to an open file.

#include "ravel/document.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace ravel {
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

}  // namespace

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
pdf_document *OpenPdf(fz_context *ctx, const char *path, const char *password = nullptr, int32_t *status = nullptr) {
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
    fz_catch(ctx) { ok = 0; }
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
// a flat tree of thousands each walk the thousands before them); a
// document opened for one page or none (`mapPages` false) needs no map.
bool SettlePageTree(fz_context *ctx, pdf_document *pdf, Document &doc, bool mapPages) {
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
    if (count == 0 || !mapPages)
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
Document *OpenDocumentAt(const char *path, const char *password, int32_t *status, bool mapPages) {
    if (status)
        *status = LS_OPEN_UNREADABLE;
    if (!path || !LooksLikePdf(path))
        return nullptr;
    fz_context *ctx = NewDocumentContext();
    if (!ctx)
        return nullptr;
    pdf_document *pdf = OpenPdf(ctx, path, password, status);
    auto *doc = pdf ? new (std::nothrow) Document : nullptr;
    if (doc && !SettlePageTree(ctx, pdf, *doc, mapPages)) {
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

Document *OpenToWrite(const char *path, const char *password, int fd, Descriptor &descriptor, bool mapPages) {
    WriteFailed(0, "");
    if (fd < 0)
        return nullptr;
    Document *doc = OpenDocumentAt(path, password, nullptr, mapPages);
    if (!doc) {
        WriteFailed(0, "the file cannot be read");
        return nullptr;
    }
    descriptor = {fd, std::max<off_t>(0, ::lseek(fd, 0, SEEK_CUR))};
    return doc;
}

fz_output *NewDescriptorOutput(fz_context *ctx, Descriptor &descriptor) {
    fz_output *out = fz_new_output(ctx, 1 << 16, &descriptor, WriteToDescriptor, nullptr, nullptr);
    out->seek = SeekDescriptor;
    out->tell = TellDescriptor;
    return out;
}

int LastWriteErrno() { return t_writeErrno; }

}  // namespace ravel

using namespace ravel;

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

__attribute__((visibility("default"))) int LS_LastWriteError(char *message, int capacity) {
    if (message && capacity > 0)
        std::snprintf(message, size_t(capacity), "%s", t_writeMessage);
    return LastWriteErrno();
}

}  // extern "C"
