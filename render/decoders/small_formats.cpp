// Small formats decoded by our own code from their published layouts: TGA,
// PCX, WBMP, PNM (P1-P6), PGX, Sun raster, and the metafile headers.

#include "render/decoders/decoders.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace render {
namespace {

// A top-down RGBA row buffer written into a 24-bit image.
class RgbaRows {
public:
    explicit RgbaRows(uint32_t width) : m_row(size_t(width) * 4, 255) {}
    uint8_t *Px(uint32_t x) { return &m_row[size_t(x) * 4]; }
    void Flush(PageImage &image, uint32_t y) { PutRgbRow(image, y, m_row.data(), 4); }

private:
    std::vector<uint8_t> m_row;
};

// Packs a palette index into a stored row.
void PutIndex(uint8_t *row, uint32_t bits, uint32_t x, uint8_t v) {
    switch (bits) {
    case 1:
        if (v & 1)
            row[x >> 3] |= uint8_t(0x80 >> (x & 7));
        else
            row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
        break;
    case 4:
        row[x >> 1] = uint8_t((x & 1) ? ((row[x >> 1] & 0xf0) | (v & 0x0f)) : ((row[x >> 1] & 0x0f) | (v << 4)));
        break;
    default:
        row[x] = v;
    }
}

}  // namespace

// ---------------------------------------------------------------- TGA

