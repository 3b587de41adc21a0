#include "ProcessMemory.h"

namespace strevo {

// The Windows heap needs neither: it decommits freed blocks itself.
void TuneAllocator() {}

void ReleaseFreeMemory() {}

}  // namespace strevo
