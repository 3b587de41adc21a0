// POSIX sockets and tick for scanlet.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "scanlet_sys.h"

namespace scanlet::sys {

bool StartSockets() {
    return true;
}

Socket OpenBroadcastSocket(std::uint16_t port, int receiveTimeoutMs) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return kNoSocket;
    int on = 1;
    timeval tv{};
    tv.tv_sec = receiveTimeoutMs / 1000;
    tv.tv_usec = (receiveTimeoutMs % 1000) * 1000;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    // Room for a burst of answers from a large network (about 160 fit in the
    // default buffer); the system may grant less, which is fine.
    int rcvbuf = kReceiveBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    return fd;
}

bool SendTo(Socket s, const void* data, std::size_t size, std::uint32_t address,
            std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    ssize_t n =
        ::sendto(static_cast<int>(s), data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == static_cast<ssize_t>(size);
}

int Receive(Socket s, void* buffer, std::size_t capacity) {
    // MSG_TRUNC makes recv report the datagram's real length, so an oversized
    // one is recognised and refused like on Windows.
    ssize_t n = ::recv(static_cast<int>(s), buffer, capacity, MSG_TRUNC);
    if (n < 0 || static_cast<std::size_t>(n) > capacity)
        return -1;
    return static_cast<int>(n);
}

void Close(Socket s) {
    ::close(static_cast<int>(s));
}

std::uint32_t Tick() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
              static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

}  // namespace scanlet::sys