bool DecodeTga(ByteSpan data, PageImage &image) {
    Reader r(data);
    const uint8_t idLength = r.U8(), mapType = r.U8(), type = r.U8();
    const uint16_t mapFirst = r.Le16(), mapLength = r.Le16();
    const uint8_t mapBits = r.U8();
    r.Le16();
    r.Le16();
    const uint16_t w = r.Le16(), h = r.Le16();
    const uint8_t depth = r.U8(), descriptor = r.U8();
    if (!r.Ok())
        return Fail(image, "TGA: file is truncated");
    const uint8_t base = type & ~8;
    const bool rle = type & 8;
    // The header has no signature, so everything in it must make sense.
    const bool typeOk = (type >= 1 && type <= 3) || (type >= 9 && type <= 11);
    const bool mapOk = mapType == 0 || (mapType == 1 && mapLength > 0 &&
                                        (mapBits == 15 || mapBits == 16 || mapBits == 24 || mapBits == 32));
    const bool depthOk = (base == 1 && depth == 8 && mapType == 1) ||
                         (base == 2 && (depth == 15 || depth == 16 || depth == 24 || depth == 32)) ||
                         (base == 3 && (depth == 8 || depth == 16));
    if (!typeOk || !mapOk || !depthOk || (descriptor & 0xc0) != 0)
        return Fail(image, "TGA: not a TGA file");
    if (w == 0 || h == 0)
        return Fail(image, "TGA: bad dimensions");
    if (!CheckFrame(image, 1, "TGA"))
        return false;
    r.Skip(idLength);
    std::vector<RgbQuad> map;
    std::vector<uint8_t> mapAlpha;
    auto readColour = [&](uint8_t bits, RgbQuad &q, uint8_t &a) {
        a = 255;
        if (bits == 15 || bits == 16) {
            const uint16_t v = r.Le16();
            q.red = uint8_t(((v >> 10) & 31) * 255 / 31);
            q.green = uint8_t(((v >> 5) & 31) * 255 / 31);
            q.blue = uint8_t((v & 31) * 255 / 31);
        } else {
            q.blue = r.U8();
            q.green = r.U8();
            q.red = r.U8();
            if (bits == 32)
                a = r.U8();
        }
    };
    if (mapType == 1) {
        map.resize(mapLength);
        mapAlpha.resize(mapLength);
        for (size_t i = 0; i < mapLength; ++i)
            readColour(mapBits, map[i], mapAlpha[i]);
        if (!r.Ok())
            return Fail(image, "TGA: colour map is truncated");
    }
    const bool paletteOut =
        (base == 1 && size_t(mapFirst) + mapLength <= 256 && mapBits != 32) || (base == 3 && depth == 8);
    if (!image.Allocate(w, h, paletteOut ? 8 : 24, kFormatTga))
        return false;
    if (paletteOut) {
        RgbQuad *pal = image.Palette();
        if (base == 3)
            SetGreyPalette(image);
        else
            for (size_t i = 0; i < map.size(); ++i)
                pal[mapFirst + i] = map[i];
    }
    const bool topDown = descriptor & 0x20, rightToLeft = descriptor & 0x10;
    const bool useAlpha = (descriptor & 0x0f) != 0;
    const size_t bytesPerPixel = (depth + 7) / 8;
    // Pixels come out in file order; runs may cross rows.
    uint8_t packet[4] = {0, 0, 0, 0};
    int runLeft = 0, rawLeft = 0;
    auto nextPixel = [&](uint8_t *out) -> bool {
        if (!rle) {
            const uint8_t *p = r.Take(bytesPerPixel);
            if (!p)
                return false;
            std::memcpy(out, p, bytesPerPixel);
            return true;
        }
        if (runLeft == 0 && rawLeft == 0) {
            const uint8_t head = r.U8();
            if (head & 0x80) {
                runLeft = (head & 0x7f) + 1;
                const uint8_t *p = r.Take(bytesPerPixel);
                if (!p)
                    return false;
                std::memcpy(packet, p, bytesPerPixel);
            } else {
                rawLeft = head + 1;
            }
        }
        if (runLeft > 0) {
            --runLeft;
            std::memcpy(out, packet, bytesPerPixel);
            return true;
        }
        --rawLeft;
        const uint8_t *p = r.Take(bytesPerPixel);
        if (!p)
            return false;
        std::memcpy(out, p, bytesPerPixel);
        return r.Ok();
    };
    RgbaRows rgba(w);
    uint8_t px[4];
    for (uint32_t fileRow = 0; fileRow < h; ++fileRow) {
        const uint32_t y = topDown ? fileRow : h - 1 - fileRow;  // top-down row
        uint8_t *stored = image.Row(h - 1 - y);
        for (uint32_t i = 0; i < w; ++i) {
            if (!nextPixel(px)) {
                image.Clear();
                return Fail(image, "TGA: pixel data is truncated");
            }
            const uint32_t x = rightToLeft ? w - 1 - i : i;
            if (paletteOut) {
                stored[x] = base == 1 ? uint8_t(std::clamp<int>(px[0], 0, 255)) : px[0];
                continue;
            }
            uint8_t *o = rgba.Px(x);
            if (base == 1) {
                const int index = int(px[0]) - mapFirst;
                RgbQuad q = index >= 0 && size_t(index) < map.size() ? map[size_t(index)] : RgbQuad{};
                o[0] = q.red;
                o[1] = q.green;
                o[2] = q.blue;
                o[3] = index >= 0 && size_t(index) < map.size() ? mapAlpha[size_t(index)] : 255;
            } else if (base == 3) {  // 16-bit grey with alpha
                o[0] = o[1] = o[2] = px[0];
                o[3] = useAlpha ? px[1] : 255;
            } else if (depth <= 16) {
                const uint16_t v = uint16_t(px[0] | (px[1] << 8));
                o[0] = uint8_t(((v >> 10) & 31) * 255 / 31);
                o[1] = uint8_t(((v >> 5) & 31) * 255 / 31);
                o[2] = uint8_t((v & 31) * 255 / 31);
                o[3] = 255;
            } else {
                o[0] = px[2];
                o[1] = px[1];
                o[2] = px[0];
                o[3] = depth == 32 && useAlpha ? px[3] : 255;
            }
        }
        if (!paletteOut)
            rgba.Flush(image, y);
    }
    return true;
}

// ---------------------------------------------------------------- PCX

