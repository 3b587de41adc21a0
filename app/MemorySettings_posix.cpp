#include <cstdlib>  // defines __GLIBC__ where it applies

#include "MemorySettings.h"
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace strevo {

void ApplyMemorySettings() {
#if defined(__GLIBC__)
    // Live preview keeps megabyte-sized buffers (decoded pictures, their tables, key
    // frames). By default glibc raises its mmap threshold each time such a block is
    // freed, so later ones come from the arenas and what they free there stays
    // resident. A fixed threshold keeps large blocks in their own mappings, returned
    // to the system as soon as they are freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Decode and network threads would otherwise get an arena each (up to eight per
    // core), every one with its own slack; two are enough for their small blocks.
    mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace strevo
