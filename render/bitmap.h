#ifndef RENDER_BITMAP_H
#define RENDER_BITMAP_H

#include <cstdint>
#include <memory>
#include <vector>

namespace render {

// One palette entry, in the order it is stored: blue, green, red, reserved.
struct RgbQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
    bool operator==(const RgbQuad &) const = default;
};

// A device-independent picture handed between the page source, the page
// image and the page view: rows stored bottom-up, `stride` bytes each (a
// multiple of 4), pixels of 1, 4 or 8 bits (through the palette) or 24 bits
// (blue, green, red). The pixels stay alive as long as the bitmap.
struct Bitmap {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    int32_t stride = 0;
    std::vector<RgbQuad> palette;
    const uint8_t *bits = nullptr;
    std::shared_ptr<const void> storage;  // owns what `bits` points into
};

// Null means failure.
using BitmapHandle = std::unique_ptr<Bitmap>;

}  // namespace render

#endif
