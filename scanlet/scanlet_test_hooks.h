// Test-only controls of scanlet, compiled into the static test build of the
// library (SCANLET_TEST_HOOKS); the shared library never has them.
#pragma once

#include <cstdint>

namespace scanlet::test {

// Replaces the millisecond tick; nullptr restores the system tick.
void SetTickSource(std::uint32_t (*tick)());
// Forgets every camera, as if the library had just been loaded.
void ResetTable();

}  // namespace scanlet::test