bool DecodePcx(ByteSpan data, PageImage &image) {
    Reader r(data);
    const uint8_t maker = r.U8(), version = r.U8(), encoding = r.U8(), bits = r.U8();
    const uint16_t xmin = r.Le16(), ymin = r.Le16(), xmax = r.Le16(), ymax = r.Le16();
    r.Le16();
    r.Le16();
    const uint8_t *egaPalette = r.Take(48);
    r.U8();
    const uint8_t planes = r.U8();
    const uint16_t bytesPerLine = r.Le16();
    if (!r.Ok() || maker != 0x0a || version > 5 || encoding > 1)
        return Fail(image, "PCX: not a PCX file");
    if (xmax < xmin || ymax < ymin)
        return Fail(image, "PCX: bad dimensions");
    const uint32_t w = uint32_t(xmax - xmin) + 1, h = uint32_t(ymax - ymin) + 1;
    enum { Mono, Planar16, Indexed4, Indexed8, Rgb } layout;
    if (bits == 1 && planes == 1)
        layout = Mono;
    else if (bits == 1 && planes == 4)
        layout = Planar16;
    else if (bits == 4 && planes == 1)
        layout = Indexed4;
    else if (bits == 8 && planes == 1)
        layout = Indexed8;
    else if (bits == 8 && planes == 3)
        layout = Rgb;
    else
        return Fail(image, "PCX: unsupported colour layout");
    if (uint64_t(bytesPerLine) * 8 < uint64_t(w) * bits)
        return Fail(image, "PCX: bad line length");
    if (!CheckFrame(image, 1, "PCX"))
        return false;
    const uint32_t outBits = layout == Mono ? 1 : layout == Rgb ? 24 : layout == Indexed8 ? 8 : 4;
    if (!image.Allocate(w, h, outBits, kFormatPcx))
        return false;

    RgbQuad *pal = image.Palette();
    if (layout == Mono) {
        pal[0] = RgbQuad{0, 0, 0, 0};
        pal[1] = RgbQuad{255, 255, 255, 0};
    } else if (layout == Planar16 || layout == Indexed4) {
        for (int i = 0; i < 16; ++i)
            pal[i] = RgbQuad{egaPalette[i * 3 + 2], egaPalette[i * 3 + 1], egaPalette[i * 3], 0};
    } else if (layout == Indexed8) {
        // The 256-colour palette closes the file after a 0x0c byte.
        if (data.size() >= 769 + 128 && data[data.size() - 769] == 0x0c) {
            const uint8_t *p = data.data() + data.size() - 768;
            for (int i = 0; i < 256; ++i)
                pal[i] = RgbQuad{p[i * 3 + 2], p[i * 3 + 1], p[i * 3], 0};
        } else {
            image.Clear();
            return Fail(image, "PCX: the 256-colour palette is missing");
        }
    }

    r.Seek(128);
    const size_t lineBytes = size_t(bytesPerLine) * planes;
    std::vector<uint8_t> line(lineBytes);
    for (uint32_t y = 0; y < h; ++y) {
        size_t n = 0;
        while (n < lineBytes) {
            uint8_t b = r.U8();
            if (!r.Ok()) {
                image.Clear();
                return Fail(image, "PCX: pixel data is truncated");
            }
            size_t count = 1;
            if (encoding == 1 && (b & 0xc0) == 0xc0) {
                count = b & 0x3f;
                b = r.U8();
            }
            for (size_t i = 0; i < count && n < lineBytes; ++i)
                line[n++] = b;
        }
        uint8_t *row = image.Row(h - 1 - y);
        switch (layout) {
        case Mono:
        case Indexed8:
            std::memcpy(row, line.data(), std::min<size_t>(image.Stride(), layout == Mono ? (w + 7) / 8 : w));
            break;
        case Indexed4:
            std::memcpy(row, line.data(), (w + 1) / 2);
            break;
        case Planar16:
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t v = 0;
                for (int p = 0; p < 4; ++p)
                    v |= uint8_t(((line[size_t(p) * bytesPerLine + (x >> 3)] >> (7 - (x & 7))) & 1) << p);
                PutIndex(row, 4, x, v);
            }
            break;
        case Rgb:
            for (uint32_t x = 0; x < w; ++x) {
                row[x * 3] = line[size_t(2) * bytesPerLine + x];
                row[x * 3 + 1] = line[size_t(bytesPerLine) + x];
                row[x * 3 + 2] = line[x];
            }
            break;
        }
    }
    return true;
}

// ---------------------------------------------------------------- WBMP

