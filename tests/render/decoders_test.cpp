// Every picture format decoded from files written by independent encoders,
// detection, frames, and bad input.

#include "render/page_image.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using render::PageImage;
using render::RgbQuad;
using testimages::Bytes;
using testimages::Picture;

namespace {

using Expect = std::function<std::array<int, 3>(int x, int y)>;

// The colour the pattern has at (x, y) (top-down).
Expect Same(const Picture &p) {
    return [&p](int x, int y) { return std::array<int, 3>{p.At(x, y)[0], p.At(x, y)[1], p.At(x, y)[2]}; };
}

// Composited onto white.
Expect OnWhite(const Picture &p) {
    return [&p](int x, int y) {
        const uint8_t *px = p.At(x, y);
        std::array<int, 3> c;
        for (int i = 0; i < 3; ++i)
            c[size_t(i)] = (px[i] * px[3] + 255 * (255 - px[3]) + 127) / 255;
        return c;
    };
}

Expect Grey(const Picture &p, int bits = 8) {
    return [&p, bits](int x, int y) {
        const int levels = (1 << bits) - 1;
        const int v = (p.At(x, y)[0] >> (8 - bits)) * 255 / levels;
        return std::array<int, 3>{v, v, v};
    };
}

bool Load(PageImage &image, const Bytes &bytes, int code) { return image.LoadMemory(bytes.data(), bytes.size(), code); }

// Checks the decoded picture against `expect`: every channel within
// `tolerance`, and the mean error within `meanTolerance`.
void ExpectPicture(const PageImage &image, int w, int h, const Expect &expect, int tolerance,
                   double meanTolerance = 1.0) {
    ASSERT_TRUE(image.HasPixels());
    ASSERT_EQ(image.Width(), uint32_t(w));
    ASSERT_EQ(image.Height(), uint32_t(h));
    int worst = 0;
    double total = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RgbQuad q = image.PixelAt(x, h - 1 - y, false);
            const auto e = expect(x, y);
            const int d = std::max({std::abs(q.red - e[0]), std::abs(q.green - e[1]), std::abs(q.blue - e[2])});
            worst = std::max(worst, d);
            total += d;
        }
    EXPECT_LE(worst, tolerance);
    EXPECT_LE(total / (w * h), meanTolerance);
}

struct Case {
    const char *name;
    int code;
    Bytes bytes;
    int width, height;
    Expect expect;
    int tolerance;
    double mean;
    uint32_t bits;  // the depth the picture comes out with
};

