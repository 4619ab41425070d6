#include "render/page_source.h"

#include "render/page_image.h"
#include "render/rendering_library.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace render {

struct PageSource {
    int kind = 0;
    std::string path;
    int pageCount = 0;
    LS_Document document = 0;
    PageImage image;
    PageExtent metafileBounds;  // from the metafile's header
    int decodes = 0;
};

namespace {

std::string LowerExtension(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// Reads the bounds of an enhanced metafile from its header record; false
// when the file is not one.
bool ReadMetafileHeader(const std::string &path, PageExtent &bounds) {
    std::ifstream in(path, std::ios::binary);
    uint8_t h[108] = {0};
    if (!in.read(reinterpret_cast<char *>(h), sizeof h))
        return false;
    auto le32 = [&](int at) {
        return int32_t(uint32_t(h[at]) | (uint32_t(h[at + 1]) << 8) | (uint32_t(h[at + 2]) << 16) |
                       (uint32_t(h[at + 3]) << 24));
    };
    const bool header = le32(0) == 1 && le32(4) >= 88 && h[40] == ' ' && h[41] == 'E' && h[42] == 'M' &&
                        h[43] == 'F';
    if (!header)
        return false;
    bounds = PageExtent{0, 0, double(int64_t(le32(16)) - le32(8)), double(int64_t(le32(20)) - le32(12))};
    return true;
}

}  // namespace

void PageSourceClose(PageSource *source) {
    if (!source)
        return;
    if (source->kind == kSourcePdf && source->document && LocateRenderingLibrary())
        Ravel().CloseFile(source->document);
    if (source->kind == kSourceImage)
        source->image.Clear();
    delete source;
}

PageSourceHandle PageSourceOpen(const std::string &path, int openFlag) {
    PageSourceHandle source(new PageSource);
    source->path = path;
    const std::string ext = LowerExtension(path);
    bool opened = false;
    if (ext == ".pdf") {
        source->kind = kSourcePdf;
        if (LocateRenderingLibrary()) {
            source->document = Ravel().OpenFile(path.c_str(), openFlag);
            opened = source->document != 0;
        }
    } else if (ext == ".emf") {
        source->kind = kSourceMetafile;
        opened = ReadMetafileHeader(path, source->metafileBounds);
    } else {
        source->kind = kSourceImage;
        opened = source->image.LoadFile(path, kFormatDetect);
        source->decodes = 1;
    }
    if (!opened)
        return nullptr;
    return source;
}

int PageSourceKind(const PageSource *source) { return source ? source->kind : 0; }

int PageSourcePageCount(PageSource *source) {
    if (!source)
        return 0;
    switch (source->kind) {
    case kSourcePdf:
        if (LocateRenderingLibrary())
            source->pageCount = Ravel().Pages(source->document);
        break;
    case kSourceMetafile:
        source->pageCount = 1;
        break;
    case kSourceImage:
        source->pageCount = std::max(source->image.FrameCount(), 1);
        break;
    }
    return source->pageCount;
}

void PageSourceSetResolution(PageSource *source, int dpi) {
    if (source && source->kind == kSourcePdf && LocateRenderingLibrary())
        Ravel().SetResolution(source->document, dpi);
}

int PageSourcePageExtent(PageSource *source, int page, PageExtent *extent, int extra) {
    if (!source || !extent)
        return 0;
    switch (source->kind) {
    case kSourcePdf: {
        if (!LocateRenderingLibrary())
            return 1;
        double box[4] = {extent->x1, extent->y1, extent->x2, extent->y2};
        const int result = Ravel().PageExtent(source->document, page, box, extra);
        *extent = PageExtent{box[0], box[1], box[2], box[3]};
        return result;
    }
    case kSourceMetafile:
        *extent = source->metafileBounds;
        return 1;
    case kSourceImage:
        *extent = PageExtent{0, 0, double(source->image.Width()), double(source->image.Height())};
        return 1;
    default:
        return 1;
    }
}

BitmapHandle PageSourceRenderPage(PageSource *source, int zero1, int page, const double *scale, int zero2,
                                  int width, int height, int32_t *slot) {
    if (!source || source->kind != kSourcePdf || !source->document || !LocateRenderingLibrary())
        return nullptr;
    const RavelApi &api = Ravel();
    LS_Bitmap *raw = api.DIBitmap24(source->document, zero1, page, scale, zero2, width, height, slot);
    if (!raw)
        return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = raw->width;
    bitmap->height = raw->height;
    bitmap->bitsPerPixel = raw->bitsPerPixel;
    bitmap->stride = raw->stride;
    bitmap->bits = raw->bits;
    auto deleteBitmap = api.DeleteBitmap;
    bitmap->storage = std::shared_ptr<const void>(raw, [deleteBitmap](const void *p) {
        deleteBitmap(static_cast<LS_Bitmap *>(const_cast<void *>(p)));
    });
    return bitmap;
}

BitmapHandle PageSourceRenderFrame(PageSource *source, int page) {
    if (!source || source->kind != kSourceImage)
        return nullptr;
    if (source->image.FrameIndex() != page - 1) {
        source->image.SetFrameIndex(page - 1);
        ++source->decodes;
        if (!source->image.LoadFile(source->path, kFormatDetect))
            return nullptr;
    }
    return source->image.ToBitmap();
}

int PageSourceDecodeCount(const PageSource *source) { return source ? source->decodes : 0; }

}  // namespace render
