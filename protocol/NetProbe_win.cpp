// Winsock is started by the discovery library for the whole process.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "NetProbe.h"

namespace strevo {

int ProbeTcpPort(const char* ip, int port, int timeoutSec) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    if (!ip || port <= 0 || port > 65535 || inet_pton(AF_INET, ip, &addr.sin_addr) != 1)
        return -1;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return -1;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int result = -1;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        result = 1;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
        // A refused connect is reported in the exception set, not as writable:
        // without it a refusal would wait out the whole time limit.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        FD_ZERO(&failed);
        FD_SET(s, &failed);
        timeval tv{timeoutSec > 0 ? timeoutSec : 0, 0};
        if (::select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable)) {
            int err = 0;
            int len = sizeof err;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 &&
                err == 0)
                result = 1;
        }
    }
    closesocket(s);
    return result;
}

}  // namespace strevo
