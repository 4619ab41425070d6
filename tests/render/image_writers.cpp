#include "tests/render/image_writers.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <unistd.h>

extern "C" {
#include <gif_lib.h>
#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <zlib.h>
}

namespace testimages {
namespace {

void Le16(Bytes &b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Le32(Bytes &b, uint32_t v) {
    Le16(b, v & 0xffff);
    Le16(b, v >> 16);
}
void Be16(Bytes &b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void Be32(Bytes &b, uint32_t v) {
    Be16(b, v >> 16);
    Be16(b, v & 0xffff);
}

Bytes ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ScratchFile(const char *suffix) {
    static int counter = 0;
    return (std::filesystem::temp_directory_path() /
            ("orvane-writer-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix))
        .string();
}

// Palette index of a grey level at a bit depth, and that index's grey.
uint8_t IndexOf(uint8_t grey, int bits) { return uint8_t(grey >> (8 - bits)); }

}  // namespace

Picture Pattern(int width, int height, bool withAlpha, int seed) {
    Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int bx = seed == 1 ? x / 3 : x;  // seed 1: blocks of three equal pixels
            uint8_t *px = &p.rgba[(size_t(y) * width + x) * 4];
            px[0] = uint8_t(bx * 19 + y * 3 + seed * 50);
            px[1] = uint8_t(y * 37 + bx * 5 + 20);
            px[2] = uint8_t((bx + y) * 11 + 40);
            px[3] = withAlpha ? uint8_t(255 - (x * 255) / std::max(1, width - 1)) : 255;
        }
    return p;
}

Picture Photo(int width, int height) {
    Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *px = &p.rgba[(size_t(y) * width + x) * 4];
            const double fx = double(x) / width, fy = double(y) / height;
            px[0] = uint8_t(128 + 100 * std::sin(fx * 9 + fy * 3));
            px[1] = uint8_t(128 + 100 * std::sin(fy * 11 - fx * 2));
            px[2] = uint8_t(128 + 90 * std::cos((fx + fy) * 7) + ((x * 7 + y * 13) % 17) - 8);
            px[3] = 255;
        }
    return p;
}

std::vector<uint8_t> GreyOf(const Picture &p) {
    std::vector<uint8_t> g(size_t(p.width) * p.height);
    for (size_t i = 0; i < g.size(); ++i)
        g[i] = p.rgba[i * 4];
    return g;
}

bool Save(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// ---- JPEG ----

namespace {
struct JpegErr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
[[noreturn]] void JpegFail(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegErr *>(c->err)->jump, 1); }

// components: 1 grey, 3 RGB, 4 CMYK; rows top-down.
bool JpegEncode(const uint8_t *pixels, int w, int h, int components, int quality, bool adobe, unsigned char **out,
                unsigned long *size) {
    jpeg_compress_struct c;
    JpegErr err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegFail;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, out, size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    if (components == 4)
        jpeg_set_colorspace(&c, JCS_CMYK);
    c.write_Adobe_marker = adobe ? TRUE : FALSE;
    for (int i = 0; i < c.num_components; ++i)  // no chroma subsampling
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + size_t(c.next_scanline) * size_t(w) * size_t(components));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

Bytes JpegOf(const std::vector<uint8_t> &pixels, int w, int h, int components, int quality, bool adobe) {
    unsigned char *out = nullptr;
    unsigned long size = 0;
    if (!JpegEncode(pixels.data(), w, h, components, quality, adobe, &out, &size))
        throw std::runtime_error("JPEG encoding failed");
    Bytes b(out, out + size);
    std::free(out);
    return b;
}
}  // namespace

Bytes Jpeg(const Picture &p, int quality) {
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < p.rgba.size(); i += 4)
        rgb.insert(rgb.end(), {p.rgba[i], p.rgba[i + 1], p.rgba[i + 2]});
    return JpegOf(rgb, p.width, p.height, 3, quality, false);
}

Bytes JpegGrey(const Picture &p) { return JpegOf(GreyOf(p), p.width, p.height, 1, 100, false); }

Bytes JpegCmyk(const Picture &p, bool adobeInverted) {
    std::vector<uint8_t> cmyk;
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
        uint8_t c = uint8_t(255 - p.rgba[i]), m = uint8_t(255 - p.rgba[i + 1]), y = uint8_t(255 - p.rgba[i + 2]);
        if (adobeInverted)  // Adobe stores the inverse
            cmyk.insert(cmyk.end(), {uint8_t(255 - c), uint8_t(255 - m), uint8_t(255 - y), 255});
        else
            cmyk.insert(cmyk.end(), {c, m, y, 0});
    }
    return JpegOf(cmyk, p.width, p.height, 4, 100, adobeInverted);
}

// ---- PNG (libpng's classic writer) ----

namespace {
void PngWriteData(png_structp png, png_bytep data, png_size_t n) {
    auto *out = static_cast<Bytes *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

bool PngEncode(Bytes *out, uint32_t w, uint32_t h, int colourType, int depth, const png_color *palette, int paletteSize,
               const std::vector<Bytes> *rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, PngWriteData, PngFlush);
    png_set_IHDR(png, info, w, h, depth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (palette)
        png_set_PLTE(png, info, palette, paletteSize);
    png_write_info(png, info);
    for (const Bytes &row : *rows)
        png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

Bytes PngOf(uint32_t w, uint32_t h, int colourType, int depth, const std::vector<Bytes> &rows,
            const std::vector<png_color> &palette = {}) {
    Bytes out;
    if (!PngEncode(&out, w, h, colourType, depth, palette.empty() ? nullptr : palette.data(), int(palette.size()),
                   &rows))
        throw std::runtime_error("PNG encoding failed");
    return out;
}
}  // namespace

Bytes Png(const Picture &p, bool alpha) {
    std::vector<Bytes> rows;
    for (int y = 0; y < p.height; ++y) {
        Bytes row;
        for (int x = 0; x < p.width; ++x) {
            const uint8_t *px = p.At(x, y);
            row.insert(row.end(), px, px + (alpha ? 4 : 3));
        }
        rows.push_back(row);
    }
    return PngOf(uint32_t(p.width), uint32_t(p.height), alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, 8, rows);
}

Bytes PngGrey(const Picture &p, bool sixteenBit) {
    std::vector<Bytes> rows;
    for (int y = 0; y < p.height; ++y) {
        Bytes row;
        for (int x = 0; x < p.width; ++x) {
            row.push_back(p.At(x, y)[0]);
            if (sixteenBit)
                row.push_back(0x5a);  // the low byte is dropped by an 8-bit reader
        }
        rows.push_back(row);
    }
    return PngOf(uint32_t(p.width), uint32_t(p.height), PNG_COLOR_TYPE_GRAY, sixteenBit ? 16 : 8, rows);
}

Bytes PngPalette(const Picture &p, int bits) {
    std::vector<png_color> palette(size_t(1) << bits);
    for (size_t i = 0; i < palette.size(); ++i) {
        const uint8_t v = uint8_t(i * 255 / (palette.size() - 1));
        palette[i] = png_color{v, uint8_t(255 - v), uint8_t(v / 2)};
    }
    std::vector<Bytes> rows;
    for (int y = 0; y < p.height; ++y) {
        Bytes row((size_t(p.width) * bits + 7) / 8, 0);
        for (int x = 0; x < p.width; ++x) {
            const uint8_t index = IndexOf(p.At(x, y)[0], bits);
            const int bit = x * bits;
            row[size_t(bit / 8)] |= uint8_t(index << (8 - bits - bit % 8));
        }
        rows.push_back(row);
    }
    return PngOf(uint32_t(p.width), uint32_t(p.height), PNG_COLOR_TYPE_PALETTE, bits, rows, palette);
}

Bytes PngRgb16(const Picture &p) {
    std::vector<Bytes> rows;
    for (int y = 0; y < p.height; ++y) {
        Bytes row;
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c)
                row.insert(row.end(), {p.At(x, y)[c], uint8_t(x * 7)});
        rows.push_back(row);
    }
    return PngOf(uint32_t(p.width), uint32_t(p.height), PNG_COLOR_TYPE_RGB, 16, rows);
}

Bytes PngHeaderOnly(uint32_t width, uint32_t height) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    Bytes chunk = {'I', 'H', 'D', 'R'};
    Be32(chunk, width);
    Be32(chunk, height);
    chunk.insert(chunk.end(), {8, 2, 0, 0, 0});
    Be32(b, 13);
    b.insert(b.end(), chunk.begin(), chunk.end());
    Be32(b, uint32_t(crc32(0, chunk.data(), uInt(chunk.size()))));
    // An IDAT with a few bytes, so a reader gets as far as allocating.
    Bytes idat = {'I', 'D', 'A', 'T', 0x78, 0x9c, 0x63, 0x00, 0x00};
    Be32(b, 5);
    b.insert(b.end(), idat.begin(), idat.end());
    Be32(b, uint32_t(crc32(0, idat.data(), uInt(idat.size()))));
    return b;
}

// ---- TIFF ----

Bytes Tiff(const std::vector<Picture> &pages, int compression, bool alpha) {
    const std::string path = ScratchFile(".tif");
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        throw std::runtime_error("TIFFOpen failed");
    for (const Picture &p : pages) {
        const int spp = alpha ? 4 : 3;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
        if (alpha) {
            uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (pages.size() > 1) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        }
        std::vector<uint8_t> row(size_t(p.width) * spp);
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x)
                std::memcpy(&row[size_t(x) * spp], p.At(x, y), size_t(spp));
            TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    Bytes b = ReadAll(path);
    std::remove(path.c_str());
    return b;
}

Bytes TiffGrey16(const Picture &p) {
    const std::string path = ScratchFile(".tif");
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    std::vector<uint16_t> row(size_t(p.width));
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x)
            row[size_t(x)] = uint16_t(p.At(x, y)[0] * 257);
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
    Bytes b = ReadAll(path);
    std::remove(path.c_str());
    return b;
}

