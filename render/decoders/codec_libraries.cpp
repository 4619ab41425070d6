// Decoders on the codec libraries: JPEG (libjpeg-turbo), PNG (libpng),
// TIFF (libtiff), GIF (giflib), JPEG 2000 (OpenJPEG), WebP (libwebp) and
// camera raw (LibRaw). Each reads from memory and checks the picture's
// size against the page image's limit before the library decodes pixels.

#include "render/decoders/decoders.h"

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <libraw/libraw.h>

extern "C" {
#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
}

namespace render {

// ---------------------------------------------------------------- JPEG

namespace {

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
};

// Warnings are ignored except the one that says the data ran out, which
// libjpeg would otherwise paper over with grey.
void JpegWarning(j_common_ptr cinfo, int level) {
    if (level == -1 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<JpegError *>(cinfo->err)->truncated = true;
}

[[noreturn]] void JpegOnError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<JpegError *>(cinfo->err);
    cinfo->err->format_message(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

// No object with a destructor lives in this frame: libjpeg leaves it with
// longjmp.
bool JpegDecode(const uint8_t *data, size_t size, PageImage *image, char *message) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    err.message[0] = 0;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegOnError;
    err.pub.output_message = JpegQuiet;
    err.pub.emit_message = JpegWarning;
    err.truncated = false;
    std::vector<uint8_t> *volatile cmyk = nullptr;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete cmyk;
        std::snprintf(message, 256, "JPEG: %s", err.message);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool isCmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : isCmyk ? JCS_CMYK : JCS_EXT_BGR;
    const uint32_t w = cinfo.image_width, h = cinfo.image_height;
    if (!image->Allocate(w, h, grey ? 8 : 24, kFormatJpeg)) {
        std::snprintf(message, 256, "%s", image->LastError().c_str());
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (grey)
        SetGreyPalette(*image);
    jpeg_start_decompress(&cinfo);
    if (isCmyk)
        cmyk = new std::vector<uint8_t>(size_t(w) * 4);
    // Adobe writes CMYK inverted.
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < h) {
        uint8_t *row = image->Row(h - 1 - cinfo.output_scanline);
        JSAMPROW target = isCmyk ? cmyk->data() : row;
        jpeg_read_scanlines(&cinfo, &target, 1);
        if (isCmyk) {
            const uint8_t *s = cmyk->data();
            for (uint32_t x = 0; x < w; ++x, s += 4) {
                uint32_t c = s[0], m = s[1], yy = s[2], k = s[3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yy = 255 - yy;
                    k = 255 - k;
                }
                row[x * 3] = uint8_t(yy * k / 255);
                row[x * 3 + 1] = uint8_t(m * k / 255);
                row[x * 3 + 2] = uint8_t(c * k / 255);
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    delete cmyk;
    if (err.truncated) {
        std::snprintf(message, 256, "JPEG: file is truncated");
        return false;
    }
    return true;
}

}  // namespace

bool DecodeJpeg(ByteSpan data, PageImage &image) {
    if (data.size() < 3 || data[0] != 0xff || data[1] != 0xd8 || data[2] != 0xff)
        return Fail(image, "JPEG: not a JPEG file");
    if (!CheckFrame(image, 1, "JPEG"))
        return false;
    char message[256] = {0};
    if (!JpegDecode(data.data(), data.size(), &image, message)) {
        image.Clear();
        return Fail(image, message);
    }
    return true;
}

// ---------------------------------------------------------------- PNG

namespace {

struct PngSource {
    ByteSpan data;
    size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
    auto *src = static_cast<PngSource *>(png_get_io_ptr(png));
    if (n > src->data.size() - src->pos)
        png_error(png, "file is truncated");
    std::memcpy(out, src->data.data() + src->pos, n);
    src->pos += n;
}

void PngOnError(png_structp png, png_const_charp text) {
    auto *message = static_cast<char *>(png_get_error_ptr(png));
    std::snprintf(message, 256, "PNG: %s", text);
    png_longjmp(png, 1);
}

void PngOnWarning(png_structp, png_const_charp) {}

// No object with a destructor lives in this frame: libpng leaves it with
// longjmp. Palette and grey pictures without transparency stay palette
// pictures; everything else becomes 24-bit with transparency composited
// onto white. Sixteen-bit samples are scaled to eight.
bool PngDecode(PngSource *source, PageImage *image, char *message) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, message, PngOnError, PngOnWarning);
    if (!png) {
        std::snprintf(message, 256, "PNG: cannot start the decoder");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    png_bytep *volatile rows = nullptr;
    png_bytep volatile rgba = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        std::free(rgba);
        image->Clear();
        return false;
    }
    png_set_read_fn(png, source, PngRead);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const bool mapped = !transparency && (colourType == PNG_COLOR_TYPE_PALETTE || colourType == PNG_COLOR_TYPE_GRAY);
    const bool hasAlpha = !mapped && (transparency || (colourType & PNG_COLOR_MASK_ALPHA));
    if (!image->Allocate(w, h, mapped ? 8 : 24, kFormatPng)) {
        std::snprintf(message, 256, "%s", image->LastError().c_str());
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (depth == 16)
        png_set_scale_16(png);
    if (mapped) {
        if (depth < 8) {
            if (colourType == PNG_COLOR_TYPE_GRAY)
                png_set_expand_gray_1_2_4_to_8(png);
            else
                png_set_packing(png);
        }
        RgbQuad *pal = image->Palette();
        if (colourType == PNG_COLOR_TYPE_GRAY) {
            SetGreyPalette(*image);
        } else {
            png_colorp colours = nullptr;
            int count = 0;
            if (png_get_PLTE(png, info, &colours, &count))
                for (int i = 0; i < count && i < 256; ++i)
                    pal[i] = RgbQuad{colours[i].blue, colours[i].green, colours[i].red, 0};
        }
    } else {
        png_set_expand(png);  // palette and low grey depths to 8 bits, tRNS to alpha
        if (!(colourType & PNG_COLOR_MASK_COLOR))
            png_set_gray_to_rgb(png);
        if (!hasAlpha)
            png_set_bgr(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * h));
    if (hasAlpha)
        rgba = static_cast<png_bytep>(std::malloc(size_t(w) * 4 * h));
    if (!rows || (hasAlpha && !rgba))
        png_error(png, "PageImage::Allocate can't allocate memory");
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = hasAlpha ? rgba + size_t(y) * w * 4 : image->Row(h - 1 - y);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    if (hasAlpha)
        for (png_uint_32 y = 0; y < h; ++y)
            PutRgbRow(*image, y, rows[y], 4);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    std::free(rgba);
    return true;
}

}  // namespace

bool DecodePng(ByteSpan data, PageImage &image) {
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0)
        return Fail(image, "PNG: not a PNG file");
    if (!CheckFrame(image, 1, "PNG"))
        return false;
    PngSource source{data, 0};
    char message[256] = {0};
    if (!PngDecode(&source, &image, message))
        return Fail(image, message[0] ? message : "PNG: cannot decode the file");
    return true;
}

// ---------------------------------------------------------------- TIFF

namespace {

struct MemoryFile {
    ByteSpan data;
    toff_t pos = 0;
};

thread_local std::string t_tiffError;

void TiffError(const char *module, const char *fmt, va_list ap) {
    char buffer[256];
    std::vsnprintf(buffer, sizeof buffer, fmt, ap);
    t_tiffError = std::string(module ? module : "TIFF") + ": " + buffer;
}

void TiffWarning(const char *, const char *, va_list) {}

tsize_t TiffRead(thandle_t h, tdata_t buf, tsize_t size) {
    auto *f = static_cast<MemoryFile *>(h);
    if (size < 0 || f->pos >= f->data.size())
        return 0;
    const size_t n = std::min<size_t>(size_t(size), f->data.size() - size_t(f->pos));
    std::memcpy(buf, f->data.data() + f->pos, n);
    f->pos += n;
    return tsize_t(n);
}
tsize_t TiffWrite(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
    auto *f = static_cast<MemoryFile *>(h);
    uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->data.size() : 0;
    f->pos = base + off;
    return f->pos;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<MemoryFile *>(h)->data.size(); }
int TiffMap(thandle_t, tdata_t *, toff_t *) { return 0; }
void TiffUnmap(thandle_t, tdata_t, toff_t) {}

}  // namespace

bool DecodeTiff(ByteSpan data, PageImage &image) {
    if (data.size() < 8 || !((data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43)) ||
                             (data[0] == 'M' && data[1] == 'M' && (data[3] == 42 || data[3] == 43))))
        return Fail(image, "TIFF: not a TIFF file");
    static std::once_flag handlers;
    std::call_once(handlers, [] {
        TIFFSetErrorHandler(TiffError);
        TIFFSetWarningHandler(TiffWarning);
    });
    t_tiffError.clear();
    MemoryFile file{data, 0};
    TIFF *tif =
        TIFFClientOpen("TIFF", "rm", &file, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap, TiffUnmap);
    if (!tif)
        return Fail(image, t_tiffError.empty() ? "TIFF: cannot read the file" : t_tiffError);
    std::unique_ptr<TIFF, void (*)(TIFF *)> guard(tif, TIFFClose);

    const int count = TIFFNumberOfDirectories(tif);
    if (!CheckFrame(image, std::max(count, 1), "TIFF"))
        return false;
    if (!TIFFSetDirectory(tif, tdir_t(image.FrameIndex())))
        return Fail(image, "TIFF: cannot read page " + std::to_string(image.FrameIndex() + 1));
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    if (!image.Allocate(w, h, 24, kFormatTiff))
        return false;
    char why[1024] = {0};
    if (!TIFFRGBAImageOK(tif, why)) {
        image.Clear();
        return Fail(image, std::string("TIFF: ") + why);
    }
    std::vector<uint32_t> raster;
    try {
        raster.resize(size_t(w) * h);
    } catch (const std::bad_alloc &) {
        image.Clear();
        return Fail(image, "PageImage::Allocate can't allocate memory");
    }
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 1)) {
        image.Clear();
        return Fail(image, t_tiffError.empty() ? "TIFF: cannot decode the picture" : t_tiffError);
    }
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t *src = &raster[size_t(y) * w];
        uint8_t *dst = image.Row(h - 1 - y);
        for (uint32_t x = 0; x < w; ++x) {
            // Premultiplied alpha over white.
            const uint32_t p = src[x], inv = 255 - TIFFGetA(p);
            dst[x * 3] = uint8_t(std::min<uint32_t>(255, TIFFGetB(p) + inv));
            dst[x * 3 + 1] = uint8_t(std::min<uint32_t>(255, TIFFGetG(p) + inv));
            dst[x * 3 + 2] = uint8_t(std::min<uint32_t>(255, TIFFGetR(p) + inv));
        }
    }
    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) && xres > 0 &&
        yres > 0 && xres < 100000 && yres < 100000) {
        const float perInch = unit == RESUNIT_CENTIMETER ? 2.54f : 1.0f;
        image.SetResolution(PageImage::Horizontal, int(xres * perInch + 0.5f));
        image.SetResolution(PageImage::Vertical, int(yres * perInch + 0.5f));
    }
    return true;
}

