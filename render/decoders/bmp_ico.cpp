// BMP and ICO, from their published layouts: the device-independent bitmap
// with its header variants, palettes, bit fields, run-length encodings and
// top-down rows; icons as directories of such bitmaps (or PNG files), one
// frame each.

#include "render/decoders/decoders.h"

#include <algorithm>
#include <vector>

namespace render {
namespace {

struct Dib {
    int32_t width = 0;
    int32_t height = 0;  // positive, after the top-down flag is taken out
    bool topDown = false;
    uint32_t bits = 0;
    uint32_t compression = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    std::vector<RgbQuad> palette;
};

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

// Reads the header at `r`'s position (and the masks and palette after it).
bool ReadDibHeader(Reader &r, Dib &dib, PageImage &image, const char *format, bool icon) {
    const size_t start = r.Pos();
    const uint32_t headerSize = r.Le32();
    if (!r.Ok())
        return Fail(image, std::string(format) + ": file is truncated");
    size_t paletteEntrySize = 4;
    if (headerSize == 12) {
        dib.width = r.Le16();
        dib.height = int16_t(r.Le16());
        r.Le16();  // planes
        dib.bits = r.Le16();
        paletteEntrySize = 3;
    } else if (headerSize >= 40 && headerSize <= 124) {
        dib.width = int32_t(r.Le32());
        dib.height = int32_t(r.Le32());
        r.Le16();
        dib.bits = r.Le16();
        dib.compression = r.Le32();
        r.Le32();  // image size
        r.Le32();
        r.Le32();
        uint32_t colours = r.Le32();
        r.Le32();
        if (headerSize >= 52) {
            for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i)
                dib.masks[i] = r.Le32();
        }
        r.Seek(start + headerSize);
        if (headerSize == 40 && (dib.compression == kBitFields || dib.compression == kAlphaBitFields))
            for (int i = 0; i < (dib.compression == kAlphaBitFields ? 4 : 3); ++i)
                dib.masks[i] = r.Le32();
        if (dib.bits <= 8) {
            uint32_t n = colours ? colours : (1u << dib.bits);
            if (n > 256)
                return Fail(image, std::string(format) + ": bad palette size");
            dib.palette.resize(n);
        }
    } else {
        return Fail(image, std::string(format) + ": unknown header size " + std::to_string(headerSize));
    }
    if (!r.Ok())
        return Fail(image, std::string(format) + ": file is truncated");
    if (headerSize == 12 && dib.bits <= 8)
        dib.palette.resize(1u << dib.bits);
    for (RgbQuad &q : dib.palette) {
        q.blue = r.U8();
        q.green = r.U8();
        q.red = r.U8();
        if (paletteEntrySize == 4)
            r.U8();
    }
    if (!r.Ok())
        return Fail(image, std::string(format) + ": palette is truncated");
    if (icon)
        dib.height /= 2;  // the colour picture is followed by the mask
    if (dib.height < 0) {
        dib.topDown = true;
        if (dib.height == INT32_MIN)
            return Fail(image, std::string(format) + ": bad height");
        dib.height = -dib.height;
    }
    if (dib.width <= 0 || dib.height <= 0)
        return Fail(image, std::string(format) + ": bad dimensions");
    switch (dib.bits) {
    case 1:
    case 4:
    case 8:
        if (dib.compression != kRgb && !(dib.compression == kRle8 && dib.bits == 8) &&
            !(dib.compression == kRle4 && dib.bits == 4))
            return Fail(image, std::string(format) + ": unsupported compression");
        break;
    case 16:
    case 24:
    case 32:
        if (dib.compression == kBitFields || dib.compression == kAlphaBitFields) {
            if (dib.bits == 24)
                return Fail(image, std::string(format) + ": unsupported compression");
        } else if (dib.compression != kRgb) {
            return Fail(image, std::string(format) + ": unsupported compression");
        }
        if (dib.compression == kRgb) {
            if (dib.bits == 16) {
                dib.masks[0] = 0x7c00;
                dib.masks[1] = 0x03e0;
                dib.masks[2] = 0x001f;
            } else if (dib.bits == 32) {
                dib.masks[0] = 0x00ff0000;
                dib.masks[1] = 0x0000ff00;
                dib.masks[2] = 0x000000ff;
                dib.masks[3] = icon ? 0xff000000 : 0;
            }
        }
        break;
    default:
        return Fail(image, std::string(format) + ": unsupported bit depth " + std::to_string(dib.bits));
    }
    if ((dib.compression == kRle8 || dib.compression == kRle4) && dib.topDown)
        return Fail(image, std::string(format) + ": top-down run-length data");
    return true;
}

// Scales a masked field to 0..255.
struct Field {
    explicit Field(uint32_t bits) : mask(bits) {
        if (!mask)
            return;
        while (!((mask >> shift) & 1))
            ++shift;
        uint32_t m = mask >> shift;
        while (m & 1) {
            ++width;
            m >>= 1;
        }
    }
    uint8_t Get(uint32_t v) const {
        if (!mask)
            return 255;
        uint32_t x = (v & mask) >> shift;
        if (width >= 8)
            return uint8_t(x >> (width - 8));
        return uint8_t(x * 255 / ((1u << width) - 1));
    }
    uint32_t mask;
    int shift = 0;
    int width = 0;
};

// Expands run-length data straight into the rows of a palette image that
// is already allocated and cleared. Pixels the data skips stay index 0.
bool DecodeRle(Reader &r, const Dib &dib, PageImage &image, const char *format) {
    const int32_t w = dib.width, h = dib.height;
    int32_t x = 0, y = 0;  // y counts from the bottom, like the stored rows
    const bool four = dib.compression == kRle4;
    auto put = [&](uint8_t v) {
        if (x < w && y < h) {
            uint8_t *row = image.Row(uint32_t(y));
            if (four)
                row[x >> 1] =
                    uint8_t((x & 1) ? ((row[x >> 1] & 0xf0) | (v & 0x0f)) : ((row[x >> 1] & 0x0f) | (v << 4)));
            else
                row[x] = v;
        }
        ++x;
    };
    while (y < h) {
        const uint8_t count = r.U8();
        const uint8_t value = r.U8();
        if (!r.Ok())
            return Fail(image, std::string(format) + ": run-length data is truncated");
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i)
                put(four ? uint8_t((i & 1) ? (value & 0x0f) : (value >> 4)) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            x += r.U8();
            y += r.U8();
            if (!r.Ok())
                return Fail(image, std::string(format) + ": run-length data is truncated");
        } else {
            const int n = value;
            const size_t bytes = four ? size_t((n + 1) / 2) : size_t(n);
            const uint8_t *p = r.Take(bytes);
            if (!p)
                return Fail(image, std::string(format) + ": run-length data is truncated");
            for (int i = 0; i < n && x < w; ++i)
                put(four ? uint8_t((i & 1) ? (p[i / 2] & 0x0f) : (p[i / 2] >> 4)) : p[i]);
            if (bytes & 1)
                r.U8();
        }
    }
    return true;
}