Bytes TiffHeaderOnly(uint32_t width, uint32_t height) {
    // Little-endian TIFF with one directory of the basic tags and a strip
    // offset past the end of the file.
    Bytes b = {'I', 'I', 42, 0};
    Le32(b, 8);
    const uint16_t count = 8;
    Le16(b, count);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t n, uint32_t value) {
        Le16(b, tag);
        Le16(b, type);
        Le32(b, n);
        Le32(b, value);
    };
    entry(256, 4, 1, width);
    entry(257, 4, 1, height);
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);
    entry(273, 4, 1, 4096);
    entry(278, 4, 1, height);
    entry(279, 4, 1, uint32_t(std::min<uint64_t>(uint64_t(width) * height, 0xffffffffu)));
    Le32(b, 0);
    return b;
}

Bytes Dng(const Picture &p) {
    const std::string path = ScratchFile(".dng");
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 34892);  // linear raw
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_MAKE, "Orvane");
    TIFFSetField(tif, TIFFTAG_MODEL, "Test");
    static const uint8_t version[4] = {1, 4, 0, 0};
    TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Orvane Test");
    float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, matrix);
    float neutral[3] = {1, 1, 1};
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    std::vector<uint16_t> row(size_t(p.width) * 3);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c)
                row[size_t(x) * 3 + size_t(c)] = uint16_t(p.At(x, y)[c] * 257);
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
    Bytes b = ReadAll(path);
    std::remove(path.c_str());
    return b;
}

