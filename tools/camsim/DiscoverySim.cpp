// Discovery responder: every network camera answers the "GXXH" search request
// on UDP port 6001 with its record, sent to the asker's port 6002.
//
// One socket serves all cameras: it listens on port 6001 of every local address
// and sends each camera's answer from that camera's own loopback address
// (IP_PKTINFO), so a thousand cameras cost one descriptor.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Camsim.h"

namespace camsim {
namespace {

constexpr uint32_t kMagic = 0x48585847;  // "GXXH"
constexpr uint32_t kSearchCommand = 40001117;
constexpr uint32_t kSearchAnswer = 40002117;
constexpr uint16_t kListenPort = 6001;
constexpr uint16_t kAnswerPort = 6002;
constexpr size_t kRecordSize = 502;
constexpr int kMaxPrefix = 498;  // the whole answer still fits in 1000 bytes

// Record offsets of the texts a camera reports.
constexpr size_t kOffModel = 16;
constexpr size_t kOffIdentity = 57;
constexpr size_t kOffFirmware = 75;
constexpr size_t kOffMask = 91;
constexpr size_t kOffGateway = 107;
constexpr size_t kOffPort = 123;
constexpr size_t kOffSerial = 139;
constexpr size_t kOffAddress = 255;
constexpr size_t kOffName = 288;

enum class Malformed { kNone, kShort, kMagic, kPrefix, kCode, kOversized, kNoTerminator, kMixed };

struct Kind {
    const char* name;
    Malformed kind;
};

constexpr Kind kKinds[] = {
    {"none", Malformed::kNone},           {"short", Malformed::kShort},
    {"magic", Malformed::kMagic},         {"prefix", Malformed::kPrefix},
    {"code", Malformed::kCode},           {"oversized", Malformed::kOversized},
    {"noterm", Malformed::kNoTerminator}, {"mixed", Malformed::kMixed},
};

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Writes a text at a record offset, cut so it stays NUL-terminated before limit.
void PutText(uint8_t* record, size_t offset, size_t limit, const std::string& text) {
    size_t n = std::min(text.size(), limit - offset - 1);
    std::memcpy(record + offset, text.data(), n);
}

struct Job {
    std::chrono::steady_clock::time_point due;
    sockaddr_in to;
    int camera;  // -1: every camera (broadcast request)
};

class DiscoveryModule final : public Module {
  public:
    ~DiscoveryModule() override { Stop(); }

    const char* Name() const override { return "Discovery"; }

    const char* Usage() const override {
        return "  --discovery-prefix N      bytes before the record in an answer, 0 to 498\n"
               "                            (default 12; 0 puts the record at the first byte)\n"
               "  --discovery-delay MS      wait MS milliseconds before answering (default 0)\n"
               "  --discovery-spread MS     spread the cameras' answers over MS milliseconds\n"
               "                            (default 100; 0 sends them all at once, which\n"
               "                            overflows the asker's receive buffer beyond\n"
               "                            about 150 cameras)\n"
               "  --discovery-malformed K   answer with a faulty datagram instead: short (11\n"
               "                            bytes), magic (wrong magic), prefix (prefix length\n"
               "                            beyond the datagram), code (wrong answer code),\n"
               "                            oversized (1200 bytes), noterm (texts without NUL);\n"
               "                            mixed sends each faulty kind, then the real answer\n";
    }

    int ParseOption(int argc, char** argv, int i) override {
        std::string a = argv[i];
        bool known = a == "--discovery-prefix" || a == "--discovery-delay" ||
                     a == "--discovery-spread" || a == "--discovery-malformed";
        if (!known)
            return 0;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
            return -1;
        }
        const char* v = argv[i + 1];
        if (a == "--discovery-malformed") {
            for (const Kind& k : kKinds) {
                if (std::strcmp(k.name, v) == 0) {
                    malformed_ = k.kind;
                    return 2;
                }
            }
            std::fprintf(stderr, "camsim: unknown --discovery-malformed kind %s\n", v);
            return -1;
        }
        int max = a == "--discovery-prefix" ? kMaxPrefix : 600000;
        char* end = nullptr;
        long n = std::strtol(v, &end, 10);
        if (!v[0] || *end || n < 0 || n > max) {
            std::fprintf(stderr, "camsim: %s takes 0 to %d\n", a.c_str(), max);
            return -1;
        }
        if (a == "--discovery-prefix")
            prefix_ = static_cast<int>(n);
        if (a == "--discovery-delay")
            delayMs_ = static_cast<int>(n);
        if (a == "--discovery-spread")
            spreadMs_ = static_cast<int>(n);
        return 2;
    }

