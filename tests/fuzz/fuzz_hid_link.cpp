// The program's side of the camsim HID link: the device list, the open reply
// and the length-prefixed reports come from the input, served by a loopback
// server inside the private network namespace. Reads must stay inside the
// caller's report buffer and end when the link closes instead of waiting.
//
// Input: a piece with the reply to LIST, a piece with the reply to OPEN (the
// line, and anything after it), then the bytes sent once the first request
// report has arrived.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "FuzzHid.h"
#include "FuzzInput.h"
#include "HidBackend.h"

namespace {

constexpr int kWaitMs = 5000;
// The client's limit: far longer than any correct exchange takes even on a
// loaded machine, so only a read that really waits for nothing runs into it.
constexpr int kClientWaitMs = 20000;

struct Replies {
    std::string list, open, after;
};

class Server {
  public:
    Server() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 16) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            fuzz::Fail("loopback server not started (run inside scripts/netns-run)");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Loop(); });
    }
    int Port() const { return port_; }
    void Set(const Replies& r) {
        std::lock_guard<std::mutex> lock(mu_);
        replies_ = r;
    }

  private:
    // Reads until buf holds want bytes; false on close or after the limit.
    static bool Fill(int fd, std::string* buf, size_t want) {
        while (buf->size() < want) {
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, kWaitMs);
            if (ready < 0 && errno == EINTR)
                continue;  // libFuzzer's timer, not the client
            if (ready <= 0)
                return false;
            char chunk[4096];
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            buf->append(chunk, static_cast<size_t>(n));
        }
        return true;
    }
    static void SendAll(int fd, const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            off += static_cast<size_t>(n);
        }
    }

    void Serve(int fd) {
        Replies r;
        {
            std::lock_guard<std::mutex> lock(mu_);
            r = replies_;
        }
        std::string buf;
        while (buf.find('\n') == std::string::npos && buf.size() < 4096 &&
               Fill(fd, &buf, buf.size() + 1)) {
        }
        std::string line = buf.substr(0, buf.find('\n'));
        buf.erase(0, line.size() + 1);
        if (line == "LIST") {
            SendAll(fd, r.list);
        } else if (line.rfind("OPEN ", 0) == 0) {
            // One send each, so the client finds a reply whole once any of it is there.
            SendAll(fd, r.open);
            if (r.open.rfind("OK\n", 0) == 0 && Fill(fd, &buf, 2)) {
                size_t size = static_cast<uint8_t>(buf[0]) |
                              static_cast<size_t>(static_cast<uint8_t>(buf[1])) << 8;
                if (Fill(fd, &buf, 2 + size))
                    SendAll(fd, r.after);
            }
        }
        // Close first, so the waiting is on this side; then wait for the client's close.
        ::shutdown(fd, SHUT_WR);
        while (Fill(fd, &buf, buf.size() + 1)) {
        }
        ::close(fd);
    }

    void Loop() {
        for (;;) {
            int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                Serve(fd);
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::mutex mu_;
    Replies replies_;
    std::thread thread_;
};

Server& TheServer() {
    static Server* server = new Server;  // runs until the process ends
    return *server;
}

std::string Request(size_t L) {
    std::string r(L, '\0');
    if (L >= 13) {
        fuzz::PutLe(r, 1, strevo::kFrameMagic, 4);
        fuzz::PutLe(r, 5, strevo::kCmdGetDeviceInfo, 4);
        fuzz::PutLe(r, 11, 1, 2);
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TheServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    Replies r;
    r.list = in.Piece();
    r.open = in.Piece();
    r.after = in.Rest();
    TheServer().Set(r);

    auto backend = strevo::MakeSimHidBackend("127.0.0.1:" + std::to_string(TheServer().Port()));
    fuzz::Check(backend != nullptr, "loopback endpoint refused");
    auto devices = backend->Enumerate();
    for (size_t i = 0; i < devices.size() && i < 2; ++i) {
        const strevo::HidDeviceDesc& d = devices[i];
        fuzz::Check(!d.path.empty() && d.path.find_first_of(" \t\n") == std::string::npos,
                    "device path");
        auto dev = backend->Open(d);
        if (!dev)
            continue;
        size_t L = static_cast<size_t>(std::clamp(d.outputReportLength, 1, 2048));
        std::string request = Request(L);
        dev->Write(reinterpret_cast<const uint8_t*>(request.data()), request.size(), kClientWaitMs);
        std::unique_ptr<uint8_t[]> report(
            new uint8_t[L]);  // exactly the report, so an overrun is caught
        for (int reads = 0; reads < 64; ++reads) {
            int n = dev->Read(report.get(), L, kClientWaitMs);
            // The server has closed its side: the read ends there, it does not wait.
            fuzz::Check(n != strevo::IHidDevice::kTimeout,
                        "read waited out its limit after the link closed");
            if (n <= 0)
                break;
            fuzz::Check(static_cast<size_t>(n) <= L, "read longer than the report buffer", n);
        }
        dev->Write(reinterpret_cast<const uint8_t*>(request.data()), request.size(), kClientWaitMs);
    }
    return 0;
}