// ---------------------------------------------------------------- GIF

namespace {

struct GifSource {
    ByteSpan data;
    size_t pos = 0;
};

int GifRead(GifFileType *gif, GifByteType *buf, int size) {
    auto *src = static_cast<GifSource *>(gif->UserData);
    if (size <= 0 || src->pos >= src->data.size())
        return 0;
    const size_t n = std::min<size_t>(size_t(size), src->data.size() - src->pos);
    std::memcpy(buf, src->data.data() + src->pos, n);
    src->pos += n;
    return int(n);
}

std::string GifErrorText(int code) {
    const char *text = GifErrorString(code);
    return std::string("GIF: ") + (text ? text : "cannot read the file");
}

}  // namespace

bool DecodeGif(ByteSpan data, PageImage &image) {
    if (data.size() < 6 || std::memcmp(data.data(), "GIF8", 4) != 0)
        return Fail(image, "GIF: not a GIF file");
    GifSource source{data, 0};
    int error = 0;
    GifFileType *gif = DGifOpen(&source, GifRead, &error);
    if (!gif)
        return Fail(image, GifErrorText(error));
    std::unique_ptr<GifFileType, void (*)(GifFileType *)> guard(gif, [](GifFileType *g) {
        int e = 0;
        DGifCloseFile(g, &e);
    });
    const uint32_t sw = uint32_t(std::max(gif->SWidth, 0)), sh = uint32_t(std::max(gif->SHeight, 0));
    if (sw == 0 || sh == 0)
        return Fail(image, "GIF: bad screen size");
    if (!WithinPageImageLimit(sw, sh, 24))
        return Fail(image, "PAGEIMAGE_MAX_MEMORY exceeded");

    // Frames are drawn onto a canvas of RGBA; transparency ends up white.
    const int target = image.FrameIndex();
    std::vector<uint8_t> canvas(size_t(sw) * sh * 4, 0), previous, result;
    int frames = 0;
    int disposal = 0, transparent = -1;
    std::vector<GifPixelType> line;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR)
            return Fail(image, GifErrorText(gif->Error));
        if (record == TERMINATE_RECORD_TYPE)
            break;
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType *ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR)
                return Fail(image, GifErrorText(gif->Error));
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                DGifExtensionToGCB(ext[0], ext + 1, &gcb);
                disposal = gcb.DisposalMode;
                transparent = gcb.TransparentColor;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR)
                    return Fail(image, GifErrorText(gif->Error));
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            return Fail(image, GifErrorText(gif->Error));
        const GifImageDesc &d = gif->Image;
        const ColorMapObject *map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (d.Width <= 0 || d.Height <= 0 || !WithinPageImageLimit(uint32_t(d.Width), uint32_t(d.Height), 8))
            return Fail(image, "GIF: bad frame size");
        if (frames <= target) {
            if (disposal == DISPOSE_PREVIOUS)
                previous = canvas;
            line.resize(size_t(d.Width));
            static const int offsets[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
            const int passes = d.Interlace ? 4 : 1;
            for (int pass = 0; pass < passes; ++pass) {
                for (int y = d.Interlace ? offsets[pass] : 0; y < d.Height; y += d.Interlace ? steps[pass] : 1) {
                    if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR)
                        return Fail(image, GifErrorText(gif->Error));
                    const int cy = d.Top + y;
                    if (cy < 0 || uint32_t(cy) >= sh)
                        continue;
                    for (int x = 0; x < d.Width; ++x) {
                        const int cx = d.Left + x;
                        const int index = line[size_t(x)];
                        if (cx < 0 || uint32_t(cx) >= sw || index == transparent)
                            continue;
                        uint8_t *px = &canvas[(size_t(cy) * sw + size_t(cx)) * 4];
                        if (map && index < map->ColorCount) {
                            px[0] = map->Colors[index].Red;
                            px[1] = map->Colors[index].Green;
                            px[2] = map->Colors[index].Blue;
                        } else {
                            px[0] = px[1] = px[2] = 0;
                        }
                        px[3] = 255;
                    }
                }
            }
            if (frames == target)
                result = canvas;
            // What the frame leaves behind for the next one.
            if (disposal == DISPOSE_BACKGROUND) {
                for (int y = std::max(0, d.Top); y < std::min<int>(int(sh), d.Top + d.Height); ++y)
                    for (int x = std::max(0, d.Left); x < std::min<int>(int(sw), d.Left + d.Width); ++x)
                        std::memset(&canvas[(size_t(y) * sw + size_t(x)) * 4], 0, 4);
            } else if (disposal == DISPOSE_PREVIOUS && !previous.empty()) {
                canvas.swap(previous);
            }
        } else {
            // Skip the frame's data without decoding it.
            int size = 0;
            GifByteType *block = nullptr;
            if (DGifGetCode(gif, &size, &block) == GIF_ERROR)
                return Fail(image, GifErrorText(gif->Error));
            while (block)
                if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
                    return Fail(image, GifErrorText(gif->Error));
        }
        ++frames;
        disposal = 0;
        transparent = -1;
    }
    if (!CheckFrame(image, std::max(frames, 1), "GIF"))
        return false;
    if (result.empty())
        return Fail(image, "GIF: the file has no pictures");
    if (!image.Allocate(sw, sh, 24, kFormatGif))
        return false;
    for (uint32_t y = 0; y < sh; ++y)
        PutRgbRow(image, y, &result[size_t(y) * sw * 4], 4);
    return true;
}

