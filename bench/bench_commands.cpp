// Round trip of the parameter read and of a one-item write over the HID link
// against an in-process simulated USB camera.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CUSBDevice.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "UsbSim.h"
#include "VideoParam.h"

namespace {

using Clock = std::chrono::steady_clock;

void Measure(const char* what, int runs, const std::function<int32_t()>& op) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(runs));
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        if (op() != 0)
            ++failures;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    auto at = [&us](double q) {
        return us[std::min(us.size() - 1, static_cast<size_t>(q * us.size()))];
    };
    std::printf("%-34s runs %5d  median %8.1f us  p99 %8.1f us  max %8.1f us  failures %d\n", what,
                runs, at(0.5), at(0.99), us.back(), failures);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (runs < 1)
        runs = 2000;

    camsim::UsbCamera cam;
    cam.name = "bench";
    cam.model = "TV-U200";
    cam.serial = "SN0";
    cam.buildDate = "2026-10-01";
    cam.state = std::make_shared<camsim::CameraModel>("bench");
    camsim::UsbSimServer server;
    int port = server.Start({cam});
    if (port <= 0) {
        std::fprintf(stderr, "bench_commands: HID link did not start\n");
        return 1;
    }
    strevo::CUSBDevice usb(strevo::MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
    usb.refreshSettleMs = 0;
    if (usb.RefreshDevices() != 1) {
        std::fprintf(stderr, "bench_commands: simulated camera not found\n");
        return 1;
    }
    strevo::UsbHandle h = usb.GetEntry(0).handle;
    std::printf("HID link, %d-byte reports, in-process camsim\n", cam.reportLength);

    Measure("ReqGetVideoParam (USB)", runs, [&] {
        strevo::VideoParam p{};
        return usb.GetVideoParam(h, &p);
    });
    int value = 0;
    Measure("ReqSetVideoParam one item (USB)", runs, [&] {
        std::string item = strevo::MakeVideoParamItem("Luminance", value++ % 101);
        return usb.SetVideoParamItem(h, item.c_str());
    });
    Measure("ReqSetVideoParam whole record (USB)", runs / 4 + 1, [&] {
        strevo::VideoParam p{};
        p.Luminance = 60;
        return usb.SetVideoParam(h, &p);
    });
    server.Stop();
    return 0;
}
