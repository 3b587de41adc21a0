// The SDK's view of a TCP connection. The platform code lives in PelionSocket_<os>.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace pelion {

// Results of the socket calls: 0 or one of the PELION_ERR_* codes.
class TcpConnection {
  public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to an IPv4 address text and port within timeoutMs.
    int32_t Connect(const char* ipv4, uint16_t port, int timeoutMs);
    // Sends everything, waiting at most timeoutMs for room in the send buffer.
    int32_t SendAll(const void* data, size_t length, int timeoutMs);
    // Receives exactly length bytes within timeoutMs (<0: no limit).
    // PELION_ERR_NETWORK when the peer closed or the connection was shut down.
    int32_t RecvAll(void* data, size_t length, int timeoutMs);
    // Wakes any thread blocked in SendAll/RecvAll; later calls fail. Thread-safe.
    void Shutdown();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

  private:
    std::atomic<intptr_t> fd_{-1};  // read by Shutdown() from other threads
};

// Once per process, before any connection (Windows socket library; nothing on POSIX).
int32_t SocketsStartup();
void SocketsCleanup();

// What tests look into. The program leaves the hook null.
namespace seams {
// Runs at the start of every TcpConnection::Shutdown, on the calling thread.
extern std::atomic<void (*)()> beforeShutdown;
// Connections made and not yet closed.
int OpenConnections();
// Bookkeeping for the platform code.
void NoteOpened();
void NoteClosed();
}  // namespace seams

}  // namespace pelion
