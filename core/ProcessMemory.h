// How the program's process uses memory: allocator settings and giving freed
// memory back to the system.
#pragma once

namespace strevo {

// First thing in main(), before any thread starts.
void TuneAllocator();

// Returns memory the allocator holds free to the system; for after large
// buffers were released (a preview closed). Takes well under a millisecond.
void ReleaseFreeMemory();

}  // namespace strevo