// ---- GIF ----

namespace {
int GifWrite(GifFileType *gif, const GifByteType *data, int n) {
    auto *out = static_cast<Bytes *>(gif->UserData);
    out->insert(out->end(), data, data + n);
    return n;
}
}  // namespace

Bytes Gif(const std::vector<Picture> &frames) {
    Bytes out;
    int error = 0;
    GifFileType *gif = EGifOpen(&out, GifWrite, &error);
    if (!gif)
        throw std::runtime_error("EGifOpen failed");
    const int w = frames.front().width, h = frames.front().height;
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, w, h, 8, 0, nullptr);
    for (const Picture &p : frames) {
        std::map<uint32_t, int> colours;
        std::vector<GifColorType> table;
        std::vector<GifPixelType> pixels;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const uint8_t *px = p.At(x, y);
                const uint32_t key = uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | px[2];
                auto it = colours.find(key);
                if (it == colours.end()) {
                    if (table.size() >= 256)
                        throw std::runtime_error("too many colours for GIF");
                    it = colours.emplace(key, int(table.size())).first;
                    table.push_back(GifColorType{px[0], px[1], px[2]});
                }
                pixels.push_back(GifPixelType(it->second));
            }
        table.resize(256);
        ColorMapObject *map = GifMakeMapObject(256, table.data());
        EGifPutImageDesc(gif, 0, 0, p.width, p.height, false, map);
        for (int y = 0; y < p.height; ++y)
            EGifPutLine(gif, &pixels[size_t(y) * p.width], p.width);
        GifFreeMapObject(map);
    }
    EGifCloseFile(gif, &error);
    return out;
}

