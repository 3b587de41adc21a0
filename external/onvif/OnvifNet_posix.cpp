#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "OnvifNet.h"

namespace onvif::net {

namespace {

bool ToAddr(const std::string& host, int port, sockaddr_in* a) {
    std::memset(a, 0, sizeof *a);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    if (host.empty()) {
        a->sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, host.c_str(), &a->sin_addr) == 1;
}

}  // namespace

bool TcpReachable(const std::string& host, int port, int limitMs) {
    sockaddr_in a;
    if (!ToAddr(host, port, &a) || host.empty())
        return false;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, limitMs) == 1) {
            int err = 0;
            socklen_t len = sizeof err;
            ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    close(fd);
    return ok;
}

Udp::~Udp() {
    Close();
}

void Udp::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool Udp::Open(const std::string& address, int port, bool reuse) {
    Close();
    sockaddr_in a;
    if (!ToAddr(address, port, &a))
        return false;
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    const int on = 1;
    if (reuse)
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Room for a burst of answers from many cameras at once.
    const int buffer = 4 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        Close();
        return false;
    }
    return true;
}

bool Udp::Join(const std::string& group, const std::string& interfaceAddress) {
    ip_mreq m{};
    if (inet_pton(AF_INET, group.c_str(), &m.imr_multiaddr) != 1 ||
        inet_pton(AF_INET, interfaceAddress.c_str(), &m.imr_interface) != 1)
        return false;
    return setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
}

bool Udp::SetMulticastInterface(const std::string& interfaceAddress) {
    in_addr a{};
    if (inet_pton(AF_INET, interfaceAddress.c_str(), &a) != 1)
        return false;
    const unsigned char loop = 1;
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    return setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) == 0;
}

bool Udp::SendTo(const std::string& data, const std::string& host, int port) {
    sockaddr_in a;
    if (fd_ < 0 || !ToAddr(host, port, &a) || host.empty())
        return false;
    return sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(data.size());
}

int Udp::WaitAny(const Udp* const* sockets, int count, int waitMs) {
    std::vector<pollfd> fds;
    for (int i = 0; i < count; ++i) fds.push_back({sockets[i]->fd_, POLLIN, 0});
    if (poll(fds.data(), fds.size(), waitMs) <= 0)
        return -1;
    for (int i = 0; i < count; ++i)
        if (fds[static_cast<size_t>(i)].revents & POLLIN)
            return i;
    return -1;
}

bool Udp::Receive(std::string* data, std::string* fromHost, int* fromPort, int waitMs) {
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, waitMs < 0 ? 0 : waitMs) != 1)
        return false;
    char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return false;
    data->assign(buf, static_cast<size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    if (fromHost)
        *fromHost = text;
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return true;
}

}  // namespace onvif::net