    bool Start(World& world) override {
        if (fd_ >= 0)
            return true;
        if (world.net.empty())
            return true;  // no network cameras, nothing to answer for
        cameras_.clear();
        for (size_t n = 0; n < world.net.size(); ++n) {
            const NetCamera& cam = world.net[n];
            Camera c;
            if (inet_pton(AF_INET, cam.address.c_str(), &c.address) != 1) {
                std::fprintf(stderr, "camsim: bad camera address %s\n", cam.address.c_str());
                return false;
            }
            c.answer = BuildAnswer(cam, static_cast<int>(n));
            cameras_.push_back(std::move(c));
        }
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) {
            std::perror("camsim: discovery socket");
            return false;
        }
        int on = 1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kListenPort);
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
            bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::perror("camsim: discovery on udp 6001");
            close(fd);
            return false;
        }
        fd_ = fd;
        stop_ = false;
        receiver_ = std::thread([this] { ReceiveLoop(); });
        sender_ = std::thread([this] { SendLoop(); });
        std::printf("camsim: discovery on udp %d for %zu cameras\n", kListenPort, cameras_.size());
        std::fflush(stdout);
        return true;
    }

    void Stop() override {
        if (fd_ < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        wake_.notify_all();
        if (receiver_.joinable())
            receiver_.join();
        if (sender_.joinable())
            sender_.join();
        close(fd_);
        fd_ = -1;
        jobs_.clear();
    }

  private:
    struct Camera {
        in_addr address{};
        std::vector<uint8_t> answer;  // the datagram, prefix and record
    };

    std::vector<uint8_t> BuildAnswer(const NetCamera& cam, int n) const {
        std::vector<uint8_t> d(static_cast<size_t>(prefix_) + kRecordSize, 0);
        // The header mirrors the request: magic, prefix length, answer code.
        PutLe32(d.data(), kMagic);
        PutLe32(d.data() + 4, static_cast<uint32_t>(prefix_));
        if (prefix_ >= 12)
            PutLe32(d.data() + 8, kSearchAnswer);
        uint8_t* r = d.data() + prefix_;
        if (prefix_ > 0) {
            PutLe32(r, kMagic);
            PutLe32(r + 4, 0);
        }
        PutLe32(r + 8, kSearchAnswer);
        char serial[32];
        std::snprintf(serial, sizeof serial, "SN26%08d", n + 1);
        PutText(r, kOffModel, kOffIdentity, n % 2 ? "TV-IP520" : "TV-IP310");
        PutText(r, kOffIdentity, kOffFirmware, cam.identity);
        PutText(r, kOffFirmware, kOffMask, "V3.2.14");
        PutText(r, kOffMask, kOffGateway, "255.0.0.0");
        PutText(r, kOffGateway, kOffPort, "127.0.0.1");
        PutText(r, kOffPort, kOffSerial, "36666");
        PutText(r, kOffSerial, kOffSerial + 16, serial);
        PutText(r, kOffAddress, kOffName, cam.address);
        PutText(r, kOffName, kOffName + 36, cam.name);
        return d;
    }

    // The faulty datagrams sent for one camera; the real answer is last when
    // it is sent at all.
    std::vector<std::vector<uint8_t>> Datagrams(const Camera& cam) const {
        std::vector<std::vector<uint8_t>> out;
        auto add = [&](Malformed kind) {
            std::vector<uint8_t> d = cam.answer;
            switch (kind) {
                case Malformed::kShort:
                    d.resize(11);
                    break;
                case Malformed::kMagic:
                    d[3] = 'X';
                    break;
                case Malformed::kPrefix:
                    PutLe32(d.data() + 4, static_cast<uint32_t>(d.size() + 1));
                    break;
                case Malformed::kCode:
                    PutLe32(d.data() + prefix_ + 8, kSearchAnswer + 1);
                    break;
                case Malformed::kOversized:
                    d.resize(1200, 'Z');
                    break;
                case Malformed::kNoTerminator:
                    // Every text byte set, up to the record's last byte.
                    std::memset(d.data() + prefix_ + kOffModel, 'N', kRecordSize - kOffModel);
                    break;
                default:
                    break;
            }
            out.push_back(std::move(d));
        };
        if (malformed_ == Malformed::kMixed) {
            for (Malformed k : {Malformed::kShort, Malformed::kMagic, Malformed::kPrefix,
                                Malformed::kCode, Malformed::kOversized}) {
                add(k);
            }
            add(Malformed::kNone);
        } else {
            add(malformed_);
        }
        return out;
    }

    void ReceiveLoop() {
        uint8_t buf[1500];
        while (!Stopping()) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            sockaddr_in from{};
            iovec iov{buf, sizeof buf};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT);
            if (n < 12)
                continue;
            if (GetLe32(buf) != kMagic || GetLe32(buf + 8) != kSearchCommand)
                continue;
            // A request sent to one camera's address gets only that camera's answer.
            int target = -1;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
                    continue;
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                target = CameraAt(info.ipi_addr);
            }
            Job job;
            job.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs_);
            job.to = from;
            job.to.sin_port = htons(kAnswerPort);
            job.camera = target;
            {
                std::lock_guard<std::mutex> lock(mu_);
                if (jobs_.size() < 64)
                    jobs_.push_back(job);  // a request flood must not pile up
            }
            wake_.notify_all();
        }
    }

    int CameraAt(in_addr a) const {
        for (size_t i = 0; i < cameras_.size(); ++i) {
            if (cameras_[i].address.s_addr == a.s_addr)
                return static_cast<int>(i);
        }
        return -1;
    }

    bool Stopping() {
        std::lock_guard<std::mutex> lock(mu_);
        return stop_;
    }

    void SendLoop() {
        std::unique_lock<std::mutex> lock(mu_);
        while (!stop_) {
            if (jobs_.empty()) {
                wake_.wait(lock);
                continue;
            }
            Job job = jobs_.front();
            if (wake_.wait_until(lock, job.due, [this] { return stop_; }))
                break;
            jobs_.pop_front();
            lock.unlock();
            Answer(job);
            lock.lock();
        }
    }

    void Answer(const Job& job) {
        size_t first = job.camera < 0 ? 0 : static_cast<size_t>(job.camera);
        size_t last = job.camera < 0 ? cameras_.size() : first + 1;
        auto start = std::chrono::steady_clock::now();
        for (size_t i = first; i < last; ++i) {
            if (spreadMs_ > 0 && last - first > 1) {
                auto at = start + std::chrono::microseconds(static_cast<int64_t>(spreadMs_) * 1000 *
                                                            static_cast<int64_t>(i - first) /
                                                            static_cast<int64_t>(last - first));
                std::unique_lock<std::mutex> lock(mu_);
                if (wake_.wait_until(lock, at, [this] { return stop_; }))
                    return;
            } else if (Stopping()) {
                return;
            }
            for (const auto& d : Datagrams(cameras_[i])) SendFrom(cameras_[i].address, job.to, d);
        }
    }

    // Sends from the camera's own address, as a real camera's answer would come.
    void SendFrom(in_addr source, const sockaddr_in& to, const std::vector<uint8_t>& data) {
        iovec iov{const_cast<uint8_t*>(data.data()), data.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = const_cast<sockaddr_in*>(&to);
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = source;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        sendmsg(fd_, &msg, 0);  // a lost answer is a lost answer, as on a real network
    }

    int prefix_ = 12;
    int delayMs_ = 0;
    // Real cameras answer a broadcast with a back-off; a thousand answers in
    // one burst would mostly be lost.
    int spreadMs_ = 100;
    Malformed malformed_ = Malformed::kNone;

    std::vector<Camera> cameras_;
    int fd_ = -1;
    std::mutex mu_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::deque<Job> jobs_;
    std::thread receiver_;
    std::thread sender_;
};

}  // namespace

std::unique_ptr<Module> MakeDiscoveryModule() {
    return std::make_unique<DiscoveryModule>();
}

}  // namespace camsim
