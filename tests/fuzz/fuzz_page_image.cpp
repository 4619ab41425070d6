// libFuzzer target: the page image's decoders. The first byte chooses the
// format code asked for (0 to 19, so detection runs too); the rest is the
// file. The frame index comes from the second byte's low bits.
#include "render/page_image.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    render::PageImage image;
    image.SetFrameIndex(data[1] & 3);
    image.LoadMemory(data + 1, size - 1, data[0] % 20);
    image.SetFrameIndex(0);
    if (image.LoadMemory(data + 1, size - 1, data[0] % 20) && image.HasPixels()) {
        // Read pixels back across the whole picture (a few thousand at
        // most), so a wrong size shows as an out-of-bounds read.
        const uint32_t stepX = image.Width() / 64 + 1, stepY = image.Height() / 64 + 1;
        volatile uint32_t sum = 0;
        for (uint32_t y = 0; y < image.Height(); y += stepY)
            for (uint32_t x = 0; x < image.Width(); x += stepX)
                sum = sum + image.PixelAt(int32_t(x), int32_t(y), false).red;
        sum = sum + image.PixelAt(int32_t(image.Width() - 1), int32_t(image.Height() - 1), false).red;
    }
    return 0;
}
