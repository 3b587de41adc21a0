// Windows sockets behind the SDK's connection interface.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "PELION_SDK.h"
#include "PelionSocket.h"

namespace pelion {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

int32_t WaitReady(SOCKET s, short events, int timeoutMs) {
    WSAPOLLFD p{s, events, 0};
    int n = WSAPoll(&p, 1, timeoutMs);
    if (n > 0)
        return 0;
    return n == 0 ? PELION_ERR_TIMEOUT : PELION_ERR_NETWORK;
}

}  // namespace

TcpConnection::~TcpConnection() {
    Close();
}

int32_t TcpConnection::Connect(const char* ipv4, uint16_t port, int timeoutMs) {
    Close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, ipv4, &addr.sin_addr) != 1)
        return PELION_ERR_BAD_ARGUMENT;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return PELION_ERR_NO_RESOURCES;
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    int32_t result = 0;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            result = WSAGetLastError() == WSAECONNREFUSED ? PELION_ERR_REFUSED : PELION_ERR_NETWORK;
        } else {
            // A refused connect shows up as an error on the socket, not as writability.
            WSAPOLLFD p{s, POLLOUT, 0};
            int n = WSAPoll(&p, 1, timeoutMs);
            if (n == 0) {
                result = PELION_ERR_CONNECT_TIMEOUT;
            } else if (n < 0 || (p.revents & (POLLERR | POLLHUP))) {
                int err = 0;
                int len = sizeof err;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
                result = err == WSAECONNREFUSED ? PELION_ERR_REFUSED : PELION_ERR_NETWORK;
            }
        }
    }
    if (result != 0) {
        ::closesocket(s);
        return result;
    }
    fd_ = static_cast<intptr_t>(s);
    seams::NoteOpened();
    return 0;
}

int32_t TcpConnection::SendAll(const void* data, size_t length, int timeoutMs) {
    intptr_t fd = fd_.load();
    if (fd < 0)
        return PELION_ERR_NETWORK;
    SOCKET s = static_cast<SOCKET>(fd);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto p = static_cast<const char*>(data);
    while (length > 0) {
        int chunk = length > 1 << 30 ? 1 << 30 : static_cast<int>(length);
        int n = ::send(s, p, chunk, 0);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            int32_t r = WaitReady(s, POLLOUT, RemainingMs(deadline));
            if (r != 0)
                return r;
            continue;
        }
        return PELION_ERR_NETWORK;
    }
    return 0;
}

int32_t TcpConnection::RecvAll(void* data, size_t length, int timeoutMs) {
    intptr_t fd = fd_.load();
    if (fd < 0)
        return PELION_ERR_NETWORK;
    SOCKET s = static_cast<SOCKET>(fd);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    auto p = static_cast<char*>(data);
    while (length > 0) {
        int chunk = length > 1 << 30 ? 1 << 30 : static_cast<int>(length);
        int n = ::recv(s, p, chunk, 0);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return PELION_ERR_NETWORK;
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return PELION_ERR_NETWORK;
        int32_t r = WaitReady(s, POLLRDNORM, timeoutMs < 0 ? -1 : RemainingMs(deadline));
        if (r != 0)
            return r;
    }
    return 0;
}

void TcpConnection::Shutdown() {
    if (auto hook = seams::beforeShutdown.load())
        hook();
    intptr_t fd = fd_.load();
    if (fd >= 0)
        ::shutdown(static_cast<SOCKET>(fd), SD_BOTH);
}

void TcpConnection::Close() {
    intptr_t fd = fd_.exchange(-1);
    if (fd >= 0) {
        ::closesocket(static_cast<SOCKET>(fd));
        seams::NoteClosed();
    }
}

int32_t SocketsStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : PELION_ERR_NO_RESOURCES;
}

void SocketsCleanup() {
    WSACleanup();
}

}  // namespace pelion