bool DecodeWbmp(ByteSpan data, PageImage &image) {
    Reader r(data);
    auto multiByte = [&](uint32_t &value) {
        value = 0;
        for (int i = 0; i < 5; ++i) {
            const uint8_t b = r.U8();
            value = (value << 7) | (b & 0x7f);
            if (!(b & 0x80))
                return r.Ok();
        }
        return false;
    };
    uint32_t type = 0, w = 0, h = 0;
    if (!multiByte(type) || type != 0 || r.U8() != 0 || !multiByte(w) || !multiByte(h))
        return Fail(image, "WBMP: not a WBMP file");
    if (w == 0 || h == 0 || w > 65535 || h > 65535)
        return Fail(image, "WBMP: bad dimensions");
    const size_t rowBytes = (size_t(w) + 7) / 8;
    if (rowBytes * h > r.Left())
        return Fail(image, "WBMP: pixel data is truncated");
    if (!CheckFrame(image, 1, "WBMP"))
        return false;
    if (!image.Allocate(w, h, 1, kFormatWbmp))
        return false;
    image.Palette()[0] = RgbQuad{0, 0, 0, 0};
    image.Palette()[1] = RgbQuad{255, 255, 255, 0};
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(image.Row(h - 1 - y), r.Take(rowBytes), rowBytes);
    return true;
}

// ---------------------------------------------------------------- PNM

namespace {

// Reads the next whitespace-separated number of a PNM header, skipping
// comments.
bool PnmNumber(Reader &r, uint32_t &value) {
    uint8_t c;
    for (;;) {
        c = r.U8();
        if (!r.Ok())
            return false;
        if (c == '#') {
            while (r.Ok() && c != '\n' && c != '\r')
                c = r.U8();
            continue;
        }
        if (!std::isspace(c))
            break;
    }
    if (!std::isdigit(c))
        return false;
    uint64_t v = 0;
    while (std::isdigit(c)) {
        v = v * 10 + uint32_t(c - '0');
        if (v > 0xffffffffu)
            return false;
        if (r.Left() == 0) {
            value = uint32_t(v);
            return true;
        }
        c = r.U8();
    }
    value = uint32_t(v);
    return true;  // the single whitespace after the number is consumed
}

}  // namespace

