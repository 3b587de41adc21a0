#include "UsbSim.h"

#include <arpa/inet.h>
#include <cJSON.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "CameraModel.h"

namespace camsim {
namespace {

constexpr uint32_t kMagic = 0x48544446;  // "FDTH"
constexpr uint32_t kCmdIdentity = 40001117;
constexpr size_t kMaxRequestBytes = 64u << 20;  // far beyond any firmware package

void PutU16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
void PutU32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint16_t GetU16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) |
                                 (static_cast<uint8_t>(s[at + 1]) << 8));
}

uint16_t GetU16(const char* p) {
    return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | (static_cast<uint8_t>(p[1]) << 8));
}
uint32_t GetU32(const char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
    return v;
}

// One report per interval, like the frames of a USB interrupt endpoint: a
// report that comes late takes the next free slot, without credit for the
// slots that went unused.
struct Pacer {
    std::chrono::steady_clock::time_point next{};
    void Wait(int intervalUs) {
        if (intervalUs <= 0)
            return;
        auto now = std::chrono::steady_clock::now();
        if (next > now) {
            std::this_thread::sleep_until(next);
            now = next;
        }
        next = now + std::chrono::microseconds(intervalUs);
    }
};

std::string Today() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

bool SendAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// Reads until buf holds at least `want` bytes; false when the peer has gone.
bool Fill(int fd, std::string& buf, size_t want) {
    while (buf.size() < want) {
        char chunk[4096];
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

// True when the peer has closed its end (the close is queued before any
// later connection's request arrives over loopback).
bool PeerClosed(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

constexpr size_t kMaxLineBytes = 4096;

bool ReadLine(int fd, std::string& buf, std::string* line) {
    while (true) {
        size_t nl = buf.find('\n');
        if (nl != std::string::npos) {
            line->assign(buf, 0, nl);
            if (!line->empty() && line->back() == '\r')
                line->pop_back();
            buf.erase(0, nl + 1);
            return true;
        }
        if (buf.size() > kMaxLineBytes || !Fill(fd, buf, buf.size() + 1))
            return false;
    }
}

std::string IdentityAnswer(const UsbCamera& cam) {
    cJSON* o = cJSON_CreateObject();
    cJSON_AddStringToObject(o, "DeviceName", cam.name.c_str());
    cJSON_AddStringToObject(o, "ProductModel", cam.model.c_str());
    cJSON_AddStringToObject(o, "Serial", cam.serial.c_str());
    cJSON_AddStringToObject(o, "BuildDate", cam.buildDate.c_str());
    cJSON_AddNumberToObject(o, "BiosVersion", cam.biosVersion);
    char* text = cJSON_PrintUnformatted(o);
    std::string s = text ? text : "{}";
    cJSON_free(text);
    cJSON_Delete(o);
    return s;
}

}  // namespace

bool ParseUsbFault(const std::string& text, UsbFaultSetting* out) {
    UsbFaultSetting f;
    if (text == "none")
        f.kind = UsbFault::kNone;
    else if (text == "noanswer")
        f.kind = UsbFault::kNoAnswer;
    else if (text == "badmagic")
        f.kind = UsbFault::kBadMagic;
    else if (text == "oversized")
        f.kind = UsbFault::kOversized;
    else if (text == "bigchunk")
        f.kind = UsbFault::kBigChunk;
    else if (text == "flashhang")
        f.kind = UsbFault::kFlashHang;
    else if (text == "datanotext")
        f.kind = UsbFault::kDataNoText;
    else if (text.rfind("delay:", 0) == 0) {
        char* end = nullptr;
        long ms = std::strtol(text.c_str() + 6, &end, 10);
        if (*end || ms < 0 || ms > 600000)
            return false;
        f.kind = UsbFault::kDelay;
        f.delayMs = static_cast<int>(ms);
    } else {
        // KIND:PCT, a point of the package or of the flash phase.
        static const std::pair<const char*, UsbFault> kPointFaults[] = {
            {"negprogress:", UsbFault::kNegativeProgress},
            {"silence:", UsbFault::kSilence},
            {"unplug:", UsbFault::kUnplug},
            {"flashfail:", UsbFault::kFlashFail},
        };
        bool known = false;
        for (const auto& [prefix, kind] : kPointFaults) {
            const size_t n = std::strlen(prefix);
            if (text.compare(0, n, prefix) != 0)
                continue;
            char* end = nullptr;
            long pct = std::strtol(text.c_str() + n, &end, 10);
            if (text.size() == n || *end || pct < 0 || pct > 100)
                return false;
            f.kind = kind;
            f.point = static_cast<int>(pct);
            known = true;
        }
        if (!known)
            return false;
    }
    *out = f;
    return true;
}

struct UsbSimServer::Device {
    UsbCamera cam;
    std::mutex mu;
    UsbFaultSetting fault;
    bool present = true;
    bool silenced = false;  // a silence fault has struck
    // Away after a reboot until then; back at the first look after it.
    std::optional<std::chrono::steady_clock::time_point> awayUntil;
    int rebootMs = 3000;
    std::atomic<int> reportIntervalUs{0};
    int openFd = -1;  // the link that has the device open, -1 when closed
    std::vector<uint32_t> received;
    std::string lastPayload;
    UsbFirmware firmware;

    // Under mu.
    void ComeBackIfDue() {
        if (!present && awayUntil && std::chrono::steady_clock::now() >= *awayUntil) {
            present = true;
            awayUntil.reset();
        }
    }
    void FaultsToFirmware() {
        firmware.faults = FirmwareFaults{};
        if (fault.kind == UsbFault::kNegativeProgress)
            firmware.faults.negativeProgressAt = fault.point;
        else if (fault.kind == UsbFault::kFlashFail)
            firmware.faults.flashFailAt = fault.point;
        else if (fault.kind == UsbFault::kFlashHang)
            firmware.faults.flashHangs = true;
    }
};

UsbSimServer::UsbSimServer() = default;

UsbSimServer::~UsbSimServer() {
    Stop();
}

std::string UsbSimServer::PathOf(size_t index) {
    return "camsim-usb-" + std::to_string(index);
}

int UsbSimServer::Start(std::vector<UsbCamera> cameras, const std::string& host, int port) {
    for (auto& cam : cameras) {
        auto d = std::make_shared<Device>();
        if (!cam.state)
            cam.state = std::make_shared<CameraModel>(cam.name);
        d->cam = std::move(cam);
        devices_.push_back(d);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1 ||
        (ntohl(addr.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "camsim: the HID link serves loopback only, not %s\n", host.c_str());
        return -1;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        std::perror("camsim: HID link");
        if (listenFd_ >= 0)
            ::close(listenFd_);
        listenFd_ = -1;
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    stopping_ = false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return ntohs(addr.sin_port);
}

void UsbSimServer::Stop() {
    if (listenFd_ < 0)
        return;
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    if (acceptThread_.joinable())
        acceptThread_.join();
    ::close(listenFd_);
    listenFd_ = -1;
    std::map<int, std::thread> conns;
    {
        std::lock_guard<std::mutex> lock(connMu_);
        for (auto& [fd, t] : connections_) ::shutdown(fd, SHUT_RDWR);
        conns.swap(connections_);
    }
    for (auto& [fd, t] : conns) {
        if (t.joinable())
            t.join();
        ::close(fd);
    }
    finished_.clear();
}

void UsbSimServer::AcceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> lock(connMu_);
        // Reap links whose threads have ended.
        for (int done : finished_) {
            auto it = connections_.find(done);
            if (it != connections_.end()) {
                if (it->second.joinable())
                    it->second.join();
                ::close(done);
                connections_.erase(it);
            }
        }
        finished_.clear();
        if (stopping_) {
            ::close(fd);
            break;
        }
        connections_.emplace(fd, std::thread([this, fd] {
                                 Serve(fd);
                                 // The client sees the end at once, not when
                                 // the next connection reaps this one.
                                 ::shutdown(fd, SHUT_RDWR);
                                 std::lock_guard<std::mutex> l(connMu_);
                                 finished_.push_back(fd);
                             }));
    }
}

void UsbSimServer::Serve(int fd) {
    std::string buf, line;
    if (!ReadLine(fd, buf, &line)) {
        if (buf.size() > kMaxLineBytes)
            SendAll(fd, "ERR request line too long\n");
        return;
    }
    if (line == "LIST") {
        std::string out;
        for (size_t i = 0; i < devices_.size(); ++i) {
            std::lock_guard<std::mutex> lock(devices_[i]->mu);
            devices_[i]->ComeBackIfDue();
            if (!devices_[i]->present)
                continue;
            char row[128];
            std::snprintf(row, sizeof row, "%s %04x %04x %d\n", PathOf(i).c_str(),
                          devices_[i]->cam.vendorId, devices_[i]->cam.productId,
                          devices_[i]->cam.reportLength);
            out += row;
        }
        out += "\n";
        SendAll(fd, out);
        ::shutdown(fd, SHUT_WR);
        return;
    }
    if (line.rfind("OPEN ", 0) == 0) {
        std::string path = line.substr(5);
        for (size_t i = 0; i < devices_.size(); ++i) {
            if (PathOf(i) != path)
                continue;
            auto dev = devices_[i];
            {
                std::lock_guard<std::mutex> lock(dev->mu);
                dev->ComeBackIfDue();
                if (!dev->present)
                    break;
                // A client that closed the device and opens it again at once
                // must not find it busy just because the old link's thread has
                // not seen the close yet.
                if (dev->openFd >= 0 && !PeerClosed(dev->openFd)) {
                    SendAll(fd, "ERR busy\n");
                    return;
                }
                dev->openFd = fd;
            }
            SendAll(fd, "OK\n");
            ServeDevice(fd, dev, std::move(buf));
            std::lock_guard<std::mutex> lock(dev->mu);
            if (dev->openFd == fd)
                dev->openFd = -1;
            return;
        }
        SendAll(fd, "ERR no such device\n");
        return;
    }
    SendAll(fd, "ERR unknown request\n");
}

void UsbSimServer::ServeDevice(int fd, std::shared_ptr<Device> dev, std::string buf) {
    const size_t L = static_cast<size_t>(dev->cam.reportLength);
    std::string payload;
    Pacer out, in;
    size_t pos = 0;  // start of the next unread message in buf
    // Makes buf hold at least n unread bytes.
    auto need = [&](size_t n) {
        if (buf.size() - pos >= n)
            return true;
        buf.erase(0, pos);
        pos = 0;
        return Fill(fd, buf, n);
    };
    while (!stopping_) {
        if (!need(2))
            return;
        const size_t size = GetU16(buf, pos);
        if (!need(2 + size))
            return;
        out.Wait(dev->reportIntervalUs);
        const char* report = buf.data() + pos + 2;
        pos += 2 + size;
        // A device drops requests that are not well-formed frames.
        if (size < 13 || GetU32(report + 1) != kMagic)
            continue;
        const uint32_t cmd = GetU32(report + 5);
        const size_t chunk = GetU16(report + 9);
        if (chunk > size - 13) {
            payload.clear();
            continue;
        }
        payload.append(report + 13, chunk);
        if (payload.size() > kMaxRequestBytes) {  // a request that never ends is dropped
            payload.clear();
            continue;
        }
        if (GetU16(report + 11) != 1)
            continue;

        UsbFaultSetting fault;
        std::string answer;
        int32_t result = 0;
        bool unplug = false, silent = false;
        const bool reboot = cmd == kCmdReboot;
        const bool jsonCommand =
            cmd != kCmdIdentity && !reboot && !UsbFirmware::IsUpgradeCommand(cmd);
        if (jsonCommand)
            result = dev->cam.state->HandleUsbCommand(cmd, payload, &answer);
        {
            std::lock_guard<std::mutex> lock(dev->mu);
            fault = dev->fault;
            dev->received.push_back(cmd);
            if (cmd == kCmdIdentity) {
                answer = IdentityAnswer(dev->cam);
            } else if (UsbFirmware::IsUpgradeCommand(cmd)) {
                dev->FaultsToFirmware();
                result =
                    dev->firmware.Handle(cmd, payload, std::chrono::steady_clock::now(), &answer);
                const UsbFirmware::Transfer& t = dev->firmware.LastTransfer();
                const uint64_t percent = t.fileSize ? t.received * 100 / t.fileSize : 100;
                if (cmd == kCmdUpgradeData && percent >= static_cast<uint64_t>(fault.point)) {
                    dev->silenced = dev->silenced || fault.kind == UsbFault::kSilence;
                    unplug = fault.kind == UsbFault::kUnplug;
                }
            }
            silent = dev->silenced;
            dev->lastPayload.swap(payload);
            if (unplug) {
                dev->present = false;
                dev->awayUntil.reset();
            }
        }
        payload.clear();
        if (unplug) {
            ::shutdown(fd, SHUT_RDWR);  // the link goes with the device
            return;
        }
        if (silent || fault.kind == UsbFault::kNoAnswer)
            continue;
        if (fault.kind == UsbFault::kDelay)
            std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
        if (fault.kind == UsbFault::kDataNoText && cmd == kCmdUpgradeData)
            answer.clear();
        if (fault.kind == UsbFault::kOversized && answer.size() < kOversizedBytes)
            answer.append(kOversizedBytes - answer.size(), ' ');

        const size_t room = L - 17;
        size_t sent = 0;
        std::string msg(2 + L, '\0');
        do {
            size_t n = std::min(answer.size() - sent, room);
            std::fill(msg.begin(), msg.end(), '\0');
            PutU16(msg, 0, static_cast<uint16_t>(L));
            PutU32(msg, 2 + 1, fault.kind == UsbFault::kBadMagic ? 0x58585858u : kMagic);
            PutU32(msg, 2 + 5, cmd);
            PutU16(msg, 2 + 9, static_cast<uint16_t>(fault.kind == UsbFault::kBigChunk ? L : n));
            PutU16(msg, 2 + 11, sent + n == answer.size() ? 1 : 0);
            PutU32(msg, 2 + 13, static_cast<uint32_t>(result));
            msg.replace(2 + 17, n, answer, sent, n);
            in.Wait(dev->reportIntervalUs);
            if (!SendAll(fd, msg))
                return;
            sent += n;
        } while (sent < answer.size());

        if (reboot) {
            // Answered; now the camera restarts, with the new firmware if a
            // package went into flash, and is gone for a while.
            std::lock_guard<std::mutex> lock(dev->mu);
            if (dev->firmware.Pending()) {
                dev->cam.biosVersion += 1;
                dev->cam.buildDate = Today();
            }
            dev->firmware.Reboot();
            dev->silenced = false;
            dev->present = false;
            dev->awayUntil =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(dev->rebootMs);
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

void UsbSimServer::SetFault(size_t index, UsbFaultSetting fault) {
    if (index >= devices_.size())
        return;
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    devices_[index]->fault = fault;
    devices_[index]->silenced = false;
}

void UsbSimServer::SetPresent(size_t index, bool present) {
    if (index >= devices_.size())
        return;
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    devices_[index]->present = present;
    devices_[index]->awayUntil.reset();
    devices_[index]->silenced = false;
    if (!present && devices_[index]->openFd >= 0)
        ::shutdown(devices_[index]->openFd, SHUT_RDWR);
}

void UsbSimServer::SetUpgradeTiming(size_t index, int flashMs, int rebootMs) {
    if (index >= devices_.size())
        return;
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    devices_[index]->firmware.flashMs = flashMs;
    devices_[index]->rebootMs = rebootMs;
}

void UsbSimServer::SetReportInterval(size_t index, int intervalUs) {
    if (index < devices_.size())
        devices_[index]->reportIntervalUs = intervalUs;
}

UsbFirmware::Transfer UsbSimServer::LastTransfer(size_t index) {
    if (index >= devices_.size())
        return {};
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    return devices_[index]->firmware.LastTransfer();
}

UsbCamera UsbSimServer::Camera(size_t index) {
    if (index >= devices_.size())
        return {};
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    return devices_[index]->cam;
}

std::vector<uint32_t> UsbSimServer::ReceivedCommands(size_t index) {
    if (index >= devices_.size())
        return {};
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    return devices_[index]->received;
}

std::string UsbSimServer::LastPayload(size_t index) {
    if (index >= devices_.size())
        return {};
    std::lock_guard<std::mutex> lock(devices_[index]->mu);
    return devices_[index]->lastPayload;
}

// The camsim module: options and start-up around the server.
namespace {

class UsbModule final : public Module {
  public:
    const char* Name() const override { return "USB cameras (HID simulator link)"; }
    const char* Usage() const override {
        return "  --hid-port P             TCP port of the HID link on 127.0.0.1 (default 0: any)\n"
               "  --usb-report-len L       report length of every USB camera (default 65)\n"
               "  --usb-report-len-of I:L  report length of camera I (from 0)\n"
               "  --usb-name I:NAME        device name of camera I (UTF-8)\n"
               "  --usb-fault I:KIND       fault of camera I: noanswer, delay:MS, badmagic,\n"
               "                           oversized, bigchunk; firmware update faults at a\n"
               "                           share PCT (0-100) of the package: negprogress:PCT,\n"
               "                           silence:PCT, unplug:PCT; of the flash phase:\n"
               "                           flashfail:PCT, flashhang; datanotext (data answers\n"
               "                           without text)\n"
               "  --usb-flash-ms MS        time a camera writes a package to flash (default 3000)\n"
               "  --usb-reboot-ms MS       time a camera stays away after a reboot (default 3000)\n"
               "  --usb-rate-limit         one report per millisecond each way, like a\n"
               "                           full-speed HID camera (default: unlimited)\n";
    }
    int ParseOption(int argc, char** argv, int i) override {
        std::string a = argv[i];
        if (a == "--usb-rate-limit") {
            reportIntervalUs_ = 1000;
            return 1;
        }
        if (a != "--hid-port" && a != "--usb-report-len" && a != "--usb-report-len-of" &&
            a != "--usb-name" && a != "--usb-fault" && a != "--usb-flash-ms" &&
            a != "--usb-reboot-ms")
            return 0;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
            return -1;
        }
        std::string v = argv[i + 1];
        if (a == "--usb-flash-ms" || a == "--usb-reboot-ms") {
            char* end = nullptr;
            long ms = std::strtol(v.c_str(), &end, 10);
            if (*end || v.empty() || ms < 0 || ms > 3600000) {
                std::fprintf(stderr, "camsim: bad value for %s: %s\n", a.c_str(), v.c_str());
                return -1;
            }
            (a == "--usb-flash-ms" ? flashMs_ : rebootMs_) = static_cast<int>(ms);
            return 2;
        }
        if (a == "--hid-port" || a == "--usb-report-len") {
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            long lo = a == "--hid-port" ? 0 : 18, hi = a == "--hid-port" ? 65535 : 65535;
            if (*end || v.empty() || n < lo || n > hi) {
                std::fprintf(stderr, "camsim: bad value for %s: %s\n", a.c_str(), v.c_str());
                return -1;
            }
            (a == "--hid-port" ? port_ : reportLen_) = static_cast<int>(n);
            return 2;
        }
        size_t colon = v.find(':');
        char* end = nullptr;
        long index = colon == std::string::npos ? -1 : std::strtol(v.c_str(), &end, 10);
        if (index < 0 || end != v.c_str() + colon) {
            std::fprintf(stderr, "camsim: %s takes INDEX:VALUE\n", a.c_str());
            return -1;
        }
        std::string rest = v.substr(colon + 1);
        if (a == "--usb-name") {
            names_[static_cast<size_t>(index)] = rest;
        } else if (a == "--usb-report-len-of") {
            long n = std::strtol(rest.c_str(), &end, 10);
            if (*end || rest.empty() || n < 18 || n > 65535) {
                std::fprintf(stderr, "camsim: bad report length %s\n", rest.c_str());
                return -1;
            }
            lengths_[static_cast<size_t>(index)] = static_cast<int>(n);
        } else {
            UsbFaultSetting f;
            if (!ParseUsbFault(rest, &f)) {
                std::fprintf(stderr, "camsim: unknown fault %s\n", rest.c_str());
                return -1;
            }
            faults_[static_cast<size_t>(index)] = f;
        }
        return 2;
    }
    bool Start(World& world) override {
        if (world.usb.empty())
            return true;
        for (size_t i = 0; i < world.usb.size(); ++i) {
            world.usb[i].reportLength = reportLen_;
            if (lengths_.count(i))
                world.usb[i].reportLength = lengths_[i];
            if (names_.count(i))
                world.usb[i].name = names_[i];
        }
        int port = server_.Start(world.usb, "127.0.0.1", port_);
        if (port < 0)
            return false;
        for (const auto& [i, f] : faults_) server_.SetFault(i, f);
        for (size_t i = 0; i < world.usb.size(); ++i) {
            server_.SetUpgradeTiming(i, flashMs_, rebootMs_);
            server_.SetReportInterval(i, reportIntervalUs_);
        }
        std::printf(
            "camsim: hid-sim 127.0.0.1:%d with %zu usb cameras (STREVO_HID_SIM=127.0.0.1:%d)\n",
            port, world.usb.size(), port);
        std::fflush(stdout);
        return true;
    }
    void Stop() override { server_.Stop(); }

  private:
    UsbSimServer server_;
    int port_ = 0;
    int reportLen_ = 65;
    int flashMs_ = 3000;
    int rebootMs_ = 3000;
    int reportIntervalUs_ = 0;
    std::map<size_t, int> lengths_;
    std::map<size_t, std::string> names_;
    std::map<size_t, UsbFaultSetting> faults_;
};

}  // namespace

std::unique_ptr<Module> MakeUsbModule() {
    return std::make_unique<UsbModule>();
}

}  // namespace camsim
