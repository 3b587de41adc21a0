#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

// Waits for the socket to become ready; 0, PELION_ERR_TIMEOUT or PELION_ERR_NETWORK.
int32_t WaitReady(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int n = ::poll(&p, 1, timeoutMs);
        if (n > 0)
            return 0;  // readiness or error: the next call tells which
        if (n == 0)
            return PELION_ERR_TIMEOUT;
        if (errno != EINTR)
            return PELION_ERR_NETWORK;
    }
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

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return PELION_ERR_NO_RESOURCES;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // commands are small
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    int32_t result = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == EINPROGRESS) {
            result = WaitReady(fd, POLLOUT, timeoutMs);
            if (result == PELION_ERR_TIMEOUT)
                result = PELION_ERR_CONNECT_TIMEOUT;
            if (result == 0) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == ECONNREFUSED)
                    result = PELION_ERR_REFUSED;
                else if (err != 0)
                    result = PELION_ERR_NETWORK;
            }
        } else {
            result = errno == ECONNREFUSED ? PELION_ERR_REFUSED : PELION_ERR_NETWORK;
        }
    }
    if (result != 0) {
        ::close(fd);
        return result;
    }
    fd_ = fd;
    seams::NoteOpened();
    return 0;
}

int32_t TcpConnection::SendAll(const void* data, size_t length, int timeoutMs) {
    int fd = static_cast<int>(fd_.load());
    if (fd < 0)
        return PELION_ERR_NETWORK;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int32_t r = WaitReady(fd, POLLOUT, RemainingMs(deadline));
            if (r != 0)
                return r;
            continue;
        }
        return PELION_ERR_NETWORK;
    }
    return 0;
}

int32_t TcpConnection::RecvAll(void* data, size_t length, int timeoutMs) {
    int fd = static_cast<int>(fd_.load());
    if (fd < 0)
        return PELION_ERR_NETWORK;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    auto p = static_cast<char*>(data);
    while (length > 0) {
        ssize_t n = ::recv(fd, p, length, 0);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return PELION_ERR_NETWORK;  // closed by the peer or shut down
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            int32_t r = WaitReady(fd, POLLIN, timeoutMs < 0 ? -1 : RemainingMs(deadline));
            if (r != 0)
                return r;
            continue;
        }
        return PELION_ERR_NETWORK;
    }
    return 0;
}

void TcpConnection::Shutdown() {
    if (auto hook = seams::beforeShutdown.load())
        hook();
    int fd = static_cast<int>(fd_.load());
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);  // wakes poll() in other threads; close would not
}

void TcpConnection::Close() {
    intptr_t fd = fd_.exchange(-1);
    if (fd >= 0) {
        ::close(static_cast<int>(fd));
        seams::NoteClosed();
    }
}

int32_t SocketsStartup() {
    return 0;
}
void SocketsCleanup() {}

}  // namespace pelion
