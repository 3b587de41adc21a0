// A plain TCP client for the harnesses that talk to a loopback server inside
// the private network namespace: sends, reads with a time limit, and closes
// with a reset so no TIME_WAIT pile-up limits how many connections a long run
// may make.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace fuzz {

class LoopbackClient {
  public:
    explicit LoopbackClient(int port, const char* address = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET, address, &a.sin_addr) != 1 ||
            (ntohl(a.sin_addr.s_addr) >> 24) != 127) {
            ::close(fd_);
            fd_ = -1;  // loopback only
        }
        if (fd_ >= 0 && !Connect(a)) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0) {
            int one = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            linger l{1, 0};
            setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
    }
    ~LoopbackClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool Ok() const { return fd_ >= 0; }

    bool Send(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }

    // Appends what arrives to *buf until it holds want bytes. 1 done, 0 the
    // server closed first, -1 nothing for timeoutMs.
    int ReadUntil(std::string* buf, size_t want, int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buf->size() < want) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                return -1;
            // libFuzzer's timer (SIGALRM) interrupts a wait now and then: that
            // is not the server's silence, so wait again.
            pollfd p{fd_, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
            char chunk[4096];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return 0;
            buf->append(chunk, static_cast<size_t>(n));
        }
        return 1;
    }

  private:
    // A connect interrupted by a signal goes on by itself; wait for its end.
    bool Connect(const sockaddr_in& a) {
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
            return true;
        if (errno != EINTR)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        int ready;
        do ready = ::poll(&p, 1, 20000);
        while (ready < 0 && errno == EINTR);
        int err = 0;
        socklen_t len = sizeof err;
        return ready > 0 && getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }

    int fd_ = -1;
};

}  // namespace fuzz
