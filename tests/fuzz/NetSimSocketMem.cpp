// camsim's socket calls over in-memory scripts (MemNet.h), in place of
// NetSimSocket_<os>.cpp: the harness offers connections to the listeners.
#include "MemNet.h"
#include "NetSimSocket.h"

namespace camsim::netio {
namespace memnet = fuzz::memnet;

std::string LocalTimeText() {
    return "12:00:00";
}

void RaiseFileLimit() {}

int Listen(const std::string&, uint16_t, std::string*) {
    return memnet::Listen();
}

int Accept(int listener) {
    return memnet::Accept(listener);
}

Io RecvAll(int fd, void* data, size_t length, int) {
    switch (memnet::Recv(fd, data, length)) {
        case memnet::Io::kOk:
            return Io::kOk;
        case memnet::Io::kSilent:
            return Io::kTimeout;
        default:
            return Io::kClosed;
    }
}

bool SendAll(int fd, const void* data, size_t length, int) {
    return memnet::Send(fd, data, length);
}

bool WaitReadable(int, int) {
    return true;  // the peer's bytes are all there, or it is gone
}

bool PeerClosed(int fd) {
    return memnet::PeerClosed(fd);
}

void Shutdown(int fd) {
    memnet::Shutdown(fd);
}

void Close(int fd) {
    memnet::Close(fd);
}

// No wake-up pipe: MemNet wakes the waiting acceptor itself.
ListenerPoll::ListenerPoll() {
    pipe_[0] = pipe_[1] = -1;
}
ListenerPoll::~ListenerPoll() = default;

void ListenerPoll::Wake() {
    memnet::Wake();
}

std::vector<size_t> ListenerPoll::Wait(const std::vector<int>& listeners, int timeoutMs) {
    memnet::WaitOffer(timeoutMs);
    std::vector<size_t> ready;
    for (size_t i = 0; i < listeners.size(); ++i)
        if (memnet::Pending(listeners[i]))
            ready.push_back(i);
    return ready;
}

}  // namespace camsim::netio
