#include "platform/memory_tuning.h"

#include <malloc.h>

namespace platform {

void KeepLargeBlocksForReuse() {
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
}

}  // namespace platform