std::vector<Case> Cases() {
    static const Picture p = testimages::Pattern(13, 7);
    static const Picture wide = testimages::Pattern(37, 21);
    static const Picture alpha = testimages::Pattern(13, 7, true);
    static const Picture blocky = testimages::Pattern(24, 9, false, 1);
    static const Picture photo = testimages::Photo(48, 32);
    static const Picture bigAlpha = testimages::Pattern(40, 30, true);
    Expect wbmp = [](int x, int y) {
        const int v = p.At(x, y)[0] > 127 ? 255 : 0;
        return std::array<int, 3>{v, v, v};
    };
    Expect pbm = wbmp;
    Expect pngPalette4 = [](int x, int y) {
        const int i = p.At(x, y)[0] >> 4, v = i * 255 / 15;
        return std::array<int, 3>{v, 255 - v, v / 2};
    };
    Expect pngPalette1 = [](int x, int y) {
        const int v = (p.At(x, y)[0] >> 7) * 255;
        return std::array<int, 3>{v, 255 - v, v / 2};
    };
    Expect pcxPalette = [](int x, int y) {
        const int v = p.At(x, y)[0];
        return std::array<int, 3>{v, 255 - v, v / 2};
    };
    Expect rasMap = pcxPalette;
    rasMap = [](int x, int y) {
        const int v = p.At(x, y)[0];
        return std::array<int, 3>{v, 255 - v, v};
    };
    Expect bmp16 = [](int x, int y) {
        std::array<int, 3> c;
        for (int i = 0; i < 3; ++i)
            c[size_t(i)] = (p.At(x, y)[i] >> 3) * 255 / 31;
        return c;
    };
    using namespace testimages;
    return {
        {"BMP 24", 1, Bmp(p, 24), 13, 7, Same(p), 0, 0, 24},
        {"BMP 24 top-down", 1, Bmp(p, 24, true), 13, 7, Same(p), 0, 0, 24},
        {"BMP 32", 1, Bmp(p, 32), 13, 7, Same(p), 0, 0, 24},
        {"BMP 16", 1, Bmp(p, 16), 13, 7, bmp16, 0, 0, 24},
        {"BMP 8", 1, Bmp(p, 8), 13, 7, Grey(p, 8), 0, 0, 8},
        {"BMP 4", 1, Bmp(p, 4), 13, 7, Grey(p, 4), 0, 0, 4},
        {"BMP 1", 1, Bmp(p, 1), 13, 7, Grey(p, 1), 0, 0, 1},
        {"BMP RLE8", 1, BmpRle(p, 8), 13, 7, Grey(p, 8), 0, 0, 8},
        {"BMP RLE4", 1, BmpRle(p, 4), 13, 7, Grey(p, 4), 0, 0, 4},
        {"ICO", 5, Ico({alpha}), 13, 7, OnWhite(alpha), 1, 1, 24},
        {"JPEG", 3, Jpeg(photo, 100), 48, 32, Same(photo), 24, 3, 24},
        {"JPEG grey", 3, JpegGrey(photo), 48, 32, Grey(photo), 4, 1.5, 8},
        {"JPEG CMYK", 3, JpegCmyk(photo, false), 48, 32, Same(photo), 24, 4, 24},
        {"JPEG CMYK Adobe", 3, JpegCmyk(photo, true), 48, 32, Same(photo), 24, 4, 24},
        {"PNG RGB", 4, Png(wide, false), 37, 21, Same(wide), 0, 0, 24},
        {"PNG RGBA", 4, Png(bigAlpha, true), 40, 30, OnWhite(bigAlpha), 2, 1, 24},
        {"PNG grey", 4, PngGrey(p, false), 13, 7, Grey(p), 0, 0, 8},
        {"PNG grey 16", 4, PngGrey(p, true), 13, 7, Grey(p), 1, 1, 8},
        {"PNG RGB 16", 4, PngRgb16(p), 13, 7, Same(p), 1, 1, 24},
        {"PNG palette 4", 4, PngPalette(p, 4), 13, 7, pngPalette4, 0, 0, 8},
        {"PNG palette 1", 4, PngPalette(p, 1), 13, 7, pngPalette1, 0, 0, 8},
        {"TIFF", 6, Tiff({wide}, 1), 37, 21, Same(wide), 0, 0, 24},
        {"TIFF LZW", 6, Tiff({wide}, 5), 37, 21, Same(wide), 0, 0, 24},
        {"TIFF deflate", 6, Tiff({wide}, 8), 37, 21, Same(wide), 0, 0, 24},
        {"TIFF packbits", 6, Tiff({wide}, 32773), 37, 21, Same(wide), 0, 0, 24},
        {"TIFF alpha", 6, Tiff({bigAlpha}, 5, true), 40, 30, OnWhite(bigAlpha), 2, 1, 24},
        {"TIFF grey 16", 6, TiffGrey16(p), 13, 7, Grey(p), 0, 0, 24},
        {"GIF", 2, Gif({p}), 13, 7, Same(p), 0, 0, 24},
        {"JP2", 11, Jp2(wide, false), 37, 21, Same(wide), 0, 0, 24},
        {"J2K", 12, Jp2(wide, true), 37, 21, Same(wide), 0, 0, 24},
        {"WebP", 18, Webp(wide, false), 37, 21, Same(wide), 0, 0, 24},
        {"WebP alpha", 18, Webp(bigAlpha, true), 40, 30, OnWhite(bigAlpha), 1, 1, 24},
        {"MNG", 17, Mng({p}), 13, 7, Same(p), 0, 0, 24},
        {"JNG", 17, Jng(photo), 48, 32, Same(photo), 24, 3, 24},
        {"TGA 24", 7, Tga(p, 2, 24, false), 13, 7, Same(p), 0, 0, 24},
        {"TGA 32 top-down", 7, Tga(alpha, 2, 32, true), 13, 7, OnWhite(alpha), 1, 1, 24},
        {"TGA RLE 24", 7, Tga(blocky, 10, 24, false), 24, 9, Same(blocky), 0, 0, 24},
        {"TGA grey", 7, Tga(p, 3, 8, false), 13, 7, Grey(p), 0, 0, 8},
        {"TGA RLE grey", 7, Tga(blocky, 11, 8, true), 24, 9, Grey(blocky), 0, 0, 8},
        {"TGA mapped", 7, Tga(p, 1, 8, false), 13, 7, Grey(p), 0, 0, 8},
        {"TGA RLE mapped", 7, Tga(blocky, 9, 8, false), 24, 9, Grey(blocky), 0, 0, 8},
        {"PCX 24", 8, Pcx(blocky, true), 24, 9, Same(blocky), 0, 0, 24},
        {"PCX 8", 8, Pcx(p, false), 13, 7, pcxPalette, 0, 0, 8},
        {"WBMP", 9, Wbmp(p), 13, 7, wbmp, 0, 0, 1},
        {"PBM ascii", 14, Pnm(p, '1'), 13, 7, pbm, 0, 0, 1},
        {"PGM ascii", 14, Pnm(p, '2'), 13, 7, Grey(p), 0, 0, 8},
        {"PPM ascii", 14, Pnm(p, '3'), 13, 7, Same(p), 0, 0, 24},
        {"PBM", 14, Pnm(p, '4'), 13, 7, pbm, 0, 0, 1},
        {"PGM", 14, Pnm(p, '5'), 13, 7, Grey(p), 0, 0, 8},
        {"PPM", 14, Pnm(p, '6'), 13, 7, Same(p), 0, 0, 24},
        {"PPM 16", 14, Pnm(p, '6', 65535), 13, 7, Same(p), 0, 0, 24},
        {"PGX 8", 13, Pgx(p, 8, true), 13, 7, Grey(p), 0, 0, 8},
        {"PGX 12", 13, Pgx(p, 12, true), 13, 7, Grey(p), 0, 0, 8},
        {"PGX 16 little-endian", 13, Pgx(p, 16, false), 13, 7, Grey(p), 0, 0, 8},
        {"RAS 8", 15, Ras(p, 8, 1), 13, 7, rasMap, 0, 0, 8},
        {"RAS 24", 15, Ras(p, 24, 1), 13, 7, Same(p), 0, 0, 24},
        {"RAS 24 RGB", 15, Ras(p, 24, 3), 13, 7, Same(p), 0, 0, 24},
        {"RAS RLE", 15, Ras(blocky, 24, 2), 24, 9, Same(blocky), 0, 0, 24},
    };
}

