#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "NetProbe.h"

using strevo::ProbeTcpPort;

TEST(ProbeTcpPort, ListeningClosedAndBadAddresses) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);
    EXPECT_EQ(ProbeTcpPort("127.0.0.1", port, 1), 1);
    ::close(fd);

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ProbeTcpPort("127.0.0.1", port, 1), -1);  // nothing listens any more
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(ProbeTcpPort("not an address", port, 1), -1);
    EXPECT_EQ(ProbeTcpPort(nullptr, port, 1), -1);
    EXPECT_EQ(ProbeTcpPort("127.0.0.1", 0, 1), -1);
}
