#include <cstdlib>  // defines __GLIBC__ where it applies

#include "ProcessMemory.h"
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace strevo {

void TuneAllocator() {
#if defined(__GLIBC__)
    // Live preview keeps megabyte-sized buffers (decoded pictures and their tables,
    // key frames). By default glibc raises its mmap threshold each time such a block
    // is freed, so later ones come from the arenas, and what they free there stays
    // resident (after closing four 1080p previews, about 40 MB). A fixed threshold
    // keeps large blocks in mappings of their own, returned as soon as they are freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Decode and network threads would otherwise get an arena each (up to eight per
    // core), each with its own slack; two are enough for their small blocks.
    mallopt(M_ARENA_MAX, 2);
#endif
}

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace strevo