TEST(Decoders, EveryFormatDecodesWhatItsEncoderWrote) {
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.name);
        PageImage image;
        ASSERT_TRUE(Load(image, c.bytes, c.code)) << image.LastError();
        EXPECT_EQ(image.BitsPerPixel(), c.bits);
        EXPECT_EQ(image.FrameCount(), 1);
        EXPECT_TRUE(image.LastError().empty());
        ExpectPicture(image, c.width, c.height, c.expect, c.tolerance, c.mean);
        // Detection finds the same picture.
        PageImage detected;
        ASSERT_TRUE(Load(detected, c.bytes, 0)) << detected.LastError();
        ExpectPicture(detected, c.width, c.height, c.expect, c.tolerance, c.mean);
        const bool familyOfJ2k = c.code >= 11 && c.code <= 15;
        if (!familyOfJ2k) {
            EXPECT_EQ(detected.Format(), c.code);
        }
    }
}

TEST(Decoders, MultiFrameFilesDecodeTheChosenFrame) {
    const std::vector<Picture> frames = {testimages::Pattern(13, 7, false, 0), testimages::Pattern(13, 7, false, 2),
                                         testimages::Pattern(13, 7, false, 3)};
    const struct {
        const char *name;
        int code;
        Bytes bytes;
    } files[] = {
        {"TIFF", 6, testimages::Tiff(frames, 5)},
        {"GIF", 2, testimages::Gif(frames)},
        {"MNG", 17, testimages::Mng(frames)},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        PageImage image;
        for (int i = 0; i < 3; ++i) {
            image.SetFrameIndex(i);
            ASSERT_TRUE(Load(image, f.bytes, f.code)) << image.LastError();
            EXPECT_EQ(image.FrameCount(), 3);
            ExpectPicture(image, 13, 7, Same(frames[size_t(i)]), 0);
        }
        image.SetFrameIndex(3);
        EXPECT_FALSE(Load(image, f.bytes, f.code));
        EXPECT_NE(image.LastError().find("frame 4"), std::string::npos) << image.LastError();
    }
    // Every image of an icon is a frame.
    const std::vector<Picture> icons = {testimages::Pattern(16, 16, true), testimages::Pattern(8, 8, true, 2)};
    PageImage icon;
    icon.SetFrameIndex(1);
    ASSERT_TRUE(Load(icon, testimages::Ico(icons), 5));
    EXPECT_EQ(icon.FrameCount(), 2);
    ExpectPicture(icon, 8, 8, OnWhite(icons[1]), 1);
}

