// libravel.so: a repaired copy of a damaged PDF, as MuPDF reads it.
// Every MuPDF call happens inside fz_try; nothing escapes the C interface.

#include "ravel/document.h"

using namespace ravel;

extern "C" __attribute__((visibility("default"))) int LS_WriteRepaired(const char *path, int fd) {
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
