// libFuzzer target: arbitrary bytes as a PDF file given to the rendering
// library: open, count, measure, render (whole and a region), thumbnail,
// measure every page at once, write a repaired copy and one without hidden
// content, without crashing.
#include "ravel/ravel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string ScratchPath(const char *suffix) { return "/tmp/orvane-fuzz-" + std::to_string(::getpid()) + suffix; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    LS_LoadLibrary("libravel.so");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string pdf = ScratchPath(".pdf");
    static const std::string jpg = ScratchPath(".jpg");
    std::FILE *f = std::fopen(pdf.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    int32_t slot = 0;
    LS_GetPDFThumbnail(pdf.c_str(), jpg.c_str(), 1, &slot);
    LS_Document doc = LS_OpenFile(pdf.c_str(), 1);
    if (doc) {
        const int pages = LS_Pages(doc);
        if (pages > 0 && pages <= 100000) {
            double *sizes = static_cast<double *>(std::malloc(sizeof(double) * 2 * size_t(pages)));
            if (sizes)
                LS_PageSizes(doc, sizes, pages);
            std::free(sizes);
        }
        for (int page = 1; page <= pages && page <= 3; ++page) {
            double box[4] = {0, 0, 0, 0};
            if (!LS_PageExtent(doc, page, box, 0))
                continue;
            double scale[2] = {1.5, 1.5};
            if (LS_Bitmap *b = LS_DIBitmap24(doc, 0, page, scale, 0, 40, 50, &slot))
                LS_DeleteBitmap(b);
            if (LS_Bitmap *b = LS_RenderRegion(doc, page, 4000, 5000, 1000, 2000, 30, 20))
                LS_DeleteBitmap(b);
            LS_Thumbnail(doc, jpg.c_str(), page, &slot);
        }
        LS_CloseFile(doc);
        // The repaired copy, and the copy without hidden content, into
        // files of no name.
        if (std::FILE *copy = std::tmpfile()) {
            LS_WriteRepaired(pdf.c_str(), fileno(copy));
            std::fclose(copy);
        }
        if (std::FILE *copy = std::tmpfile()) {
            int32_t removed[5] = {0, 0, 0, 0, 0};
            LS_WriteWithoutHidden(pdf.c_str(), nullptr, fileno(copy), removed);
            std::fclose(copy);
        }
    }
    std::remove(jpg.c_str());
    return 0;
}
