// Allocator settings for the program's process, applied at start.
#pragma once

namespace strevo {

// Call first thing in main(), before any thread starts.
void ApplyMemorySettings();

}  // namespace strevo
