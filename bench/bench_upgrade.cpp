// Firmware upgrade of many cameras at once: one package sent to 1, 2, 5 and
// 10 simulated cameras in parallel through the upgrade engine, with the link
// unlimited and rate-limited like a full-speed HID camera (one report per
// millisecond each way). Prints each camera's payload rate (from the start of
// its data to its last chunk's answer), the aggregate rate, and each camera's
// rate as a share of the single-camera rate of the same link.
//
// usage: bench_upgrade [--size-mib N] [--report-len L] [--counts 1,2,5,10]
//                      [--limited-only | --unlimited-only]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "UpgradeEngine.h"
#include "UsbSim.h"

using namespace strevo;
using Clock = std::chrono::steady_clock;

namespace {

// When each row started sending its data and when the last chunk was answered.
class Timing final : public IUpgradeListener {
  public:
    void OnUpgradeEvent(const UpgradeEvent& e) override {
        if (e.kind != UpgradeEvent::kRowChanged)
            return;
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mu_);
        if (e.row.state == kRowSending && !start_.count(e.row.id))
            start_[e.row.id] = now;
        if (e.row.state == kRowFlashing && !end_.count(e.row.id))
            end_[e.row.id] = now;
        if (e.row.state == kRowFailed)
            failed_[e.row.id] = e.row.status;
    }
    std::map<int, Clock::time_point> start_, end_;
    std::map<int, std::string> failed_;
    std::mutex mu_;
};

struct Result {
    std::vector<double> perDevice;  // MiB/s
    double aggregate = 0;           // MiB/s
    bool ok = true;
};

Result RunOnce(int cameras, int reportLength, bool limited, const std::string& package,
               double mib) {
    std::vector<camsim::UsbCamera> cams(static_cast<size_t>(cameras));
    for (int i = 0; i < cameras; ++i) {
        cams[static_cast<size_t>(i)].name = "bench" + std::to_string(i);
        cams[static_cast<size_t>(i)].reportLength = reportLength;
    }
    camsim::UsbSimServer server;
    const int port = server.Start(cams);
    for (int i = 0; i < cameras; ++i) {
        server.SetUpgradeTiming(static_cast<size_t>(i), 0, 0);  // no flash phase
        server.SetReportInterval(static_cast<size_t>(i), limited ? 1000 : 0);
    }
    Result r;
    CUSBDevice usb(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
    usb.refreshSettleMs = 0;
    if (usb.RefreshDevices() != cameras) {
        std::printf("  could not open %d cameras\n", cameras);
        r.ok = false;
        return r;
    }
    Timing timing;
    UpgradeEngine engine(&timing);
    for (int i = 0; i < cameras; ++i) engine.AddRow(usb.GetEntry(i).handle);
    engine.SetPackagePaths({package});
    if (engine.Start() != 0) {
        r.ok = false;
        return r;
    }
    engine.Join();
    std::lock_guard<std::mutex> lock(timing.mu_);
    for (const auto& [id, why] : timing.failed_) {
        std::printf("  camera %d failed: %s\n", id, why.c_str());
        r.ok = false;
    }
    if (!r.ok || timing.end_.size() != static_cast<size_t>(cameras))
        return r;
    Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
    for (int i = 0; i < cameras; ++i) {
        const auto s = timing.start_[i], e = timing.end_[i];
        r.perDevice.push_back(mib / std::chrono::duration<double>(e - s).count());
        first = std::min(first, s);
        last = std::max(last, e);
    }
    r.aggregate = mib * cameras / std::chrono::duration<double>(last - first).count();
    server.Stop();
    return r;
}

std::vector<int> ParseCounts(const char* text) {
    std::vector<int> out;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > 64)
            return {};
        out.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
        if (*end && *end != ',')
            return {};
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    double mib = 32;
    int reportLength = 1025;
    std::vector<int> counts = {1, 2, 5, 10};
    bool unlimited = true, limited = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--size-mib" && i + 1 < argc) {
            mib = std::atof(argv[++i]);
        } else if (a == "--report-len" && i + 1 < argc) {
            reportLength = std::atoi(argv[++i]);
        } else if (a == "--counts" && i + 1 < argc) {
            counts = ParseCounts(argv[++i]);
        } else if (a == "--limited-only") {
            unlimited = false;
        } else if (a == "--unlimited-only") {
            limited = false;
        } else {
            std::fprintf(stderr,
                         "usage: bench_upgrade [--size-mib N] [--report-len L] "
                         "[--counts 1,2,5,10] [--limited-only | --unlimited-only]\n");
            return 2;
        }
    }
    if (mib <= 0 || mib > 1024 || reportLength < 18 || reportLength > 65535 || counts.empty()) {
        std::fprintf(stderr, "bench_upgrade: bad arguments\n");
        return 2;
    }

    const auto dir = std::filesystem::temp_directory_path() /
                     ("bench_upgrade_" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    const std::string package = (dir / "uimage.dat").string();
    {
        std::vector<char> data(static_cast<size_t>(mib * 1048576));
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4099);
        std::ofstream(package, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
    }

    std::printf(
        "bench_upgrade: %.0f MiB package, %d-byte reports (%d payload bytes each), "
        "%u hardware threads\n",
        mib, reportLength, reportLength - 13, std::thread::hardware_concurrency());
    for (bool lim : {false, true}) {
        if ((lim && !limited) || (!lim && !unlimited))
            continue;
        std::printf("\n%s link\n", lim ? "rate-limited (1 report/ms each way)" : "unlimited");
        std::printf(
            "  cameras  per camera MiB/s (min / mean / max)  aggregate MiB/s  "
            "min share of single\n");
        double single = 0;
        for (int n : counts) {
            Result r = RunOnce(n, reportLength, lim, package, mib);
            if (!r.ok) {
                std::printf("  %7d  failed\n", n);
                continue;
            }
            const double lo = *std::min_element(r.perDevice.begin(), r.perDevice.end());
            const double hi = *std::max_element(r.perDevice.begin(), r.perDevice.end());
            double mean = 0;
            for (double v : r.perDevice) mean += v;
            mean /= static_cast<double>(r.perDevice.size());
            if (n == 1 || single == 0)
                single = mean;
            std::printf("  %7d  %8.3f / %8.3f / %8.3f           %8.3f        %6.1f %%\n", n, lo,
                        mean, hi, r.aggregate, 100.0 * lo / single);
            std::fflush(stdout);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