// ---- JPEG 2000 ----

namespace {
struct OpjSink {
    Bytes data;
    size_t pos = 0;
};
OPJ_SIZE_T OpjWrite(void *buffer, OPJ_SIZE_T n, void *user) {
    auto *sink = static_cast<OpjSink *>(user);
    if (sink->pos + n > sink->data.size())
        sink->data.resize(sink->pos + n);
    std::memcpy(sink->data.data() + sink->pos, buffer, n);
    sink->pos += n;
    return n;
}
OPJ_OFF_T OpjSkipW(OPJ_OFF_T n, void *user) {
    auto *sink = static_cast<OpjSink *>(user);
    sink->pos = size_t(OPJ_OFF_T(sink->pos) + n);
    if (sink->pos > sink->data.size())
        sink->data.resize(sink->pos);
    return n;
}
OPJ_BOOL OpjSeekW(OPJ_OFF_T n, void *user) {
    auto *sink = static_cast<OpjSink *>(user);
    sink->pos = size_t(n);
    if (sink->pos > sink->data.size())
        sink->data.resize(sink->pos);
    return OPJ_TRUE;
}
}  // namespace

Bytes Jp2(const Picture &p, bool codestreamOnly) {
    opj_image_cmptparm_t parms[3];
    std::memset(parms, 0, sizeof parms);
    for (auto &c : parms) {
        c.dx = c.dy = 1;
        c.w = OPJ_UINT32(p.width);
        c.h = OPJ_UINT32(p.height);
        c.prec = 8;
        c.sgnd = 0;
    }
    opj_image_t *image = opj_image_create(3, parms, OPJ_CLRSPC_SRGB);
    image->x0 = image->y0 = 0;
    image->x1 = OPJ_UINT32(p.width);
    image->y1 = OPJ_UINT32(p.height);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < p.width * p.height; ++i)
            image->comps[c].data[i] = p.rgba[size_t(i) * 4 + size_t(c)];
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);  // lossless 5/3
    params.tcp_numlayers = 1;
    params.cp_disto_alloc = 1;
    params.tcp_rates[0] = 0;
    params.numresolution = 2;
    opj_codec_t *codec = opj_create_compress(codestreamOnly ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    opj_setup_encoder(codec, &params, image);
    OpjSink out;
    opj_stream_t *stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, OpjWrite);
    opj_stream_set_skip_function(stream, OpjSkipW);
    opj_stream_set_seek_function(stream, OpjSeekW);
    const bool ok =
        opj_start_compress(codec, image, stream) && opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok)
        throw std::runtime_error("JPEG 2000 encoding failed");
    return out.data;
}

// ---- WebP ----

Bytes Webp(const Picture &p, bool alpha) {
    uint8_t *out = nullptr;
    size_t size = 0;
    if (alpha) {
        size = WebPEncodeLosslessRGBA(p.rgba.data(), p.width, p.height, p.width * 4, &out);
    } else {
        std::vector<uint8_t> rgb;
        for (size_t i = 0; i < p.rgba.size(); i += 4)
            rgb.insert(rgb.end(), {p.rgba[i], p.rgba[i + 1], p.rgba[i + 2]});
        size = WebPEncodeLosslessRGB(rgb.data(), p.width, p.height, p.width * 3, &out);
    }
    if (!size)
        throw std::runtime_error("WebP encoding failed");
    Bytes b(out, out + size);
    WebPFree(out);
    return b;
}

// ---- MNG and JNG, laid out chunk by chunk ----

