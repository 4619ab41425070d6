// Writes small picture files of every format into a folder: the seed corpus
// of the page image's fuzz target. Each file's first byte is the format
// code the fuzz target asks for; the rest is the file.
#include "tests/render/image_writers.h"

#include <algorithm>
#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    using namespace testimages;
    const Picture p = Pattern(9, 5), a = Pattern(6, 4, true), b = Pattern(12, 3, false, 1);
    const struct {
        const char *name;
        int code;
        Bytes bytes;
    } files[] = {
        {"bmp24", 1, Bmp(p, 24)},
        {"bmp8", 1, Bmp(p, 8)},
        {"bmp4", 1, Bmp(p, 4)},
        {"bmp1", 1, Bmp(p, 1)},
        {"bmp16", 1, Bmp(p, 16)},
        {"rle8", 1, BmpRle(p, 8)},
        {"rle4", 1, BmpRle(p, 4)},
        {"gif", 2, Gif({p, b})},
        {"jpeg", 3, Jpeg(p)},
        {"jpeggrey", 3, JpegGrey(p)},
        {"jpegcmyk", 3, JpegCmyk(p, true)},
        {"png", 4, Png(a, true)},
        {"pngpal", 4, PngPalette(p, 4)},
        {"png16", 4, PngGrey(p, true)},
        {"ico", 5, Ico({a})},
        {"tiff", 6, Tiff({p, b}, 5)},
        {"tiffgrey", 6, TiffGrey16(p)},
        {"tga", 7, Tga(b, 10, 24, false)},
        {"tgamap", 7, Tga(p, 9, 8, true)},
        {"pcx", 8, Pcx(b, true)},
        {"pcx8", 8, Pcx(p, false)},
        {"wbmp", 9, Wbmp(p)},
        {"emf", 10, Emf(0, 0, 10, 10)},
        {"jp2", 11, Jp2(p, false)},
        {"j2k", 12, Jp2(p, true)},
        {"pgx", 13, Pgx(p, 12, true)},
        {"pbm", 14, Pnm(p, '1')},
        {"ppm", 14, Pnm(p, '6')},
        {"pgm16", 14, Pnm(p, '5', 65535)},
        {"ras", 15, Ras(b, 24, 2)},
        {"ras8", 15, Ras(p, 8, 1)},
        {"mng", 17, Mng({p, p})},
        {"jng", 17, Jng(p)},
        {"webp", 18, Webp(a, true)},
    };
    for (const auto &f : files) {
        Bytes out(f.bytes.size() + 1);
        out[0] = uint8_t(f.code);
        std::copy(f.bytes.begin(), f.bytes.end(), out.begin() + 1);
        if (!Save(std::string(argv[1]) + "/" + f.name, out))
            return 1;
    }
    return 0;
}