// ---------------------------------------------------------------- JPEG 2000

namespace {

struct OpjSource {
    ByteSpan data;
    size_t pos = 0;
};

OPJ_SIZE_T OpjRead(void *buffer, OPJ_SIZE_T n, void *user) {
    auto *s = static_cast<OpjSource *>(user);
    if (s->pos >= s->data.size())
        return OPJ_SIZE_T(-1);
    n = std::min<OPJ_SIZE_T>(n, s->data.size() - s->pos);
    std::memcpy(buffer, s->data.data() + s->pos, n);
    s->pos += n;
    return n;
}
OPJ_OFF_T OpjSkip(OPJ_OFF_T n, void *user) {
    auto *s = static_cast<OpjSource *>(user);
    if (n < 0 && size_t(-n) > s->pos)
        n = -OPJ_OFF_T(s->pos);
    if (n > 0 && size_t(n) > s->data.size() - s->pos)
        n = OPJ_OFF_T(s->data.size() - s->pos);
    s->pos = size_t(OPJ_OFF_T(s->pos) + n);
    return n;
}
OPJ_BOOL OpjSeek(OPJ_OFF_T n, void *user) {
    auto *s = static_cast<OpjSource *>(user);
    if (n < 0 || size_t(n) > s->data.size())
        return OPJ_FALSE;
    s->pos = size_t(n);
    return OPJ_TRUE;
}
void OpjQuiet(const char *, void *) {}

void OpjMessage(const char *msg, void *user) {
    auto *text = static_cast<std::string *>(user);
    if (text->empty())
        *text = msg;
    while (!text->empty() && (text->back() == '\n'))
        text->pop_back();
}

}  // namespace

