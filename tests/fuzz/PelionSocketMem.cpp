// The SDK's connection layer over in-memory scripts (MemNet.h), in place of
// the platform's sockets (PelionSocket_<os>.cpp).
#include <arpa/inet.h>

#include "MemNet.h"
#include "PELION_SDK.h"
#include "PelionSocket.h"

namespace pelion {
namespace memnet = fuzz::memnet;

TcpConnection::~TcpConnection() {
    Close();
}

int32_t TcpConnection::Connect(const char* ipv4, uint16_t, int) {
    Close();
    in_addr addr;
    if (inet_pton(AF_INET, ipv4, &addr) != 1)
        return PELION_ERR_BAD_ARGUMENT;
    int fd = memnet::Connect();
    if (fd < 0)
        return PELION_ERR_REFUSED;
    fd_ = fd;
    seams::NoteOpened();
    return 0;
}

int32_t TcpConnection::SendAll(const void* data, size_t length, int) {
    return memnet::Send(static_cast<int>(fd_.load()), data, length) ? 0 : PELION_ERR_NETWORK;
}

int32_t TcpConnection::RecvAll(void* data, size_t length, int) {
    switch (memnet::Recv(static_cast<int>(fd_.load()), data, length)) {
        case memnet::Io::kOk:
            return 0;
        case memnet::Io::kSilent:
            return PELION_ERR_TIMEOUT;
        default:
            return PELION_ERR_NETWORK;
    }
}

void TcpConnection::Shutdown() {
    if (auto hook = seams::beforeShutdown.load())
        hook();
    memnet::Shutdown(static_cast<int>(fd_.load()));
}

void TcpConnection::Close() {
    intptr_t fd = fd_.exchange(-1);
    if (fd < 0)
        return;
    memnet::Close(static_cast<int>(fd));
    seams::NoteClosed();
}

int32_t SocketsStartup() {
    return 0;
}
void SocketsCleanup() {}

}  // namespace pelion