bool DecodePnm(ByteSpan data, PageImage &image) {
    Reader r(data);
    if (r.U8() != 'P')
        return Fail(image, "PNM: not a PNM file");
    const uint8_t kind = r.U8();
    if (!r.Ok() || kind < '1' || kind > '6')
        return Fail(image, "PNM: not a PNM file");
    const bool bitmap = kind == '1' || kind == '4';
    const bool grey = kind == '2' || kind == '5';
    const bool ascii = kind <= '3';
    uint32_t w = 0, h = 0, maxval = 1;
    if (!PnmNumber(r, w) || !PnmNumber(r, h) || (!bitmap && !PnmNumber(r, maxval)))
        return Fail(image, "PNM: bad header");
    if (w == 0 || h == 0 || maxval == 0 || maxval > 65535)
        return Fail(image, "PNM: bad header values");
    if (!CheckFrame(image, 1, "PNM"))
        return false;
    const uint32_t channels = bitmap || grey ? 1 : 3;
    const size_t sampleBytes = maxval > 255 ? 2 : 1;
    if (!ascii) {
        const uint64_t need = bitmap ? (uint64_t(w) + 7) / 8 * h : uint64_t(w) * h * channels * sampleBytes;
        if (need > r.Left())
            return Fail(image, "PNM: pixel data is truncated");
    }
    if (!image.Allocate(w, h, bitmap ? 1 : grey ? 8 : 24, kFormatPnm))
        return false;
    if (bitmap) {
        image.Palette()[0] = RgbQuad{255, 255, 255, 0};  // 0 is white, 1 is black
        image.Palette()[1] = RgbQuad{0, 0, 0, 0};
    } else if (grey) {
        SetGreyPalette(image);
    }
    auto sample = [&]() -> int64_t {
        if (ascii) {
            if (bitmap) {
                uint8_t c;
                do {
                    c = r.U8();
                    if (c == '#')
                        while (r.Ok() && c != '\n')
                            c = r.U8();
                } while (r.Ok() && c != '0' && c != '1');
                return r.Ok() ? c - '0' : -1;
            }
            uint32_t v;
            return PnmNumber(r, v) ? int64_t(std::min(v, maxval)) : -1;
        }
        const int64_t v = sampleBytes == 2 ? r.Be16() : r.U8();
        return r.Ok() ? std::min<int64_t>(v, maxval) : -1;
    };
    auto scale = [&](int64_t v) { return uint8_t(maxval == 255 ? v : (v * 255 + maxval / 2) / maxval); };
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = image.Row(h - 1 - y);
        if (bitmap && !ascii) {
            std::memcpy(row, r.Take((w + 7) / 8), (w + 7) / 8);
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            if (bitmap) {
                const int64_t v = sample();
                if (v < 0)
                    return Fail(image, "PNM: pixel data is truncated");
                PutIndex(row, 1, x, uint8_t(v));
            } else if (grey) {
                const int64_t v = sample();
                if (v < 0)
                    return Fail(image, "PNM: pixel data is truncated");
                row[x] = scale(v);
            } else {
                const int64_t red = sample(), green = sample(), blue = sample();
                if (red < 0 || green < 0 || blue < 0)
                    return Fail(image, "PNM: pixel data is truncated");
                row[x * 3] = scale(blue);
                row[x * 3 + 1] = scale(green);
                row[x * 3 + 2] = scale(red);
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------- PGX

bool DecodePgx(ByteSpan data, PageImage &image) {
    // "PG ML [+|-] depth width height\n" then the samples.
    Reader r(data);
    if (r.U8() != 'P' || r.U8() != 'G' || r.U8() != ' ')
        return Fail(image, "PGX: not a PGX file");
    const uint8_t e1 = r.U8(), e2 = r.U8();
    const bool bigEndian = e1 == 'M' && e2 == 'L';
    if (!bigEndian && !(e1 == 'L' && e2 == 'M'))
        return Fail(image, "PGX: not a PGX file");
    bool sign = false;
    size_t mark = r.Pos();
    uint8_t c = r.U8();
    while (r.Ok() && c == ' ')
        c = r.U8();
    if (c == '+' || c == '-')
        sign = c == '-';
    else
        r.Seek(mark);
    uint32_t depth = 0, w = 0, h = 0;
    if (!PnmNumber(r, depth) || !PnmNumber(r, w) || !PnmNumber(r, h))
        return Fail(image, "PGX: bad header");
    if (depth == 0 || depth > 32 || w == 0 || h == 0)
        return Fail(image, "PGX: bad header values");
    if (!CheckFrame(image, 1, "PGX"))
        return false;
    const size_t bytes = depth <= 8 ? 1 : depth <= 16 ? 2 : 4;
    if (uint64_t(w) * h * bytes > r.Left())
        return Fail(image, "PGX: pixel data is truncated");
    if (!image.Allocate(w, h, 8, kFormatPgx))
        return false;
    SetGreyPalette(image);
    const uint64_t maxValue = (uint64_t(1) << depth) - 1;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = image.Row(h - 1 - y);
        for (uint32_t x = 0; x < w; ++x) {
            uint64_t v = 0;
            const uint8_t *p = r.Take(bytes);
            for (size_t i = 0; i < bytes; ++i)
                v |= uint64_t(p[bigEndian ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
            v &= maxValue;
            if (sign)  // two's complement to offset binary
                v = (v + (uint64_t(1) << (depth - 1))) & maxValue;
            row[x] = uint8_t(depth >= 8 ? v >> (depth - 8) : v * 255 / maxValue);
        }
    }
    return true;
}

// ---------------------------------------------------------------- Sun raster

bool DecodeRas(ByteSpan data, PageImage &image) {
    Reader r(data);
    if (r.Be32() != 0x59a66a95u)
        return Fail(image, "RAS: not a Sun raster file");
    const uint32_t w = r.Be32(), h = r.Be32(), depth = r.Be32();
    r.Be32();  // length
    const uint32_t type = r.Be32(), mapType = r.Be32(), mapLength = r.Be32();
    if (!r.Ok())
        return Fail(image, "RAS: file is truncated");
    if (w == 0 || h == 0 || w > 0x7fffffff || h > 0x7fffffff)
        return Fail(image, "RAS: bad dimensions");
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32)
        return Fail(image, "RAS: unsupported depth");
    if (type > 3 || mapType > 1 || (mapType == 1 && (mapLength % 3 != 0 || mapLength > 768)))
        return Fail(image, "RAS: unsupported type");
    if (!CheckFrame(image, 1, "RAS"))
        return false;
    const uint8_t *map = r.Take(mapLength);
    if (!map)
        return Fail(image, "RAS: colour map is truncated");
    const uint32_t entries = mapLength / 3;
    const uint64_t rowBytes = ((uint64_t(w) * depth + 15) / 16) * 2;
    if (!WithinPageImageLimit(w, h, 24))
        return Fail(image, "PAGEIMAGE_MAX_MEMORY exceeded");
    std::vector<uint8_t> pixels;
    if (type == 2) {  // byte-encoded runs: 0x80 n v, 0x80 0 = one 0x80
        const uint64_t need = rowBytes * h;
        pixels.reserve(size_t(std::min<uint64_t>(need, data.size() * 64)));
        while (pixels.size() < need) {
            const uint8_t b = r.U8();
            if (!r.Ok())
                return Fail(image, "RAS: pixel data is truncated");
            if (b != 0x80) {
                pixels.push_back(b);
                continue;
            }
            const uint8_t n = r.U8();
            if (n == 0) {
                pixels.push_back(0x80);
                continue;
            }
            const uint8_t v = r.U8();
            if (!r.Ok())
                return Fail(image, "RAS: pixel data is truncated");
            for (int i = 0; i <= n && pixels.size() < need; ++i)
                pixels.push_back(v);
        }
    } else {
        const uint8_t *p = r.Take(size_t(rowBytes * h));
        if (!p || rowBytes * h > data.size())
            return Fail(image, "RAS: pixel data is truncated");
        pixels.assign(p, p + rowBytes * h);
    }
    const bool mapped = depth == 8 || depth == 1;
    if (!image.Allocate(w, h, mapped ? depth : 24, kFormatRas))
        return false;
    if (mapped) {
        RgbQuad *pal = image.Palette();
        if (entries > 0) {
            for (uint32_t i = 0; i < entries && i < image.PaletteSize(); ++i)
                pal[i] = RgbQuad{map[2 * entries + i], map[entries + i], map[i], 0};
        } else if (depth == 1) {
            pal[0] = RgbQuad{255, 255, 255, 0};  // 1 is black
            pal[1] = RgbQuad{0, 0, 0, 0};
        } else {
            SetGreyPalette(image);
        }
    }
    const bool rgbOrder = type == 3;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *src = &pixels[size_t(y) * size_t(rowBytes)];
        uint8_t *row = image.Row(h - 1 - y);
        if (mapped) {
            std::memcpy(row, src, depth == 1 ? (w + 7) / 8 : w);
            continue;
        }
        const size_t step = depth / 8;
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *p = src + x * step + (depth == 32 ? 1 : 0);
            row[x * 3] = rgbOrder ? p[2] : p[0];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = rgbOrder ? p[0] : p[2];
        }
    }
    return true;
}

// ---------------------------------------------------------------- JPEG 2000 family

bool DecodeJ2kFamily(ByteSpan data, PageImage &image) {
    if (data.size() >= 3 && data[0] == 'P' && data[1] == 'G' && data[2] == ' ')
        return DecodePgx(data, image);
    if (data.size() >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6')
        return DecodePnm(data, image);
    if (data.size() >= 4 && data[0] == 0x59 && data[1] == 0xa6 && data[2] == 0x6a && data[3] == 0x95)
        return DecodeRas(data, image);
    return DecodeJpeg2000(data, image);
}

// ---------------------------------------------------------------- metafiles

bool DecodeMetafile(ByteSpan data, PageImage &image) {
    Reader r(data);
    const uint32_t first = r.Le32();
    const bool emf = first == 1 && data.size() >= 44 && std::memcmp(data.data() + 40, " EMF", 4) == 0;
    const bool placeable = first == 0x9ac6cdd7u;
    const bool wmf = (first & 0xffff) <= 2 && (first & 0xffff) >= 1 && (first >> 16) == 9;
    if (!emf && !placeable && !wmf)
        return Fail(image, "WMF/EMF: not a metafile");
    return Fail(image, "WMF/EMF: metafile pictures are not drawn");
}

}  // namespace render
