#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "NetSimSocket.h"

namespace camsim::netio {
namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool PollOne(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int n = ::poll(&p, 1, timeoutMs);
        if (n >= 0)
            return n > 0;
        if (errno != EINTR)
            return true;  // let the next call report the error
    }
}

}  // namespace

std::string LocalTimeText() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &tm);
    return text;
}

void RaiseFileLimit() {
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
    }
}

int Listen(const std::string& address, uint16_t port, std::string* error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        *error = "bad address " + address;
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A full queue drops new connections until the next retry a second later:
    // reachability probes in quick succession must not fill it while the one
    // acceptor thread waits for a core.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        *error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

int Accept(int listener) {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return -1;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

Io RecvAll(int fd, void* data, size_t length, int timeoutMs) {
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
            return Io::kClosed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::kClosed;
        if (!PollOne(fd, POLLIN, timeoutMs < 0 ? -1 : Remaining(deadline)))
            return Io::kTimeout;
    }
    return Io::kOk;
}

bool SendAll(int fd, const void* data, size_t length, int timeoutMs) {
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
            if (!PollOne(fd, POLLOUT, Remaining(deadline)))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

bool WaitReadable(int fd, int timeoutMs) {
    return PollOne(fd, POLLIN, timeoutMs);
}

bool PeerClosed(int fd) {
    char sink[512];
    for (;;) {
        ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

void Shutdown(int fd) {
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

void Close(int fd) {
    if (fd >= 0)
        ::close(fd);
}

ListenerPoll::ListenerPoll() {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1;
}

ListenerPoll::~ListenerPoll() {
    Close(pipe_[0]);
    Close(pipe_[1]);
}

void ListenerPoll::Wake() {
    char c = 1;
    if (pipe_[1] >= 0)
        (void)!::write(pipe_[1], &c, 1);
}

std::vector<size_t> ListenerPoll::Wait(const std::vector<int>& listeners, int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(listeners.size() + 1);
    fds.push_back({pipe_[0], POLLIN, 0});
    for (int fd : listeners) fds.push_back({fd, POLLIN, 0});
    std::vector<size_t> ready;
    int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0)
        return ready;
    if (fds[0].revents) {
        char sink[64];
        while (::read(pipe_[0], sink, sizeof sink) > 0) {
        }
    }
    for (size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents)
            ready.push_back(i - 1);
    return ready;
}

}  // namespace camsim::netio
