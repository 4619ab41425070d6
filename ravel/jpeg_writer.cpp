#include "ravel/jpeg_writer.h"

#include <csetjmp>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
}

namespace ravel {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void Quiet(j_common_ptr) {}

// Kept apart from WriteJpeg so that no object with a destructor lives in the
// frame that setjmp returns to.
bool Encode(std::FILE *file, const unsigned char *rgb, int width, int height, std::size_t stride) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.output_message = Quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + std::size_t(cinfo.next_scanline) * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool WriteJpeg(const char *path, const unsigned char *rgb, int width, int height, std::size_t stride) {
    if (!path || !rgb || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return false;
    // Written only into a file of its own: a link planted at the name is
    // not followed, and a new file is readable by its owner alone.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::FILE *file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        return false;
    }
    bool ok = Encode(file, rgb, width, height, stride);
    if (std::fflush(file) != 0)
        ok = false;
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok)
        std::remove(path);
    return ok;
}

}  // namespace ravel
