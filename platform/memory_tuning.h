#ifndef PLATFORM_MEMORY_TUNING_H
#define PLATFORM_MEMORY_TUNING_H

namespace platform {

// Keeps freed blocks of page-picture size for reuse instead of handing
// each back to the system: every page shown allocates pictures of several
// megabytes, and fresh memory costs a page fault per 4 KiB.
void KeepLargeBlocksForReuse();

}  // namespace platform

#endif
