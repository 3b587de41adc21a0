// Platform layer of scanlet: sockets and the millisecond tick.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scanlet::sys {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;
// Receive buffer asked for: a thousand answers of about 520 bytes, with room to spare.
inline constexpr int kReceiveBufferBytes = 2 * 1024 * 1024;

// Starts the platform's socket library once per process and never stops it.
bool StartSockets();
// IPv4 datagram socket with broadcast enabled and a receive time limit, bound to
// the port on all local addresses. kNoSocket on any failure.
Socket OpenBroadcastSocket(std::uint16_t port, int receiveTimeoutMs);
// Sends one datagram to an IPv4 address (host byte order). False on failure.
bool SendTo(Socket s, const void* data, std::size_t size, std::uint32_t address,
            std::uint16_t port);
// Receives one datagram. Returns its size, or -1 on time-out, error, or a
// datagram longer than capacity.
int Receive(Socket s, void* buffer, std::size_t capacity);
void Close(Socket s);
// Milliseconds of a monotonic counter that wraps at 2^32.
std::uint32_t Tick();

}  // namespace scanlet::sys