bool DecodeJpeg2000(ByteSpan data, PageImage &image) {
    static const uint8_t jp2Signature[12] = {0, 0, 0, 0x0c, 'j', 'P', ' ', ' ', 0x0d, 0x0a, 0x87, 0x0a};
    OPJ_CODEC_FORMAT codecFormat;
    int code;
    if (data.size() >= 12 && std::memcmp(data.data(), jp2Signature, 12) == 0) {
        codecFormat = OPJ_CODEC_JP2;
        code = kFormatJp2;
    } else if (data.size() >= 4 && data[0] == 0xff && data[1] == 0x4f && data[2] == 0xff && data[3] == 0x51) {
        codecFormat = OPJ_CODEC_J2K;
        code = kFormatJpc;
    } else {
        return Fail(image, "JPEG 2000: not a JPEG 2000 file");
    }
    if (!CheckFrame(image, 1, "JPEG 2000"))
        return false;

    OpjSource source{data, 0};
    opj_stream_t *stream = opj_stream_create(65536, OPJ_TRUE);
    opj_stream_set_user_data(stream, &source, nullptr);
    opj_stream_set_user_data_length(stream, data.size());
    opj_stream_set_read_function(stream, OpjRead);
    opj_stream_set_skip_function(stream, OpjSkip);
    opj_stream_set_seek_function(stream, OpjSeek);
    opj_codec_t *codec = opj_create_decompress(codecFormat);
    std::string error;
    opj_set_info_handler(codec, OpjQuiet, nullptr);
    opj_set_warning_handler(codec, OpjQuiet, nullptr);
    opj_set_error_handler(codec, OpjMessage, &error);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_image_t *img = nullptr;
    auto finish = [&](bool ok, const std::string &text) {
        if (img)
            opj_image_destroy(img);
        opj_destroy_codec(codec);
        opj_stream_destroy(stream);
        if (!ok) {
            image.Clear();
            return Fail(image, text);
        }
        return true;
    };
    // A cut-off code stream is an error, not a picture of lower quality.
    if (!opj_setup_decoder(codec, &params) || !opj_decoder_set_strict_mode(codec, OPJ_TRUE) ||
        !opj_read_header(stream, codec, &img) || !img)
        return finish(false, "JPEG 2000: " + (error.empty() ? std::string("cannot read the header") : error));
    const uint32_t w = img->x1 - img->x0, h = img->y1 - img->y0;
    if (img->x1 <= img->x0 || img->y1 <= img->y0 || img->numcomps == 0)
        return finish(false, "JPEG 2000: bad dimensions");
    if (!WithinPageImageLimit(w, h, 24))
        return finish(false, "PAGEIMAGE_MAX_MEMORY exceeded");
    if (!opj_decode(codec, stream, img) || !opj_end_decompress(codec, stream))
        return finish(false, "JPEG 2000: " + (error.empty() ? std::string("cannot decode the picture") : error));

    const uint32_t n = img->numcomps;
    const bool colour = n >= 3;
    const bool alpha = n == 2 || n >= 4;
    for (uint32_t c = 0; c < std::min<uint32_t>(n, 4); ++c) {
        const opj_image_comp_t &comp = img->comps[c];
        if (!comp.data || comp.dx == 0 || comp.dy == 0 || comp.prec == 0 || comp.prec > 31 ||
            comp.w < (w + comp.dx - 1) / comp.dx || comp.h < (h + comp.dy - 1) / comp.dy)
            return finish(false, "JPEG 2000: unsupported component layout");
    }
    if (!image.Allocate(w, h, colour || alpha ? 24 : 8, code))
        return finish(false, "");
    if (!(colour || alpha))
        SetGreyPalette(image);
    auto sample = [&](uint32_t c, uint32_t x, uint32_t y) -> uint32_t {
        const opj_image_comp_t &comp = img->comps[c];
        int64_t v = comp.data[size_t(y / comp.dy) * comp.w + x / comp.dx];
        if (comp.sgnd)
            v += int64_t(1) << (comp.prec - 1);
        v = std::clamp<int64_t>(v, 0, (int64_t(1) << comp.prec) - 1);
        return comp.prec >= 8 ? uint32_t(v >> (comp.prec - 8)) : uint32_t(v * 255 / ((1 << comp.prec) - 1));
    };
    std::vector<uint8_t> rgba(size_t(w) * 4);
    for (uint32_t y = 0; y < h; ++y) {
        if (!(colour || alpha)) {
            uint8_t *dst = image.Row(h - 1 - y);
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = uint8_t(sample(0, x, y));
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *px = &rgba[size_t(x) * 4];
            if (colour) {
                px[0] = uint8_t(sample(0, x, y));
                px[1] = uint8_t(sample(1, x, y));
                px[2] = uint8_t(sample(2, x, y));
            } else {
                px[0] = px[1] = px[2] = uint8_t(sample(0, x, y));
            }
            px[3] = alpha ? uint8_t(sample(colour ? 3 : 1, x, y)) : 255;
        }
        PutRgbRow(image, y, rgba.data(), 4);
    }
    return finish(true, "");
}

