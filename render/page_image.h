#ifndef RENDER_PAGE_IMAGE_H
#define RENDER_PAGE_IMAGE_H

#include "render/bitmap.h"

#include <QRect>

#include <cstdint>
#include <cstring>
#include <string>

class QPainter;

namespace render {

// Image format codes; 0 asks for detection from the file's content.
enum FormatCode : int {
    kFormatDetect = 0,
    kFormatBmp = 1,
    kFormatGif = 2,
    kFormatJpeg = 3,
    kFormatPng = 4,
    kFormatIco = 5,
    kFormatTiff = 6,
    kFormatTga = 7,
    kFormatPcx = 8,
    kFormatWbmp = 9,
    kFormatWmf = 10,
    kFormatJp2 = 11,
    kFormatJpc = 12,
    kFormatPgx = 13,
    kFormatPnm = 14,
    kFormatRas = 15,
    kFormatMng = 17,
    kFormatWebp = 18,
    kFormatRaw = 19,
};

// The 40-byte header at the start of every pixel block.
#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);

// The raster image that carries page pictures and thumbnails: one block
// holding the header, the palette and the rows, stored bottom-up.
class PageImage {
public:
    enum Axis { Horizontal, Vertical };

    explicit PageImage(int formatCode = kFormatDetect);
    virtual ~PageImage();
    PageImage(const PageImage &) = delete;
    PageImage &operator=(const PageImage &) = delete;

    // A view onto `owner`'s pixels, which must outlive it. A borrowed image
    // refuses to free or replace anything.
    static std::unique_ptr<PageImage> Borrow(const PageImage &owner);
    bool IsBorrowed() const { return m_borrowed != nullptr; }

    // Makes an empty block of width x height at 1, 4, 8 or 24 bits (other
    // depths round up). Null, with the last error set, for a zero size, a
    // block over the memory limit (2^31 bits of pixels) or no memory.
    uint8_t *Allocate(uint32_t width, uint32_t height, uint32_t bitsPerPixel, int formatCode);
    bool Clear();
    bool ClearFrames();

    bool HasPixels() const { return m_block != nullptr; }
    uint32_t Width() const { return uint32_t(m_header.biWidth); }
    uint32_t Height() const { return uint32_t(m_header.biHeight); }
    uint32_t BitsPerPixel() const { return m_header.biBitCount; }
    uint32_t Stride() const { return m_stride; }
    const BitmapInfoHeader &Header() const { return m_header; }
    uint8_t *DibBlock() const { return m_block; }
    // Stored row y (0 = the bottom row of the picture); null past the end.
    uint8_t *Row(uint32_t y) const;
    RgbQuad *Palette() const;
    uint32_t PaletteSize() const { return m_header.biClrUsed; }

    // The colour at (x, y), y counting stored rows; outside the image the
    // background rule applies (pixel (0, 0) when there is no background).
    RgbQuad PixelAt(int32_t x, int32_t y, bool withAlpha) const;

    int FrameCount() const { return m_frameCount; }
    int FrameIndex() const { return m_frameIndex; }
    void SetFrameIndex(int index) { m_frameIndex = index; }
    void SetFrameCount(int count) { m_frameCount = count; }

    void SetResolution(Axis axis, int dpi);
    int Resolution(Axis axis) const { return axis == Horizontal ? m_xDpi : m_yDpi; }

    int Format() const { return m_format; }
    void SetFormat(int code) { m_format = code; }
    const std::string &LastError() const { return m_lastError; }
    void SetLastError(const std::string &text) { m_lastError = text; }

    int BackgroundIndex() const { return m_backgroundIndex; }
    void SetBackgroundIndex(int index) { m_backgroundIndex = index; }
    void SetBackgroundColour(RgbQuad colour) { m_background = colour; }
    void SetEnabled(bool enabled) { m_enabled = enabled; }

    // A copy of the pixels; null when the image is empty.
    BitmapHandle ToBitmap() const;
    // Replaces the picture with a copy of `bitmap` (its palette, unless one
    // is given). False for a borrowed image or a null or unusable bitmap.
    bool FromBitmap(const Bitmap *bitmap, const std::vector<RgbQuad> *palette = nullptr);

    // Draws the picture stretched into (x, y, w, h); a negative w or h
    // means the image's own size. Only the part inside the painter's clip
    // (and `clip`, when given) is computed.
    void Paint(QPainter &painter, int x, int y, int w, int h, const QRect *clip = nullptr, bool smooth = false) const;
    void Paint(QPainter &painter, const QRect &rect, const QRect *clip = nullptr, bool smooth = false) const {
        Paint(painter, rect.left(), rect.top(), rect.width(), rect.height(), clip, smooth);
    }

    // Decodes a picture file: as `formatCode` first (when it names a
    // format), then by detection. The frame index chooses the frame of a
    // multi-frame file.
    bool LoadFile(const std::string &path, int formatCode);
    // The same from bytes in memory.
    bool LoadMemory(const uint8_t *data, size_t size, int formatCode);

    // Moves `other`'s picture into this image (used by the decoders'
    // scratch images). False when either is borrowed.
    bool TakeFrom(PageImage &other);

private:
    uint8_t *m_block = nullptr;
    BitmapInfoHeader m_header;
    uint32_t m_stride = 0;
    const PageImage *m_borrowed = nullptr;
    int m_format = 0;
    std::string m_lastError;
    int m_backgroundIndex = -1;
    RgbQuad m_background;
    int m_frameIndex = 0;
    int m_frameCount = 0;
    int m_xDpi = 96;
    int m_yDpi = 96;
    bool m_enabled = true;
};

// The largest pixel data a page image holds, in bits.
inline constexpr uint64_t kPageImageMaxBits = 0x80000000u;
// Whether width x height at `bits` per pixel stays within the limit, its
// rows as they are held (padded to four bytes) as well.
bool WithinPageImageLimit(uint32_t width, uint32_t height, uint32_t bits);

}  // namespace render

#endif
