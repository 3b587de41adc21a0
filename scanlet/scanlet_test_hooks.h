// Test-only controls of scanlet, compiled into the static test build of the
// library (SCANLET_TEST_HOOKS); the shared library never has them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scanlet::test {

// Replaces the millisecond tick; nullptr restores the system tick.
void SetTickSource(std::uint32_t (*tick)());
// Hands one datagram to the library as if the receive thread had just taken
// it from the socket; no socket is involved.
void Deliver(const void* data, std::size_t size);
// Forgets every camera, as if the library had just been loaded.
void ResetTable();

}  // namespace scanlet::test
