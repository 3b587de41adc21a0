// USB transport over the camsim HID link: round trip of an empty transaction
// and throughput of 1 MiB requests, at report lengths 65 and 1025. The share
// of time outside the backend (framing, copying, bookkeeping) is measured by
// timing every backend read and write.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "CUSBDevice.h"
#include "UsbSim.h"

using namespace strevo;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<int64_t> g_backendNs{0};

class TimedDevice final : public IHidDevice {
  public:
    explicit TimedDevice(std::unique_ptr<IHidDevice> d) : d_(std::move(d)) {}
    int Write(const uint8_t* r, size_t n, int t) override {
        return Time([&] { return d_->Write(r, n, t); });
    }
    int Read(uint8_t* b, size_t n, int t) override {
        return Time([&] { return d_->Read(b, n, t); });
    }

  private:
    template <typename F>
    int Time(F f) {
        auto t0 = Clock::now();
        int rc = f();
        g_backendNs +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
        return rc;
    }
    std::unique_ptr<IHidDevice> d_;
};

class TimedBackend final : public IHidBackend {
  public:
    explicit TimedBackend(std::shared_ptr<IHidBackend> b) : b_(std::move(b)) {}
    std::vector<HidDeviceDesc> Enumerate() override { return b_->Enumerate(); }
    std::unique_ptr<IHidDevice> Open(const HidDeviceDesc& d) override {
        auto dev = b_->Open(d);
        return dev ? std::make_unique<TimedDevice>(std::move(dev)) : nullptr;
    }

  private:
    std::shared_ptr<IHidBackend> b_;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Run(int reportLength) {
    camsim::UsbCamera cam;
    cam.name = "bench";
    cam.reportLength = reportLength;
    camsim::UsbSimServer server;
    int port = server.Start({cam});
    auto backend =
        std::make_shared<TimedBackend>(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
    CUSBDevice usb(backend);
    if (usb.DeviceOpen() != 1) {
        std::printf("L=%d: no device\n", reportLength);
        return;
    }
    UsbHandle h = usb.GetEntry(0).handle;
    constexpr uint32_t kCmd = 40009999;  // not a JSON command: the camera only answers a code

    // camsim answers an unknown command with its own negative code; only the
    // transport's codes mean the round trip itself failed.
    int32_t first = CUSBDevice::Transact(h, kCmd, nullptr, 0, nullptr, 0, nullptr, 5);
    for (int32_t transport : {kUsbWriteFailed, kUsbTimeout, kUsbInvalidHandle, kUsbAnswerTooLarge,
                              kUsbWaitFailed, kUsbBadAnswer}) {
        if (first == transport) {
            std::printf("L=%d: transaction failed with %d\n", reportLength, first);
            return;
        }
    }
    std::vector<double> rtt;
    for (int i = 0; i < 2000; ++i) {
        auto t0 = Clock::now();
        CUSBDevice::Transact(h, kCmd, nullptr, 0, nullptr, 0, nullptr, 5);
        rtt.push_back(Ms(Clock::now() - t0));
    }
    std::sort(rtt.begin(), rtt.end());
    std::printf("L=%4d  empty transaction: median %.3f ms, p99 %.3f ms (%zu runs)\n", reportLength,
                rtt[rtt.size() / 2], rtt[rtt.size() * 99 / 100], rtt.size());

    std::string payload(1 << 20, 'u');
    g_backendNs = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < 4; ++i)
        CUSBDevice::Transact(h, kCmd, payload.data(), static_cast<uint32_t>(payload.size()),
                             nullptr, 0, nullptr, 30);
    double total = Ms(Clock::now() - t0);
    double inBackend = static_cast<double>(g_backendNs.load()) / 1e6;
    int reports = 4 * static_cast<int>((payload.size() + reportLength - 14) / (reportLength - 13));
    std::printf(
        "L=%4d  4 MiB as 1 MiB payloads: %.1f ms, %.2f MiB/s, %d reports, "
        "%.1f%% of the time outside the backend\n",
        reportLength, total, 4.0 / (total / 1000.0), reports, 100.0 * (total - inBackend) / total);
    server.Stop();
}

}  // namespace

int main() {
    for (int L : {65, 1025}) Run(L);
    return 0;
}
