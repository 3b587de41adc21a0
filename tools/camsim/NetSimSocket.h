// The few socket calls the network camera server needs; platform code in
// NetSimSocket_<os>.cpp. Sockets are plain ints here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim::netio {

// The local wall-clock time as "HH:MM:SS".
std::string LocalTimeText();

// Raises the open-file limit so that a thousand listening cameras fit.
void RaiseFileLimit();

// A listening TCP socket bound to address:port, or -1 with *error set.
int Listen(const std::string& address, uint16_t port, std::string* error);
// A connection waiting on a listener, or -1 (none waiting, or failure).
int Accept(int listener);

enum class Io { kOk, kTimeout, kClosed };
// Receives exactly length bytes; timeoutMs < 0 waits without limit.
Io RecvAll(int fd, void* data, size_t length, int timeoutMs);
bool SendAll(int fd, const void* data, size_t length, int timeoutMs);
// Waits up to timeoutMs for data (or the peer's close) on fd.
bool WaitReadable(int fd, int timeoutMs);
// True when the peer has closed; reads and drops whatever it sent. Does not block.
bool PeerClosed(int fd);
// Wakes a thread blocked on fd; the fd stays open until Close.
void Shutdown(int fd);
void Close(int fd);

// Waits until one of the listeners can accept or the waker fires. Returns indexes.
class ListenerPoll {
  public:
    ListenerPoll();
    ~ListenerPoll();
    ListenerPoll(const ListenerPoll&) = delete;
    ListenerPoll& operator=(const ListenerPoll&) = delete;
    void Wake();
    std::vector<size_t> Wait(const std::vector<int>& listeners, int timeoutMs);

  private:
    int pipe_[2] = {-1, -1};
};

}  // namespace camsim::netio