// Fills `image` from the pixels at `pixels`. Palette depths stay palette
// images unless `forceRgb`; everything else becomes 24-bit. `mask`, when
// not empty, is the icon's transparency mask (1 = transparent).
bool DecodePixels(ByteSpan data, size_t pixels, const Dib &dib, PageImage &image, const char *format, int code,
                  bool forceRgb, bool iconMask) {
    const uint32_t w = uint32_t(dib.width), h = uint32_t(dib.height);
    if (!WithinPageImageLimit(w, h, 24) && !(dib.bits <= 8 && !forceRgb && WithinPageImageLimit(w, h, dib.bits)))
        return Fail(image, "PAGEIMAGE_MAX_MEMORY exceeded");
    Reader r(data, 0);
    r.Seek(pixels);
    if (!r.Ok())
        return Fail(image, std::string(format) + ": pixel data is missing");

    const bool isRle = dib.compression == kRle8 || dib.compression == kRle4;
    const uint64_t srcStride = ((uint64_t(w) * dib.bits + 31) / 32) * 4;
    if (isRle) {  // only palette pictures come run-length encoded
        uint8_t *block = image.Allocate(w, h, dib.bits, code);
        if (!block)
            return false;
        std::memset(image.Row(0), 0, image.Header().biSizeImage);
        RgbQuad *pal = image.Palette();
        for (size_t i = 0; i < dib.palette.size() && i < image.PaletteSize(); ++i)
            pal[i] = dib.palette[i];
        if (!DecodeRle(r, dib, image, format)) {
            image.Clear();
            return false;
        }
        return true;
    }
    if (srcStride * h > r.Left())
        return Fail(image, std::string(format) + ": pixel data is truncated");
    const uint8_t *base = data.data() + pixels;
    auto srcRow = [&](uint32_t topDownY) {
        uint32_t stored = dib.topDown ? topDownY : h - 1 - topDownY;
        return base + size_t(stored) * size_t(srcStride);
    };
    auto indexAt = [&](uint32_t x, uint32_t y) -> uint8_t {
        const uint8_t *row = srcRow(y);
        switch (dib.bits) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0f;
        default:
            return row[x];
        }
    };

    const uint64_t maskStride = ((uint64_t(w) + 31) / 32) * 4;
    const uint8_t *maskBase = nullptr;
    if (iconMask) {
        const size_t maskOffset = pixels + size_t(srcStride * h);
        if (maskOffset + maskStride * h <= data.size())
            maskBase = data.data() + maskOffset;
    }

    if (dib.bits <= 8 && !forceRgb) {
        uint8_t *block = image.Allocate(w, h, dib.bits, code);
        if (!block)
            return false;
        RgbQuad *pal = image.Palette();
        for (size_t i = 0; i < dib.palette.size() && i < image.PaletteSize(); ++i)
            pal[i] = dib.palette[i];
        for (uint32_t y = 0; y < h; ++y)
            std::memcpy(image.Row(h - 1 - y), srcRow(y), image.Stride());
        return true;
    }

    if (!image.Allocate(w, h, 24, code))
        return false;
    const Field red(dib.masks[0]), green(dib.masks[1]), blue(dib.masks[2]), alpha(dib.masks[3]);
    std::vector<uint8_t> rgba(size_t(w) * 4);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *row = srcRow(y);
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *px = &rgba[size_t(x) * 4];
            if (dib.bits <= 8) {
                uint8_t i = indexAt(x, y);
                RgbQuad q = i < dib.palette.size() ? dib.palette[i] : RgbQuad{};
                px[0] = q.red;
                px[1] = q.green;
                px[2] = q.blue;
                px[3] = 255;
            } else if (dib.bits == 24) {
                px[0] = row[x * 3 + 2];
                px[1] = row[x * 3 + 1];
                px[2] = row[x * 3];
                px[3] = 255;
            } else {
                uint32_t v = dib.bits == 16 ? uint32_t(row[x * 2] | (row[x * 2 + 1] << 8))
                                            : uint32_t(row[x * 4] | (row[x * 4 + 1] << 8) | (row[x * 4 + 2] << 16) |
                                                       (uint32_t(row[x * 4 + 3]) << 24));
                px[0] = red.Get(v);
                px[1] = green.Get(v);
                px[2] = blue.Get(v);
                px[3] = alpha.Get(v);
            }
            if (maskBase) {
                const uint8_t *mrow = maskBase + size_t(h - 1 - y) * size_t(maskStride);
                if ((mrow[x >> 3] >> (7 - (x & 7))) & 1)
                    px[3] = 0;
            }
        }
        PutRgbRow(image, y, rgba.data(), 4);
    }
    return true;
}

}  // namespace

