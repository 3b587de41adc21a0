// The camsim link: HID devices served over loopback TCP (docs/hid-sim.md).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "HidBackend.h"

namespace strevo {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kControlTimeoutMs = 3000;  // connect, LIST and OPEN exchanges

int Remaining(Clock::time_point deadline) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

// Waits for fd to become ready; false on time-out or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    while (true) {
        pollfd p{fd, events, 0};
        int rc = poll(&p, 1, Remaining(deadline));
        if (rc > 0)
            return true;
        if (rc == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

class Connection {
  public:
    ~Connection() { Close(); }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool Connect(const sockaddr_in& addr) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0)
            return false;
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
            return true;
        if (errno != EINPROGRESS)
            return false;
        auto deadline = Clock::now() + std::chrono::milliseconds(kControlTimeoutMs);
        if (!WaitFor(fd_, POLLOUT, deadline))
            return false;
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
        return err == 0;
    }
    // 1 sent, 0 time-out, -1 error.
    int SendAll(const void* data, size_t size, Clock::time_point deadline) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
            if (n > 0) {
                p += n;
                size -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!WaitFor(fd_, POLLOUT, deadline))
                    return Remaining(deadline) == 0 ? 0 : -1;
                continue;
            }
            return -1;
        }
        return 1;
    }
    // Fills buffered_ until it holds at least `want` bytes. 1 ok, 0 time-out, -1 closed/error.
    int Fill(size_t want, Clock::time_point deadline) {
        while (buffered_.size() < want) {
            char chunk[4096];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) {
                buffered_.append(chunk, static_cast<size_t>(n));
                continue;
            }
            if (n == 0)
                return -1;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return -1;
            if (!WaitFor(fd_, POLLIN, deadline))
                return Remaining(deadline) == 0 ? 0 : -1;
        }
        return 1;
    }
    bool ReadLine(std::string* line, Clock::time_point deadline) {
        while (true) {
            size_t nl = buffered_.find('\n');
            if (nl != std::string::npos) {
                line->assign(buffered_, 0, nl);
                buffered_.erase(0, nl + 1);
                return true;
            }
            if (buffered_.size() > 4096)
                return false;
            if (Fill(buffered_.size() + 1, deadline) != 1)
                return false;
        }
    }
    std::string& Buffered() { return buffered_; }
    bool Ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    std::string buffered_;
};

class SimDevice final : public IHidDevice {
  public:
    explicit SimDevice(std::unique_ptr<Connection> conn) : conn_(std::move(conn)) {}

    int Write(const uint8_t* report, size_t length, int timeoutMs) override {
        if (!conn_->Ok() || length > 0xFFFF)
            return kFailed;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string msg;
        msg.reserve(length + 2);
        msg.push_back(static_cast<char>(length & 0xFF));
        msg.push_back(static_cast<char>(length >> 8));
        msg.append(reinterpret_cast<const char*>(report), length);
        int rc = conn_->SendAll(msg.data(), msg.size(), deadline);
        if (rc == 1)
            return static_cast<int>(length);
        conn_->Close();  // a half-sent report leaves the link unusable
        return rc == 0 ? kTimeout : kFailed;
    }

    int Read(uint8_t* buffer, size_t length, int timeoutMs) override {
        if (!conn_->Ok())
            return kFailed;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int rc = conn_->Fill(2, deadline);
        if (rc != 1)
            return rc == 0 ? kTimeout : kFailed;
        std::string& b = conn_->Buffered();
        size_t size =
            static_cast<uint8_t>(b[0]) | (static_cast<size_t>(static_cast<uint8_t>(b[1])) << 8);
        rc = conn_->Fill(2 + size, deadline);
        if (rc != 1)
            return rc == 0 ? kTimeout : kFailed;
        // A report longer than ours is cut, as a HID read would cut it.
        size_t n = std::min(size, length);
        std::memcpy(buffer, b.data() + 2, n);
        b.erase(0, 2 + size);
        return static_cast<int>(n);
    }

  private:
    std::unique_ptr<Connection> conn_;
};

class SimBackend final : public IHidBackend {
  public:
    explicit SimBackend(const sockaddr_in& addr) : addr_(addr) {}

    std::vector<HidDeviceDesc> Enumerate() override {
        std::vector<HidDeviceDesc> out;
        Connection c;
        auto deadline = Clock::now() + std::chrono::milliseconds(kControlTimeoutMs);
        if (!c.Connect(addr_) || c.SendAll("LIST\n", 5, deadline) != 1)
            return out;
        std::string line;
        while (c.ReadLine(&line, deadline) && !line.empty()) {
            std::istringstream in(line);
            HidDeviceDesc d;
            std::string vid, pid;
            int len = 0;
            if (!(in >> d.path >> vid >> pid >> len))
                continue;
            d.vendorId = static_cast<uint16_t>(std::strtoul(vid.c_str(), nullptr, 16));
            d.productId = static_cast<uint16_t>(std::strtoul(pid.c_str(), nullptr, 16));
            d.outputReportLength = len;
            out.push_back(d);
        }
        return out;
    }

    std::unique_ptr<IHidDevice> Open(const HidDeviceDesc& desc) override {
        auto c = std::make_unique<Connection>();
        auto deadline = Clock::now() + std::chrono::milliseconds(kControlTimeoutMs);
        std::string cmd = "OPEN " + desc.path + "\n";
        if (!c->Connect(addr_) || c->SendAll(cmd.data(), cmd.size(), deadline) != 1)
            return nullptr;
        std::string line;
        if (!c->ReadLine(&line, deadline) || line != "OK")
            return nullptr;
        return std::make_unique<SimDevice>(std::move(c));
    }

  private:
    sockaddr_in addr_;
};

}  // namespace

std::shared_ptr<IHidBackend> MakeSimHidBackend(const std::string& endpoint) {
    std::string host;
    int port = 0;
    if (!ParseSimEndpoint(endpoint, &host, &port))
        return nullptr;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
        return nullptr;
    return std::make_shared<SimBackend>(addr);
}

}  // namespace strevo