// ---------------------------------------------------------------- WebP

bool DecodeWebp(ByteSpan data, PageImage &image) {
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 || std::memcmp(data.data() + 8, "WEBP", 4) != 0)
        return Fail(image, "WebP: not a WebP file");
    if (!CheckFrame(image, 1, "WebP"))
        return false;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK)
        return Fail(image, "WebP: cannot read the header");
    if (features.has_animation)
        return Fail(image, "WebP: animated files are not supported");
    const uint32_t w = uint32_t(features.width), h = uint32_t(features.height);
    if (!image.Allocate(w, h, 24, kFormatWebp))
        return false;
    std::vector<uint8_t> rgba;
    try {
        rgba.resize(size_t(w) * h * 4);
    } catch (const std::bad_alloc &) {
        image.Clear();
        return Fail(image, "PageImage::Allocate can't allocate memory");
    }
    if (!WebPDecodeRGBAInto(data.data(), data.size(), rgba.data(), rgba.size(), int(w) * 4)) {
        image.Clear();
        return Fail(image, "WebP: cannot decode the picture");
    }
    for (uint32_t y = 0; y < h; ++y)
        PutRgbRow(image, y, &rgba[size_t(y) * w * 4], 4);
    return true;
}

// ---------------------------------------------------------------- camera raw

