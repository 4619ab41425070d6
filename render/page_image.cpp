#include "render/page_image.h"

#include "render/decoders/decoders.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>
#include <vector>

namespace render {
namespace {

uint32_t RoundBits(uint32_t bits) {
    if (bits <= 1)
        return 1;
    if (bits <= 4)
        return 4;
    if (bits <= 8)
        return 8;
    return 24;
}

uint32_t PaletteEntries(uint32_t bits) {
    switch (bits) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

}  // namespace

bool WithinPageImageLimit(uint32_t width, uint32_t height, uint32_t bits) {
    // In 64 bits, so that no product can wrap around.
    uint64_t product = uint64_t(width) * uint64_t(height) * uint64_t(bits);
    // The rows as they are held, each padded to four bytes: a narrow
    // picture of many rows takes far more than its pixels alone.
    const uint64_t held = ((uint64_t(width) * bits + 31) / 32) * 32 * uint64_t(height);
    return (product & ~uint64_t(7)) <= kPageImageMaxBits && held <= kPageImageMaxBits;
}

PageImage::PageImage(int formatCode) : m_format(formatCode) {
    SetResolution(Horizontal, 96);
    SetResolution(Vertical, 96);
}

PageImage::~PageImage() {
    ClearFrames();
    Clear();
}

std::unique_ptr<PageImage> PageImage::Borrow(const PageImage &owner) {
    auto view = std::make_unique<PageImage>(owner.m_format);
    view->m_block = owner.m_block;
    view->m_header = owner.m_header;
    view->m_stride = owner.m_stride;
    view->m_borrowed = &owner;
    view->m_frameCount = owner.m_frameCount;
    view->m_frameIndex = owner.m_frameIndex;
    view->m_xDpi = owner.m_xDpi;
    view->m_yDpi = owner.m_yDpi;
    return view;
}

bool PageImage::Clear() {
    if (m_borrowed)
        return false;
    std::free(m_block);
    m_block = nullptr;
    return true;
}

bool PageImage::ClearFrames() {
    // Decoders keep no frames besides the one decoded.
    return !m_borrowed;
}

uint8_t *PageImage::Allocate(uint32_t width, uint32_t height, uint32_t bitsPerPixel, int formatCode) {
    if (!Clear())
        return nullptr;
    if (width == 0 || height == 0) {
        m_lastError = "PageImage::Allocate : width and height must be greater than zero";
        return nullptr;
    }
    const uint32_t bits = RoundBits(bitsPerPixel);
    if (!WithinPageImageLimit(width, height, bits) || width > 0x7fffffffu || height > 0x7fffffffu) {
        m_lastError = "PAGEIMAGE_MAX_MEMORY exceeded";
        return nullptr;
    }
    const uint32_t entries = PaletteEntries(bits);
    const uint64_t stride = ((uint64_t(width) * bits + 31) / 32) * 4;
    const uint64_t imageSize = stride * height;

    m_stride = uint32_t(stride);
    m_header.biSize = 40;
    m_header.biWidth = int32_t(width);
    m_header.biHeight = int32_t(height);
    m_header.biPlanes = 1;
    m_header.biBitCount = uint16_t(bits);
    m_header.biCompression = 0;
    m_header.biSizeImage = uint32_t(imageSize);
    m_header.biClrUsed = entries;
    m_format = formatCode;

    const size_t total = sizeof(BitmapInfoHeader) + entries * sizeof(RgbQuad) + size_t(imageSize);
    m_block = static_cast<uint8_t *>(std::malloc(total));
    if (!m_block) {
        m_lastError = "PageImage::Allocate can't allocate memory";
        return nullptr;
    }
    std::memcpy(m_block, &m_header, sizeof m_header);
    std::memset(m_block + sizeof m_header, 0, entries * sizeof(RgbQuad));
    return m_block;
}

uint8_t *PageImage::Row(uint32_t y) const {
    if (!m_block || y >= Height())
        return nullptr;
    return m_block + sizeof(BitmapInfoHeader) + PaletteSize() * sizeof(RgbQuad) + size_t(y) * m_stride;
}

RgbQuad *PageImage::Palette() const {
    if (!m_block || PaletteSize() == 0)
        return nullptr;
    return reinterpret_cast<RgbQuad *>(m_block + sizeof(BitmapInfoHeader));
}

RgbQuad PageImage::PixelAt(int32_t x, int32_t y, bool) const {
    auto inside = [&](int32_t px, int32_t py) {
        const uint8_t *row = Row(uint32_t(py));
        RgbQuad q;
        switch (BitsPerPixel()) {
        case 24:
            q.blue = row[px * 3];
            q.green = row[px * 3 + 1];
            q.red = row[px * 3 + 2];
            q.reserved = m_background.reserved;
            return q;
        case 8:
            return Palette()[row[px]];
        case 4:
            return Palette()[(row[px >> 1] >> ((px & 1) ? 0 : 4)) & 0x0f];
        default:
            return Palette()[(row[px >> 3] >> (7 - (px & 7))) & 1];
        }
    };
    if (!m_block)
        return m_background;
    if (x >= 0 && y >= 0 && uint32_t(x) < Width() && uint32_t(y) < Height())
        return inside(x, y);
    if (m_backgroundIndex == -1)
        return inside(0, 0);
    if (BitsPerPixel() < 24 && uint32_t(m_backgroundIndex) < PaletteSize())
        return Palette()[m_backgroundIndex];
    return m_background;
}

void PageImage::SetResolution(Axis axis, int dpi) {
    if (dpi <= 0)
        dpi = 96;
    const int32_t perMetre = int32_t(std::floor(dpi * 39.37007874015748 + 0.5));
    if (axis == Horizontal) {
        m_xDpi = dpi;
        m_header.biXPelsPerMeter = perMetre;
    } else {
        m_yDpi = dpi;
        m_header.biYPelsPerMeter = perMetre;
    }
    if (m_block && !m_borrowed)
        std::memcpy(m_block, &m_header, sizeof m_header);
}

BitmapHandle PageImage::ToBitmap() const {
    if (!m_block)
        return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = m_header.biWidth;
    bitmap->height = m_header.biHeight;
    bitmap->bitsPerPixel = m_header.biBitCount;
    bitmap->stride = int32_t(m_stride);
    if (RgbQuad *pal = Palette())
        bitmap->palette.assign(pal, pal + PaletteSize());
    auto pixels = std::make_shared<std::vector<uint8_t>>(Row(0), Row(0) + m_header.biSizeImage);
    bitmap->bits = pixels->data();
    bitmap->storage = std::move(pixels);
    return bitmap;
}

bool PageImage::FromBitmap(const Bitmap *bitmap, const std::vector<RgbQuad> *palette) {
    if (!Clear() || !bitmap || !bitmap->bits)
        return false;
    if (bitmap->width <= 0 || bitmap->height <= 0) {
        m_lastError = "GetDIBits failed";
        return false;
    }
    if (!Allocate(uint32_t(bitmap->width), uint32_t(bitmap->height), uint32_t(bitmap->bitsPerPixel), 0))
        return false;
    if (BitsPerPixel() != uint32_t(bitmap->bitsPerPixel) || bitmap->stride < int32_t(m_stride)) {
        Clear();
        m_lastError = "GetDIBits failed";
        return false;
    }
    if (bitmap->stride == int32_t(m_stride)) {
        std::memcpy(Row(0), bitmap->bits, m_header.biSizeImage);
    } else {
        for (uint32_t y = 0; y < Height(); ++y)
            std::memcpy(Row(y), bitmap->bits + size_t(y) * size_t(bitmap->stride), m_stride);
    }
    const std::vector<RgbQuad> &colours = palette ? *palette : bitmap->palette;
    if (RgbQuad *pal = Palette())
        for (uint32_t i = 0; i < PaletteSize() && i < colours.size(); ++i)
            pal[i] = colours[i];
    return true;
}

bool PageImage::TakeFrom(PageImage &other) {
    if (m_borrowed || other.m_borrowed)
        return false;
    Clear();
    m_block = std::exchange(other.m_block, nullptr);
    m_header = other.m_header;
    m_stride = other.m_stride;
    m_format = other.m_format;
    m_frameCount = other.m_frameCount;
    // The resolution a decoder found travels with the picture.
    m_xDpi = other.m_xDpi;
    m_yDpi = other.m_yDpi;
    return true;
}

bool PageImage::LoadFile(const std::string &path, int formatCode) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_lastError = "can't open file: " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0) {
        m_lastError = "can't read file: " + path;
        return false;
    }
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char *>(data.data()), size)) {
        m_lastError = "can't read file: " + path;
        return false;
    }
    return LoadMemory(data.data(), data.size(), formatCode);
}

bool PageImage::LoadMemory(const uint8_t *data, size_t size, int formatCode) {
    if (m_borrowed)
        return false;
    const ByteSpan bytes(data, size);
    auto attempt = [&](const DecoderEntry &entry) {
        PageImage scratch(entry.code);
        scratch.m_frameIndex = m_frameIndex;
        if (!entry.decode(bytes, scratch)) {
            m_lastError =
                scratch.m_lastError.empty() ? std::string(entry.name) + ": decoding failed" : scratch.m_lastError;
            return false;
        }
        TakeFrom(scratch);
        m_lastError.clear();
        return true;
    };

    if (const DecoderEntry *requested = DecoderFor(formatCode))
        if (attempt(*requested))
            return true;

    const std::string requestedError = m_lastError;
    for (const DecoderEntry &entry : DetectionOrder()) {
        if (attempt(entry))
            return true;
    }
    if (formatCode != kFormatDetect && DecoderFor(formatCode))
        m_lastError = requestedError;
    else if (formatCode == kFormatDetect || !DecoderFor(formatCode))
        m_lastError = "unknown or unsupported image format";
    return false;
}

}  // namespace render
