// ONVIF over loopback against camsim's in-process cameras: a PTZ press (the
// client's ContinuousMove until the camera has taken it) and release (Stop),
// median and p99; and discovery of 200 cameras answering one multicast probe
// at once: when the last was listed. Run inside scripts/netns-run.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "OnvifClient.h"
#include "OnvifDiscovery.h"
#include "SimNetCameras.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

}  // namespace

int main() {
    if (!camsim::OnlyLoopbackLinks()) {
        std::fprintf(stderr, "bench_onvif multicasts: run it inside scripts/netns-run\n");
        return 2;
    }
    {
        SimNetCameras cams(1, "127.0.9.2", {"--onvif", "--onvif-port", "8080"}, "IPC-", nullptr,
                           camsim::MakeOnvifModule);
        if (!cams.Started())
            return 1;
        onvif::Client c;
        onvif::Options o;
        o.address = cams.Address(0) + ":8080";
        o.user = "admin";
        o.password = "quolt";
        if (c.Connect(o) != onvif::kOk) {
            std::fprintf(stderr, "connect: %s\n", c.LastError().text.c_str());
            return 1;
        }
        std::vector<double> press, release;
        onvif::PtzVelocity v;
        v.panX = 0.5;
        v.panY = 0;
        for (int i = 0; i < 300; ++i) {
            auto t0 = Clock::now();
            if (c.ContinuousMove("main", v) != onvif::kOk)
                return 1;
            auto t1 = Clock::now();
            if (c.Stop("main") != onvif::kOk)
                return 1;
            auto t2 = Clock::now();
            press.push_back(Ms(t0, t1));
            release.push_back(Ms(t1, t2));
        }
        std::printf("onvif ptz press -> ContinuousMove taken: median %.2f ms, p99 %.2f ms (%zu)\n",
                    Percentile(press, 0.5), Percentile(press, 0.99), press.size());
        std::printf("onvif ptz release -> Stop taken:         median %.2f ms, p99 %.2f ms (%zu)\n",
                    Percentile(release, 0.5), Percentile(release, 0.99), release.size());
    }
    SimNetCameras many(200, "127.0.10.2", {"--onvif", "--onvif-port", "8080"}, "IPC-", nullptr,
                       camsim::MakeOnvifModule);
    if (!many.Started())
        return 1;
    for (int round = 0; round < 3; ++round) {
        onvif::DiscoveryOptions d;
        d.waitMs = 1500;
        d.multicastInterface = "127.0.0.1";
        std::vector<onvif::DiscoveredCamera> found;
        const auto t0 = Clock::now();
        double last = 0;
        onvif::Discover(d, &found,
                        [&](const onvif::DiscoveredCamera&) { last = Ms(t0, Clock::now()); });
        std::printf("onvif discovery: %zu of 200 cameras listed, the last after %.1f ms%s\n",
                    found.size(), last,
                    found.size() == 200 && last <= 1000 ? "" : "  (target missed)");
    }
    return 0;
}