bool DecodeRaw(ByteSpan data, PageImage &image) {
    if (data.size() < 64)
        return Fail(image, "RAW: not a camera raw file");
    libraw_data_t *raw = libraw_init(0);
    if (!raw)
        return Fail(image, "RAW: cannot start the decoder");
    std::unique_ptr<libraw_data_t, void (*)(libraw_data_t *)> guard(raw, libraw_close);
    // LibRaw reports damaged data on standard error unless told otherwise;
    // its return codes say all that is needed.
    libraw_set_dataerror_handler(
        raw, [](void *, const char *, const int) {}, nullptr);
    libraw_set_memerror_handler(
        raw, [](void *, const char *, const char *) {}, nullptr);
    int rc = libraw_open_buffer(raw, const_cast<uint8_t *>(data.data()), data.size());
    if (rc != LIBRAW_SUCCESS)
        return Fail(image, std::string("RAW: ") + libraw_strerror(rc));
    if (!CheckFrame(image, 1, "RAW"))
        return false;
    const uint32_t rw = raw->sizes.raw_width, rh = raw->sizes.raw_height;
    const uint32_t w = raw->sizes.width, h = raw->sizes.height;
    if (!WithinPageImageLimit(std::max(rw, w), std::max(rh, h), 24) || w == 0 || h == 0)
        return Fail(image, "PAGEIMAGE_MAX_MEMORY exceeded");
    if ((rc = libraw_unpack(raw)) != LIBRAW_SUCCESS || (rc = libraw_dcraw_process(raw)) != LIBRAW_SUCCESS)
        return Fail(image, std::string("RAW: ") + libraw_strerror(rc));
    libraw_processed_image_t *out = libraw_dcraw_make_mem_image(raw, &rc);
    if (!out)
        return Fail(image, std::string("RAW: ") + libraw_strerror(rc));
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t *)> outGuard(out,
                                                                                             libraw_dcraw_clear_mem);
    if (out->type != LIBRAW_IMAGE_BITMAP || out->colors != 3 || out->bits != 8 ||
        size_t(out->width) * out->height * 3 > out->data_size)
        return Fail(image, "RAW: unexpected picture layout");
    if (!image.Allocate(out->width, out->height, 24, kFormatRaw))
        return false;
    for (uint32_t y = 0; y < out->height; ++y)
        PutRgbRow(image, y, out->data + size_t(y) * out->width * 3, 3);
    return true;
}

}  // namespace render
