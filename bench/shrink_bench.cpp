// Shrinking a rectangle to the page's content, on the picture of a letter
// page as the document renders it (1287 x 1666 pixels), against one plain
// pass over every pixel of the rectangle (reading each pixel once) in the
// same run:
//  - a page of text, the rectangle drawn generously around it;
//  - a blank page, the worst case, where every scan runs to its end.
// Prints the best time of each and the ratio shrink / one pass.

#include "best_of.h"
#include "crop/detect/content_detector.h"
#include "crop/detect/shrink.h"

#include <cstdint>
#include <cstring>
#include <random>

namespace {

constexpr int kWidth = 1287, kHeight = 1666;
const QSize kPage(612, 792);

// White, or with lines of "text" in the middle of the page.
void Fill(render::PageImage &image, bool text) {
    image.Allocate(kWidth, kHeight, 24, render::kFormatBmp);
    std::memset(image.Row(0), 255, size_t(image.Stride()) * kHeight);
    if (!text)
        return;
    std::mt19937 random(7);
    for (int y = 150; y < 1500; y += 24)
        for (int x = 150; x < 1130; ++x)
            for (int dy = 0; dy < 12; ++dy)
                if (random() % 3 == 0) {
                    uint8_t *p = image.Row(uint32_t(kHeight - 1 - (y + dy))) + 3 * x;
                    p[0] = p[1] = p[2] = 0;
                }
}

// Counts the pixels of the rectangle that are not white, row by row.
int64_t OnePass(const render::PageImage &image, const QRect &r) {
    int64_t count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uint8_t *row = image.Row(uint32_t(kHeight - 1 - y));
        for (int x = r.left(); x <= r.right(); ++x)
            count += !(row[3 * x] == 255 && row[3 * x + 1] == 255 && row[3 * x + 2] == 255);
    }
    return count;
}

void Measure(const char *what, bool text) {
    render::PageImage image;
    Fill(image, text);
    const crop::CropRect rect{20, 20, 592, 772};
    const QRect pixels(42, 42, 1205 - 42, 1624 - 42);
    volatile int64_t sink = 0;
    const auto t = bench::BestOf(
        15, [&] { sink = sink + (crop::ShrinkToContent(image, kPage, rect) ? 1 : 0); },
        [&] { sink = sink + OnePass(image, pixels); });
    bench::Report(what, "one pass over the rectangle", t, text ? 1.5 : 5.0);
}

// A scan: grey paper with grain, the same text, dust and a dark edge; the
// content detector over the whole page, paper estimate included.
void MeasureScan() {
    render::PageImage image;
    Fill(image, true);
    std::mt19937 random(11);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t *row = image.Row(y);
        for (int x = 0; x < kWidth; ++x) {
            uint8_t *p = row + 3 * x;
            const uint8_t v = x < 30 ? 30 : p[0] == 255 ? uint8_t(210 + random() % 17) : p[0];
            p[0] = p[1] = p[2] = v;
        }
    }
    for (int i = 0; i < 40; ++i) {
        uint8_t *p = image.Row(uint32_t(40 + i * 37)) + 3 * (60 + (i * 97) % 1100);
        p[0] = p[1] = p[2] = 20;
    }
    const crop::PixelView view = crop::PixelView::Of(image);
    const crop::ContentDetector detector(double(kWidth) / kPage.width());
    volatile int64_t sink = 0;
    const auto t = bench::BestOf(
        15, [&] { sink = sink + (detector.Detect(view, QRect(0, 0, kWidth, kHeight)) ? 1 : 0); },
        [&] { sink = sink + OnePass(image, QRect(0, 0, kWidth, kHeight)); });
    bench::Report("content detector: a scanned page", "one pass over the page", t, 8.0);
}

}  // namespace

int main() {
    Measure("shrink: a page of text", true);
    Measure("shrink: a blank page (every scan to its end)", false);
    MeasureScan();
    return 0;
}
