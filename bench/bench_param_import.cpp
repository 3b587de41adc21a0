// One parameter record into many USB cameras at once: the time from the start
// of a run to the last camera's answer, for 1 camera and for N (default 10)
// simulated cameras through the import engine, with the link unlimited and
// rate-limited like a full-speed HID camera (one report per millisecond each
// way). Prints the median and p90 of each and the ratio of N cameras' median
// to one camera's. The target (at most 1.5) is for the rate-limited link, the
// one a real camera has; over the unlimited link one camera takes a fraction
// of a millisecond and the figure only measures this machine's cores.
//
// usage: bench_param_import [--cameras N] [--runs R]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "CUSBDevice.h"
#include "ParamImportEngine.h"
#include "UsbSim.h"

using namespace strevo;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double medianMs = 0;
    double p90Ms = 0;
    bool ok = false;
};

Figures Measure(int cameras, bool limited, int runs) {
    std::vector<camsim::UsbCamera> cams(static_cast<size_t>(cameras));
    for (int i = 0; i < cameras; ++i) cams[static_cast<size_t>(i)].name = "bench" + std::to_string(i);
    camsim::UsbSimServer server;
    const int port = server.Start(cams);
    for (int i = 0; i < cameras; ++i)
        server.SetReportInterval(static_cast<size_t>(i), limited ? 1000 : 0);
    Figures f;
    CUSBDevice usb(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
    usb.refreshSettleMs = 0;
    if (port <= 0 || usb.RefreshDevices() != cameras) {
        std::printf("  could not open %d cameras\n", cameras);
        return f;
    }
    VideoParam record{};
    if (usb.GetVideoParam(usb.GetEntry(0).handle, &record) != 0) {
        std::printf("  could not read the record\n");
        return f;
    }
    ParamImportEngine engine;
    for (int i = 0; i < cameras; ++i) engine.AddRow(usb.GetEntry(i).handle);
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        record.Luminance = static_cast<uint8_t>(run % 100);
        const auto t0 = Clock::now();
        if (engine.Start(record) != 0)
            return f;
        engine.Join();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        for (const ImportRow& row : engine.Rows()) {
            if (row.code != 0) {
                std::printf("  camera %d failed: %d\n", row.id, row.code);
                return f;
            }
        }
    }
    f.medianMs = Percentile(ms, 0.5);
    f.p90Ms = Percentile(ms, 0.9);
    f.ok = true;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    int cameras = 10;
    int runs = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--cameras"))
            cameras = std::max(2, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    std::printf("parameter import: 1 camera against %d cameras at once, %d runs each\n", cameras,
                runs);
    bool allMet = true;
    for (bool limited : {false, true}) {
        const Figures one = Measure(1, limited, runs);
        const Figures many = Measure(cameras, limited, runs);
        if (!one.ok || !many.ok)
            return 1;
        const double ratio = many.medianMs / one.medianMs;
        const bool met = ratio <= 1.5;
        if (limited)
            allMet = allMet && met;
        std::printf(
            "%-26s 1 camera: median %7.2f ms, p90 %7.2f ms | %2d cameras: median %7.2f ms, "
            "p90 %7.2f ms | ratio %.2f (target <= 1.5: %s)\n",
            limited ? "link 1 report/ms:" : "link unlimited:", one.medianMs, one.p90Ms, cameras,
            many.medianMs, many.p90Ms, ratio,
            !limited ? "for information" : met ? "met" : "NOT met");
    }
    return allMet ? 0 : 1;
}