TEST(Decoders, AWrongFormatCodeFallsBackToDetectionAndKeepsItsOwnError) {
    const Bytes png = testimages::Png(testimages::Pattern(13, 7), false);
    PageImage image;
    ASSERT_TRUE(Load(image, png, render::kFormatJpeg));  // named .jpg, really a PNG
    EXPECT_EQ(image.Format(), render::kFormatPng);

    const Bytes junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'};
    EXPECT_FALSE(Load(image, junk, render::kFormatJpeg));
    EXPECT_EQ(image.LastError(), "JPEG: not a JPEG file");
    EXPECT_TRUE(image.HasPixels()) << "a failed load leaves the picture";
    EXPECT_FALSE(Load(image, junk, render::kFormatTiff));
    EXPECT_EQ(image.LastError(), "TIFF: not a TIFF file");
    EXPECT_FALSE(Load(image, junk, 0));
    EXPECT_FALSE(image.LastError().empty());

    fixtures::TempDir dir;
    EXPECT_FALSE(image.LoadFile(dir.file("missing.png"), 0));
    EXPECT_NE(image.LastError().find("missing.png"), std::string::npos);
    EXPECT_TRUE(image.HasPixels());
    const std::string path = dir.file("picture.jpg");
    testimages::Save(path, png);
    PageImage fromFile;
    ASSERT_TRUE(fromFile.LoadFile(path, render::kFormatJpeg));
    EXPECT_EQ(fromFile.Width(), 13u);
}

TEST(Decoders, CameraRawIsReachedByDetection) {
    // Dark on the left, bright on the right.
    Picture p{64, 48, std::vector<uint8_t>(64 * 48 * 4, 255)};
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
                p.rgba[(size_t(y) * 64 + size_t(x)) * 4 + size_t(c)] = x < 32 ? 20 : 230;
    const Bytes dng = testimages::Dng(p);
    PageImage image;
    ASSERT_TRUE(Load(image, dng, 0)) << image.LastError();
    EXPECT_EQ(image.Format(), render::kFormatRaw);
    EXPECT_EQ(image.Width(), 64u);
    EXPECT_EQ(image.Height(), 48u);
    const RgbQuad left = image.PixelAt(8, 24, false), right = image.PixelAt(56, 24, false);
    EXPECT_LT(left.red + left.green + left.blue + 150, right.red + right.green + right.blue);
    // Asked for by its code directly, too; and raw data it cannot read fails.
    PageImage direct;
    EXPECT_TRUE(Load(direct, dng, render::kFormatRaw)) << direct.LastError();
    EXPECT_FALSE(Load(direct, Bytes(dng.begin(), dng.begin() + 300), render::kFormatRaw));
    EXPECT_FALSE(direct.LastError().empty());
}

TEST(Decoders, MetafilesAreRecognisedButNotDrawn) {
    PageImage image;
    EXPECT_FALSE(Load(image, testimages::Emf(0, 0, 100, 50), render::kFormatWmf));
    EXPECT_EQ(image.LastError(), "WMF/EMF: metafile pictures are not drawn");
}

TEST(Decoders, HugeDeclaredSizesAreRefusedBeforeAllocating) {
    for (const auto &[name, bytes, code] : {std::tuple{"PNG", testimages::PngHeaderOnly(100000, 100000), 4},
                                            std::tuple{"TIFF", testimages::TiffHeaderOnly(100000, 100000), 6}}) {
        PageImage image;
        EXPECT_FALSE(Load(image, bytes, code)) << name;
        EXPECT_EQ(image.LastError(), "PAGEIMAGE_MAX_MEMORY exceeded") << name;
        EXPECT_FALSE(image.HasPixels());
    }
    // Hand-laid headers of our own formats declaring the largest sizes.
    Bytes bmp = testimages::Bmp(testimages::Pattern(2, 2), 24);
    for (int i = 18; i < 26; ++i)
        bmp[size_t(i)] = i == 21 || i == 25 ? 0x7f : 0xff;
    PageImage image;
    EXPECT_FALSE(Load(image, bmp, 1));
    EXPECT_FALSE(image.LastError().empty());
}

TEST(Decoders, TruncatedAndDamagedFilesFailCleanly) {
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.name);
        const size_t n = c.bytes.size();
        for (size_t keep : {size_t(0), size_t(5), std::min<size_t>(n - 1, 20), n / 2, n - n / 8}) {
            Bytes cut(c.bytes.begin(), c.bytes.begin() + std::ptrdiff_t(keep));
            PageImage image;
            EXPECT_FALSE(Load(image, cut, c.code)) << "kept " << keep << " of " << n;
            EXPECT_FALSE(image.LastError().empty());
        }
        // Damaged bytes: some formats have no way of telling, but none may
        // crash or read out of bounds, and a failure says why.
        uint32_t seed = 77;
        for (int round = 0; round < 40; ++round) {
            Bytes damaged = c.bytes;
            for (int i = 0; i < 4; ++i) {
                seed = seed * 1103515245u + 12345u;
                damaged[(seed >> 8) % damaged.size()] ^= uint8_t(1u << ((seed >> 4) % 8));
            }
            PageImage image;
            if (!Load(image, damaged, c.code)) {
                EXPECT_FALSE(image.LastError().empty());
            }
        }
    }
}

}  // namespace
