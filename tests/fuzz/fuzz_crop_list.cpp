// libFuzzer target: the crop tool's reader of crop lists.
#include "quorrel/crop_list.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    quorrel::CropList list;
    std::string error;
    quorrel::ParseCropList(in, list, error);
    return 0;
}