namespace {
void Chunk(Bytes &out, const char *type, const Bytes &data) {
    Be32(out, uint32_t(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Be32(out, uint32_t(crc32(0, body.data(), uInt(body.size()))));
}

Bytes Ihdr(const Picture &p, uint8_t colourType) {
    Bytes d;
    Be32(d, uint32_t(p.width));
    Be32(d, uint32_t(p.height));
    d.insert(d.end(), {8, colourType, 0, 0, 0});
    return d;
}

Bytes Idat(const Picture &p) {
    Bytes raw;
    for (int y = 0; y < p.height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < p.width; ++x)
            raw.insert(raw.end(), p.At(x, y), p.At(x, y) + 3);
    }
    uLongf size = compressBound(uLong(raw.size()));
    Bytes z(size);
    compress(z.data(), &size, raw.data(), uLong(raw.size()));
    z.resize(size);
    return z;
}
}  // namespace

Bytes Mng(const std::vector<Picture> &frames) {
    Bytes out = {0x8a, 'M', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    Bytes mhdr;
    Be32(mhdr, uint32_t(frames.front().width));
    Be32(mhdr, uint32_t(frames.front().height));
    Be32(mhdr, 100);  // ticks per second
    Be32(mhdr, 0);
    Be32(mhdr, uint32_t(frames.size()));
    Be32(mhdr, 0);
    Be32(mhdr, 1);  // simplicity: valid profile, nothing else claimed
    Chunk(out, "MHDR", mhdr);
    for (const Picture &p : frames) {
        Chunk(out, "IHDR", Ihdr(p, 2));
        Chunk(out, "IDAT", Idat(p));
        Chunk(out, "IEND", {});
    }
    Chunk(out, "MEND", {});
    return out;
}

Bytes Jng(const Picture &p) {
    Bytes out = {0x8b, 'J', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    Bytes jhdr;
    Be32(jhdr, uint32_t(p.width));
    Be32(jhdr, uint32_t(p.height));
    jhdr.insert(jhdr.end(), {10, 8, 8, 0, 0, 0, 0, 0});
    Chunk(out, "JHDR", jhdr);
    Chunk(out, "JDAT", Jpeg(p, 100));
    Chunk(out, "IEND", {});
    return out;
}

// ---- BMP ----

namespace {
Bytes BmpHeader(int w, int h, int bits, uint32_t compression, uint32_t paletteEntries, uint32_t imageSize) {
    Bytes b = {'B', 'M'};
    const uint32_t offset = 14 + 40 + paletteEntries * 4;
    Le32(b, offset + imageSize);
    Le32(b, 0);
    Le32(b, offset);
    Le32(b, 40);
    Le32(b, uint32_t(w));
    Le32(b, uint32_t(h));
    Le16(b, 1);
    Le16(b, uint32_t(bits));
    Le32(b, compression);
    Le32(b, imageSize);
    Le32(b, 2835);
    Le32(b, 2835);
    Le32(b, paletteEntries);
    Le32(b, 0);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        const uint8_t v = uint8_t(i * 255 / (paletteEntries - 1));
        b.insert(b.end(), {v, v, v, 0});
    }
    return b;
}
}  // namespace

Bytes Bmp(const Picture &p, int bits, bool topDown) {
    const uint32_t stride = ((uint32_t(p.width) * uint32_t(bits) + 31) / 32) * 4;
    const uint32_t entries = bits <= 8 ? (1u << bits) : 0;
    Bytes b = BmpHeader(p.width, topDown ? -p.height : p.height, bits, 0, entries, stride * uint32_t(p.height));
    for (int r = 0; r < p.height; ++r) {
        const int y = topDown ? r : p.height - 1 - r;
        Bytes row(stride, 0);
        for (int x = 0; x < p.width; ++x) {
            const uint8_t *px = p.At(x, y);
            switch (bits) {
            case 1:
            case 4:
            case 8: {
                const uint8_t index = IndexOf(px[0], bits);
                const int bit = x * bits;
                row[size_t(bit / 8)] |= uint8_t(index << (8 - bits - bit % 8));
                break;
            }
            case 16: {
                const uint32_t v = uint32_t(px[0] >> 3) << 10 | uint32_t(px[1] >> 3) << 5 | uint32_t(px[2] >> 3);
                row[size_t(x) * 2] = uint8_t(v);
                row[size_t(x) * 2 + 1] = uint8_t(v >> 8);
                break;
            }
            default: {
                const size_t n = size_t(bits / 8);
                row[size_t(x) * n] = px[2];
                row[size_t(x) * n + 1] = px[1];
                row[size_t(x) * n + 2] = px[0];
            }
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes BmpRle(const Picture &p, int bits) {
    Bytes data;
    for (int r = 0; r < p.height; ++r) {
        const int y = p.height - 1 - r;
        int x = 0;
        if (p.width >= 4) {  // one run in absolute mode
            data.insert(data.end(), {0, 4});
            const uint8_t a = IndexOf(p.At(0, y)[0], bits), b = IndexOf(p.At(1, y)[0], bits),
                          c = IndexOf(p.At(2, y)[0], bits), d = IndexOf(p.At(3, y)[0], bits);
            if (bits == 8)
                data.insert(data.end(), {a, b, c, d});
            else
                data.insert(data.end(), {uint8_t(a << 4 | b), uint8_t(c << 4 | d)});
            x = 4;
        }
        for (; x < p.width; ++x) {
            const uint8_t v = IndexOf(p.At(x, y)[0], bits);
            data.insert(data.end(), {1, bits == 8 ? v : uint8_t(v << 4)});
        }
        data.insert(data.end(), {0, 0});
    }
    data.insert(data.end(), {0, 1});
    Bytes b = BmpHeader(p.width, p.height, bits, bits == 8 ? 1 : 2, 1u << bits, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes Ico(const std::vector<Picture> &images) {
    Bytes b;
    Le16(b, 0);
    Le16(b, 1);
    Le16(b, uint32_t(images.size()));
    std::vector<Bytes> bodies;
    for (const Picture &p : images) {
        Bytes d;
        Le32(d, 40);
        Le32(d, uint32_t(p.width));
        Le32(d, uint32_t(p.height * 2));
        Le16(d, 1);
        Le16(d, 32);
        Le32(d, 0);
        Le32(d, 0);
        Le32(d, 0);
        Le32(d, 0);
        Le32(d, 0);
        Le32(d, 0);
        for (int r = 0; r < p.height; ++r) {
            const int y = p.height - 1 - r;
            for (int x = 0; x < p.width; ++x) {
                const uint8_t *px = p.At(x, y);
                d.insert(d.end(), {px[2], px[1], px[0], px[3]});
            }
        }
        const size_t maskStride = ((size_t(p.width) + 31) / 32) * 4;
        d.insert(d.end(), maskStride * size_t(p.height), 0);
        bodies.push_back(d);
    }
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        b.insert(b.end(), {uint8_t(images[i].width), uint8_t(images[i].height), 0, 0});
        Le16(b, 1);
        Le16(b, 32);
        Le32(b, uint32_t(bodies[i].size()));
        Le32(b, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (const Bytes &d : bodies)
        b.insert(b.end(), d.begin(), d.end());
    return b;
}

// ---- TGA ----

Bytes Tga(const Picture &p, int type, int depth, bool topDown) {
    const bool mapped = (type & 7) == 1;
    const bool grey = (type & 7) == 3;
    Bytes b = {0, uint8_t(mapped ? 1 : 0), uint8_t(type)};
    Le16(b, 0);
    Le16(b, mapped ? 256 : 0);
    b.push_back(mapped ? 24 : 0);
    Le16(b, 0);
    Le16(b, 0);
    Le16(b, uint32_t(p.width));
    Le16(b, uint32_t(p.height));
    b.push_back(uint8_t(depth));
    b.push_back(uint8_t((topDown ? 0x20 : 0) | (depth == 32 ? 8 : 0)));
    if (mapped)
        for (int i = 0; i < 256; ++i)
            b.insert(b.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    std::vector<Bytes> pixels;
    for (int r = 0; r < p.height; ++r) {
        const int y = topDown ? r : p.height - 1 - r;
        for (int x = 0; x < p.width; ++x) {
            const uint8_t *px = p.At(x, y);
            if (mapped || grey)
                pixels.push_back({px[0]});
            else if (depth == 32)
                pixels.push_back({px[2], px[1], px[0], px[3]});
            else
                pixels.push_back({px[2], px[1], px[0]});
        }
    }
    if (!(type & 8)) {
        for (const Bytes &px : pixels)
            b.insert(b.end(), px.begin(), px.end());
        return b;
    }
    // Run packets for repeats, raw packets otherwise; packets cross rows.
    size_t i = 0;
    while (i < pixels.size()) {
        size_t run = 1;
        while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i])
            ++run;
        if (run > 1) {
            b.push_back(uint8_t(0x80 | (run - 1)));
            b.insert(b.end(), pixels[i].begin(), pixels[i].end());
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < pixels.size() && raw < 128 &&
               !(i + raw + 1 < pixels.size() && pixels[i + raw] == pixels[i + raw + 1]))
            ++raw;
        b.push_back(uint8_t(raw - 1));
        for (size_t k = 0; k < raw; ++k)
            b.insert(b.end(), pixels[i + k].begin(), pixels[i + k].end());
        i += raw;
    }
    return b;
}

// ---- PCX ----

Bytes Pcx(const Picture &p, bool rgb) {
    Bytes b = {0x0a, 5, 1, 8};
    Le16(b, 0);
    Le16(b, 0);
    Le16(b, uint32_t(p.width - 1));
    Le16(b, uint32_t(p.height - 1));
    Le16(b, 72);
    Le16(b, 72);
    b.insert(b.end(), 48, 0);
    b.push_back(0);
    b.push_back(rgb ? 3 : 1);
    const uint32_t bytesPerLine = uint32_t(p.width + (p.width & 1));
    Le16(b, bytesPerLine);
    Le16(b, 1);
    b.insert(b.end(), 128 - b.size(), 0);
    for (int y = 0; y < p.height; ++y) {
        for (int plane = 0; plane < (rgb ? 3 : 1); ++plane) {
            Bytes line(bytesPerLine, 0);
            for (int x = 0; x < p.width; ++x)
                line[size_t(x)] = p.At(x, y)[plane];
            size_t i = 0;
            while (i < line.size()) {
                size_t run = 1;
                while (i + run < line.size() && run < 63 && line[i + run] == line[i])
                    ++run;
                if (run > 1 || line[i] >= 0xc0)
                    b.push_back(uint8_t(0xc0 | run));
                b.push_back(line[i]);
                i += run;
            }
        }
    }
    if (!rgb) {
        b.push_back(0x0c);
        for (int i = 0; i < 256; ++i)
            b.insert(b.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    }
    return b;
}

// ---- WBMP, PNM, PGX, Sun raster, EMF ----

Bytes Wbmp(const Picture &p) {
    Bytes b = {0, 0};
    auto multi = [&](uint32_t v) {
        Bytes parts;
        do {
            parts.insert(parts.begin(), uint8_t(v & 0x7f));
            v >>= 7;
        } while (v);
        for (size_t i = 0; i + 1 < parts.size(); ++i)
            parts[i] |= 0x80;
        b.insert(b.end(), parts.begin(), parts.end());
    };
    multi(uint32_t(p.width));
    multi(uint32_t(p.height));
    for (int y = 0; y < p.height; ++y) {
        Bytes row((size_t(p.width) + 7) / 8, 0);
        for (int x = 0; x < p.width; ++x)
            if (p.At(x, y)[0] > 127)
                row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes Pnm(const Picture &p, char kind, int maxval) {
    std::string head = std::string("P") + kind + "\n# written by the tests\n" + std::to_string(p.width) + " " +
                       std::to_string(p.height) + "\n";
    const bool bitmap = kind == '1' || kind == '4';
    if (!bitmap)
        head += std::to_string(maxval) + "\n";
    Bytes b(head.begin(), head.end());
    auto value = [&](uint8_t v) { return uint32_t(v) * uint32_t(maxval) / 255; };
    for (int y = 0; y < p.height; ++y) {
        if (kind == '4') {
            Bytes row((size_t(p.width) + 7) / 8, 0);
            for (int x = 0; x < p.width; ++x)
                if (p.At(x, y)[0] <= 127)
                    row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
            b.insert(b.end(), row.begin(), row.end());
            continue;
        }
        std::string text;
        for (int x = 0; x < p.width; ++x) {
            const uint8_t *px = p.At(x, y);
            const int channels = kind == '3' || kind == '6' ? 3 : 1;
            for (int c = 0; c < channels; ++c) {
                if (kind == '1') {
                    text += px[0] <= 127 ? "1" : "0";
                } else if (kind <= '3') {
                    text += std::to_string(value(px[c])) + " ";
                } else if (maxval > 255) {
                    Be16(b, value(px[c]));
                } else {
                    b.push_back(uint8_t(value(px[c])));
                }
            }
        }
        if (!text.empty()) {
            text += "\n";
            b.insert(b.end(), text.begin(), text.end());
        }
    }
    return b;
}

Bytes Pgx(const Picture &p, int depth, bool bigEndian) {
    std::string head = std::string("PG ") + (bigEndian ? "ML" : "LM") + " + " + std::to_string(depth) + " " +
                       std::to_string(p.width) + " " + std::to_string(p.height) + "\n";
    Bytes b(head.begin(), head.end());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const uint32_t v = uint32_t(p.At(x, y)[0]) << (depth - 8);
            if (depth <= 8)
                b.push_back(uint8_t(v));
            else if (bigEndian)
                Be16(b, v);
            else
                Le16(b, v);
        }
    return b;
}

Bytes Ras(const Picture &p, int depth, int type) {
    Bytes b;
    Be32(b, 0x59a66a95u);
    Be32(b, uint32_t(p.width));
    Be32(b, uint32_t(p.height));
    Be32(b, uint32_t(depth));
    const uint32_t rowBytes = ((uint32_t(p.width) * uint32_t(depth) + 15) / 16) * 2;
    Bytes pixels;
    for (int y = 0; y < p.height; ++y) {
        Bytes row(rowBytes, 0);
        for (int x = 0; x < p.width; ++x) {
            const uint8_t *px = p.At(x, y);
            if (depth == 8) {
                row[size_t(x)] = px[0];
            } else if (type == 3) {
                row[size_t(x) * 3] = px[0];
                row[size_t(x) * 3 + 1] = px[1];
                row[size_t(x) * 3 + 2] = px[2];
            } else {
                row[size_t(x) * 3] = px[2];
                row[size_t(x) * 3 + 1] = px[1];
                row[size_t(x) * 3 + 2] = px[0];
            }
        }
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    if (type == 2) {
        Bytes enc;
        size_t i = 0;
        while (i < pixels.size()) {
            size_t run = 1;
            while (i + run < pixels.size() && run < 256 && pixels[i + run] == pixels[i])
                ++run;
            if (run >= 3 || pixels[i] == 0x80) {
                if (run == 1)
                    enc.insert(enc.end(), {0x80, 0});
                else
                    enc.insert(enc.end(), {0x80, uint8_t(run - 1), pixels[i]});
            } else {
                for (size_t k = 0; k < run; ++k)
                    enc.push_back(pixels[i]);
            }
            i += run;
        }
        pixels = enc;
    }
    Be32(b, uint32_t(pixels.size()));
    Be32(b, uint32_t(type));
    Be32(b, depth == 8 ? 1 : 0);
    Be32(b, depth == 8 ? 768 : 0);
    if (depth == 8) {
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i)
                b.push_back(uint8_t(c == 1 ? 255 - i : i));
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

Bytes Emf(int left, int top, int right, int bottom) {
    Bytes b;
    Le32(b, 1);
    Le32(b, 108);
    for (int v : {left, top, right, bottom})
        Le32(b, uint32_t(v));
    for (int v : {0, 0, (right - left) * 26, (bottom - top) * 26})
        Le32(b, uint32_t(v));
    Le32(b, 0x464d4520u);  // " EMF"
    Le32(b, 0x10000);
    Le32(b, 128);
    Le32(b, 2);
    Le16(b, 1);
    Le16(b, 0);
    for (int i = 0; i < 11; ++i)
        Le32(b, 0);
    b.resize(108, 0);
    Le32(b, 14);  // end-of-file record
    Le32(b, 20);
    Le32(b, 0);
    Le32(b, 16);
    Le32(b, 20);
    return b;
}

}  // namespace testimages
