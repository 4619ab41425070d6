#ifndef TESTS_RENDER_IMAGE_WRITERS_H
#define TESTS_RENDER_IMAGE_WRITERS_H

// Picture files written by independent encoders (the codec libraries' own,
// or bytes laid out by hand from the published formats) for the decoder
// tests, the fuzz corpus and the benchmarks.

#include <cstdint>
#include <string>
#include <vector>

namespace testimages {

using Bytes = std::vector<uint8_t>;

// A test picture: top-down RGBA.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t *At(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// A pattern that differs in every pixel and channel; opaque unless
// `withAlpha` (then alpha varies across the columns).
Picture Pattern(int width, int height, bool withAlpha = false, int seed = 0);
// A smooth photograph-like picture, for benchmarks.
Picture Photo(int width, int height);
// Grey levels of a pattern (the red channel).
std::vector<uint8_t> GreyOf(const Picture &p);

bool Save(const std::string &path, const Bytes &bytes);

Bytes Jpeg(const Picture &p, int quality = 95);
Bytes JpegGrey(const Picture &p);
Bytes JpegCmyk(const Picture &p, bool adobeInverted);
Bytes Png(const Picture &p, bool alpha);
Bytes PngGrey(const Picture &p, bool sixteenBit);
Bytes PngPalette(const Picture &p, int bitDepth);  // 1, 2, 4 or 8 bits; palette of the pattern's greys
Bytes PngRgb16(const Picture &p);
// The IHDR of a PNG that declares width x height (data is not there).
Bytes PngHeaderOnly(uint32_t width, uint32_t height);
// Pages of a TIFF file; compression as libtiff's constants.
Bytes Tiff(const std::vector<Picture> &pages, int compression, bool alpha = false);
Bytes TiffGrey16(const Picture &p);
Bytes TiffHeaderOnly(uint32_t width, uint32_t height);
Bytes Gif(const std::vector<Picture> &frames);  // up to 256 colours in each
Bytes Jp2(const Picture &p, bool codestreamOnly);
Bytes Webp(const Picture &p, bool alpha);
Bytes Mng(const std::vector<Picture> &frames);
Bytes Jng(const Picture &p);
// A linear camera raw file (DNG): the pattern's channels as 16-bit samples.
Bytes Dng(const Picture &p);

// Hand-laid formats.
Bytes Bmp(const Picture &p, int bits, bool topDown = false);     // 1, 4, 8 (palette of greys), 16, 24, 32
Bytes BmpRle(const Picture &p, int bits);                        // RLE8 or RLE4 of the greys
Bytes Ico(const std::vector<Picture> &images);                   // 32-bit images
Bytes Tga(const Picture &p, int type, int depth, bool topDown);  // types 1, 2, 3, 9, 10, 11
Bytes Pcx(const Picture &p, bool rgb);                           // 24-bit, or 8-bit palette of greys
Bytes Wbmp(const Picture &p);                                    // red > 127 is white
Bytes Pnm(const Picture &p, char kind, int maxval = 255);        // '1' to '6'
Bytes Pgx(const Picture &p, int depth, bool bigEndian);
Bytes Ras(const Picture &p, int depth, int type);  // depth 8 (grey map) or 24; type 1, 2 or 3
Bytes Emf(int left, int top, int right, int bottom);

}  // namespace testimages

#endif
