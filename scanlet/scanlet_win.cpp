// Windows sockets and tick for scanlet.
#include <winsock2.h>
// after winsock2.h, or windows.h brings in the old winsock.h
#include <windows.h>

#include "scanlet_sys.h"

namespace scanlet::sys {

bool StartSockets() {
    // Started once and never cleaned up: the program's own TCP checks rely on
    // Winsock staying up after the library has stopped.
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

Socket OpenBroadcastSocket(std::uint16_t port, int receiveTimeoutMs) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    BOOL on = TRUE;
    DWORD timeout = static_cast<DWORD>(receiveTimeoutMs);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) !=
            0 ||
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                     sizeof timeout) != 0 ||
        ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    // Room for a burst of answers from a large network.
    int rcvbuf = kReceiveBufferBytes;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&rcvbuf), sizeof rcvbuf);
    return static_cast<Socket>(s);
}

bool SendTo(Socket s, const void* data, std::size_t size, std::uint32_t address,
            std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    int n = ::sendto(static_cast<SOCKET>(s), static_cast<const char*>(data), static_cast<int>(size),
                     0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == static_cast<int>(size);
}

int Receive(Socket s, void* buffer, std::size_t capacity) {
    // A datagram longer than the buffer fails with WSAEMSGSIZE, which lands
    // here as SOCKET_ERROR like a time-out.
    int n =
        ::recv(static_cast<SOCKET>(s), static_cast<char*>(buffer), static_cast<int>(capacity), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void Close(Socket s) {
    ::closesocket(static_cast<SOCKET>(s));
}

std::uint32_t Tick() {
    return ::GetTickCount();
}

}  // namespace scanlet::sys