bool DecodeBmp(ByteSpan data, PageImage &image) {
    Reader r(data);
    if (r.U8() != 'B' || r.U8() != 'M')
        return Fail(image, "BMP: not a BMP file");
    r.Le32();
    r.Le32();
    const uint32_t offBits = r.Le32();
    Dib dib;
    if (!ReadDibHeader(r, dib, image, "BMP", false))
        return false;
    if (!CheckFrame(image, 1, "BMP"))
        return false;
    return DecodePixels(data, offBits, dib, image, "BMP", kFormatBmp, false, false);
}

bool DecodeIco(ByteSpan data, PageImage &image) {
    Reader r(data);
    const uint16_t reserved = r.Le16(), type = r.Le16(), count = r.Le16();
    if (!r.Ok() || reserved != 0 || (type != 1 && type != 2) || count == 0)
        return Fail(image, "ICO: not an icon file");
    if (size_t(count) * 16 > r.Left())
        return Fail(image, "ICO: directory is truncated");
    if (!CheckFrame(image, count, "ICO"))
        return false;
    r.Skip(size_t(image.FrameIndex()) * 16 + 8);
    const uint32_t size = r.Le32(), offset = r.Le32();
    if (!r.Ok() || offset >= data.size() || size > data.size() - offset || size < 8)
        return Fail(image, "ICO: image data is outside the file");
    ByteSpan entry = data.subspan(offset, size);
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    if (std::equal(pngSignature, pngSignature + 8, entry.begin())) {
        PageImage png;
        if (!DecodePng(entry, png))
            return Fail(image, "ICO: " + png.LastError());
        image.TakeFrom(png);
        image.SetFormat(kFormatIco);
        image.SetFrameCount(count);
        return true;
    }
    Reader er(entry);
    Dib dib;
    if (!ReadDibHeader(er, dib, image, "ICO", true))
        return false;
    if (dib.compression == kRle8 || dib.compression == kRle4)
        return Fail(image, "ICO: unsupported compression");
    return DecodePixels(entry, er.Pos(), dib, image, "ICO", kFormatIco, true, true);
}

}  // namespace render
