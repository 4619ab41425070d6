#include "render/decoders/decoders.h"

namespace render {

bool Fail(PageImage &image, const std::string &text) {
    // Allocate leaves its own text (the memory limit, say); keep it.
    if (!(text.empty() && !image.LastError().empty()))
        image.SetLastError(text);
    return false;
}

void SetGreyPalette(PageImage &image) {
    RgbQuad *pal = image.Palette();
    const uint32_t n = image.PaletteSize();
    if (!pal || n < 2)
        return;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(i * 255 / (n - 1));
        pal[i] = RgbQuad{v, v, v, 0};
    }
}

bool CheckFrame(PageImage &image, int count, const char *format) {
    image.SetFrameCount(count);
    if (image.FrameIndex() < 0 || image.FrameIndex() >= count)
        return Fail(image, std::string(format) + ": frame " + std::to_string(image.FrameIndex() + 1) +
                               " does not exist (the file has " + std::to_string(count) + ")");
    return true;
}

void PutRgbRow(PageImage &image, uint32_t y, const uint8_t *src, int channels) {
    uint8_t *dst = image.Row(image.Height() - 1 - y);
    const uint32_t w = image.Width();
    if (channels == 4) {
        for (uint32_t x = 0; x < w; ++x, src += 4, dst += 3) {
            const uint32_t a = src[3], inv = 255 - a;
            dst[0] = uint8_t((src[2] * a + 255 * inv + 127) / 255);
            dst[1] = uint8_t((src[1] * a + 255 * inv + 127) / 255);
            dst[2] = uint8_t((src[0] * a + 255 * inv + 127) / 255);
        }
    } else {
        for (uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
}

namespace {

const std::vector<DecoderEntry> &Requestable() {
    static const std::vector<DecoderEntry> entries = {
        {kFormatBmp, "BMP", DecodeBmp},
        {kFormatGif, "GIF", DecodeGif},
        {kFormatJpeg, "JPEG", DecodeJpeg},
        {kFormatPng, "PNG", DecodePng},
        {kFormatIco, "ICO", DecodeIco},
        {kFormatTiff, "TIFF", DecodeTiff},
        {kFormatTga, "TGA", DecodeTga},
        {kFormatPcx, "PCX", DecodePcx},
        {kFormatWbmp, "WBMP", DecodeWbmp},
        {kFormatWmf, "WMF/EMF", DecodeMetafile},
        {kFormatJp2, "JPEG 2000", DecodeJpeg2000},
        {kFormatJpc, "JPEG 2000", DecodeJpeg2000},
        {kFormatPgx, "PGX", DecodePgx},
        {kFormatPnm, "PNM", DecodePnm},
        {kFormatRas, "RAS", DecodeRas},
        {kFormatMng, "MNG", DecodeMng},
        {kFormatWebp, "WebP", DecodeWebp},
        {kFormatRaw, "RAW", DecodeRaw},
    };
    return entries;
}

}  // namespace

const DecoderEntry *DecoderFor(int code) {
    for (const DecoderEntry &e : Requestable())
        if (e.code == code)
            return &e;
    return nullptr;
}

const std::vector<DecoderEntry> &DetectionOrder() {
    static const std::vector<DecoderEntry> order = {
        {kFormatBmp, "BMP", DecodeBmp},          {kFormatJpeg, "JPEG", DecodeJpeg},
        {kFormatIco, "ICO", DecodeIco},          {kFormatGif, "GIF", DecodeGif},
        {kFormatPng, "PNG", DecodePng},          {kFormatTiff, "TIFF", DecodeTiff},
        {kFormatMng, "MNG", DecodeMng},          {kFormatTga, "TGA", DecodeTga},
        {kFormatPcx, "PCX", DecodePcx},          {kFormatWbmp, "WBMP", DecodeWbmp},
        {kFormatWmf, "WMF/EMF", DecodeMetafile}, {kFormatJp2, "JPEG 2000/PGX/PNM/RAS", DecodeJ2kFamily},
        {kFormatWebp, "WebP", DecodeWebp},       {kFormatRaw, "RAW", DecodeRaw},
    };
    return order;
}

}  // namespace render
