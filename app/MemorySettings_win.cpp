#include "MemorySettings.h"

namespace strevo {

// The Windows heap needs no tuning here.
void ApplyMemorySettings() {}

}  // namespace strevo
