// The HID link's request line as a raw client sees it: every refusal is one
// line and then the end of the connection, at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "UsbSim.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

class RawLink {
  public:
    explicit RawLink(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawLink() { ::close(fd_); }
    bool Connected() const { return connected_; }
    bool Send(const std::string& s) {
        return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
    }
    // What the server sends until it closes or `want` bytes have come;
    // *closed false when it neither sent more nor closed for 5 s.
    std::string Read(bool* closed, size_t want = SIZE_MAX) {
        std::string got;
        *closed = false;
        while (got.size() < want) {
            pollfd p{fd_, POLLIN, 0};
            int ready = ::poll(&p, 1, 5000);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return got;
            char chunk[512];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                *closed = true;
                return got;
            }
            got.append(chunk, static_cast<size_t>(n));
        }
        return got;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

TEST(UsbLink, RefusedRequestLinesGetOneLineAndTheClose) {
    UsbSimServer server;
    UsbCamera cam;
    cam.name = "link";
    int port = server.Start({cam});
    ASSERT_GT(port, 0);

    RawLink holder(port);
    ASSERT_TRUE(holder.Connected());
    ASSERT_TRUE(holder.Send("OPEN camsim-usb-0\n"));
    bool closed = false;
    ASSERT_EQ(holder.Read(&closed, 3), "OK\n");

    const struct {
        std::string line, answer;
    } cases[] = {
        {"HELLO\n", "ERR unknown request\n"},
        {"OPEN camsim-usb-7\n", "ERR no such device\n"},
        {"OPEN camsim-usb-0\n", "ERR busy\n"},
        {std::string(5000, 'x'), "ERR request line too long\n"},  // no line feed ever
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20));
        RawLink link(port);
        ASSERT_TRUE(link.Connected());
        ASSERT_TRUE(link.Send(c.line));
        auto t0 = Clock::now();
        EXPECT_EQ(link.Read(&closed), c.answer);
        EXPECT_TRUE(closed);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    }
}

}  // namespace
}  // namespace camsim
