#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "NetProbe.h"

namespace strevo {

int ProbeTcpPort(const char* ip, int port, int timeoutSec) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (!ip || port <= 0 || port > 65535 || inet_pton(AF_INET, ip, &addr.sin_addr) != 1)
        return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int result = -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        result = 1;
    } else if (errno == EINPROGRESS && fd < FD_SETSIZE) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(fd, &writable);
        timeval tv{timeoutSec > 0 ? timeoutSec : 0, 0};
        int rc;
        do {
            rc = ::select(fd + 1, nullptr, &writable, nullptr, &tv);
        } while (rc < 0 && errno == EINTR);
        if (rc > 0) {
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
                result = 1;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace strevo
