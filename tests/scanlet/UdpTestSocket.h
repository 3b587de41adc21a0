// Small UDP helpers for the discovery tests (run inside the private namespace).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace scanlet_test {

inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t GetLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// A search answer: prefix bytes (magic and prefix length first), then the
// 502-byte record with the answer code and the given texts.
inline std::vector<uint8_t> MakeAnswer(const std::string& identity, const std::string& address,
                                       int prefix = 12, uint32_t code = 40002117) {
    std::vector<uint8_t> d(static_cast<size_t>(prefix) + 502, 0);
    PutLe32(d.data(), 0x48585847);
    PutLe32(d.data() + 4, static_cast<uint32_t>(prefix));
    uint8_t* r = d.data() + prefix;
    PutLe32(r + 8, code);
    std::memcpy(r + 57, identity.data(), identity.size());
    std::memcpy(r + 255, address.data(), address.size());
    std::memcpy(r + 16, "TV-TEST", 7);
    return d;
}

class UdpSocket {
  public:
    // Binds to the port on all addresses (0: any port). Check Ok().
    explicit UdpSocket(uint16_t port = 0, bool reuse = false) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (reuse)
            setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~UdpSocket() {
        if (fd_ >= 0)
            close(fd_);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Ok() const { return fd_ >= 0; }

    bool SendTo(const std::vector<uint8_t>& d, const char* address, uint16_t port) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address, &to.sin_addr);
        return sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(d.size());
    }

    // One datagram within timeoutMs, or false. from gets the sender.
    bool Receive(std::vector<uint8_t>* d, int timeoutMs, sockaddr_in* from = nullptr) const {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return false;
        d->assign(2048, 0);
        sockaddr_in f{};
        socklen_t len = sizeof f;
        ssize_t n = recvfrom(fd_, d->data(), d->size(), 0, reinterpret_cast<sockaddr*>(&f), &len);
        if (n < 0)
            return false;
        d->resize(static_cast<size_t>(n));
        if (from)
            *from = f;
        return true;
    }

  private:
    int fd_ = -1;
};

// Polls cond every 10 ms until it holds or timeoutMs passes.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

}  // namespace scanlet_test
