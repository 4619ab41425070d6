#ifndef RAVEL_JPEG_WRITER_H
#define RAVEL_JPEG_WRITER_H

#include <cstddef>

namespace ravel {

// Writes top-down RGB rows (`stride` bytes apart) as a baseline JPEG file.
// On failure nothing is left at `path` and false is returned.
bool WriteJpeg(const char *path, const unsigned char *rgb, int width, int height, std::size_t stride);

}  // namespace ravel

#endif
