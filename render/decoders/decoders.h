#ifndef RENDER_DECODERS_DECODERS_H
#define RENDER_DECODERS_DECODERS_H

// The picture decoders behind PageImage::LoadFile. Each reads a whole file
// from memory into a scratch image: it checks the declared size against
// the page image's memory limit before allocating (Allocate does), never
// reads past the data, and on failure returns false with a last-error text
// in the image.

#include "render/page_image.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace render {

using ByteSpan = std::span<const uint8_t>;
using DecodeFn = bool (*)(ByteSpan data, PageImage &image);

struct DecoderEntry {
    int code;
    const char *name;
    DecodeFn decode;
};

// The decoder for a format code; null for 0 and unknown codes.
const DecoderEntry *DecoderFor(int code);
// Every decoder in the order detection tries them.
const std::vector<DecoderEntry> &DetectionOrder();

bool DecodeBmp(ByteSpan data, PageImage &image);
bool DecodeIco(ByteSpan data, PageImage &image);
bool DecodeJpeg(ByteSpan data, PageImage &image);
bool DecodePng(ByteSpan data, PageImage &image);
bool DecodeGif(ByteSpan data, PageImage &image);
bool DecodeTiff(ByteSpan data, PageImage &image);
bool DecodeMng(ByteSpan data, PageImage &image);
bool DecodeTga(ByteSpan data, PageImage &image);
bool DecodePcx(ByteSpan data, PageImage &image);
bool DecodeWbmp(ByteSpan data, PageImage &image);
bool DecodeMetafile(ByteSpan data, PageImage &image);
// JPEG 2000 (JP2, J2K/J2C/JPC), PGX, PNM and Sun raster, each probed.
bool DecodeJ2kFamily(ByteSpan data, PageImage &image);
bool DecodeJpeg2000(ByteSpan data, PageImage &image);
bool DecodePgx(ByteSpan data, PageImage &image);
bool DecodePnm(ByteSpan data, PageImage &image);
bool DecodeRas(ByteSpan data, PageImage &image);
bool DecodeWebp(ByteSpan data, PageImage &image);
bool DecodeRaw(ByteSpan data, PageImage &image);

// ---- helpers shared by the decoders ----

// Sets the last error and returns false.
bool Fail(PageImage &image, const std::string &text);

// Fills the palette with an even grey ramp (black first).
void SetGreyPalette(PageImage &image);

// Records `count` frames and checks the image's frame index against it.
bool CheckFrame(PageImage &image, int count, const char *format);

// Writes one top-down row of RGB or RGBA pixels (alpha composited onto
// white) into a 24-bit image. `y` counts from the top.
void PutRgbRow(PageImage &image, uint32_t y, const uint8_t *src, int channels);

// Bounds-checked little- and big-endian reading.
class Reader {
public:
    explicit Reader(ByteSpan data, size_t pos = 0) : m_data(data), m_pos(pos) {}

    bool Ok() const { return m_ok; }
    size_t Pos() const { return m_pos; }
    size_t Size() const { return m_data.size(); }
    size_t Left() const { return m_pos <= m_data.size() ? m_data.size() - m_pos : 0; }
    void Seek(size_t pos) {
        if (pos > m_data.size())
            m_ok = false;
        else
            m_pos = pos;
    }
    void Skip(size_t n) { Seek(n > Left() ? m_data.size() + 1 : m_pos + n); }

    uint8_t U8() {
        if (m_pos >= m_data.size()) {
            m_ok = false;
            return 0;
        }
        return m_data[m_pos++];
    }
    uint16_t Le16() {
        uint16_t a = U8();
        return uint16_t(a | (U8() << 8));
    }
    uint32_t Le32() {
        uint32_t a = Le16();
        return a | (uint32_t(Le16()) << 16);
    }
    uint16_t Be16() {
        uint16_t a = U8();
        return uint16_t((a << 8) | U8());
    }
    uint32_t Be32() {
        uint32_t a = Be16();
        return (a << 16) | Be16();
    }
    // A pointer to the next n bytes, or null (and not Ok) when they are not there.
    const uint8_t *Take(size_t n) {
        if (n > Left()) {
            m_ok = false;
            return nullptr;
        }
        const uint8_t *p = m_data.data() + m_pos;
        m_pos += n;
        return p;
    }

private:
    ByteSpan m_data;
    size_t m_pos;
    bool m_ok = true;
};

}  // namespace render

#endif
