// ip discover: runs the discovery library for a while and lists the cameras.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "scanlet.h"

namespace strevoctl {

const char* const kIpDiscoverHelp =
    "  ip discover [--seconds N]   broadcast the camera search for N seconds (default 2,\n"
    "                              1 to 3600), then print one tab-separated line per\n"
    "                              camera: address, identity, info2, info3, info5 to info9\n";

namespace {

constexpr int kMaxCameras = 1000;  // the library's table size

int UsageError(const char* what) {
    std::fprintf(stderr, "strevoctl: %s\nusage:\n%s", what, kIpDiscoverHelp);
    return 2;
}

}  // namespace

int RunIpDiscover(const Args& args) {
    int seconds = 2;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 3600) {
                return UsageError("--seconds takes 1 to 3600");
            }
            seconds = static_cast<int>(n);
        } else if (args[i] == "--seconds") {
            return UsageError("--seconds needs a value");
        } else {
            return UsageError(("unknown argument '" + args[i] + "'").c_str());
        }
    }

    if (BSC_Init() != 1) {
        return Fail("cannot start discovery (is UDP port 6002 in use?)", -1);
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::vector<DeviceInfo> devices(kMaxCameras);  // zero-filled, as the library expects
    int count = kMaxCameras;
    int ok = BSC_GetDevInfo(devices.data(), &count);
    BSC_DeInit();
    if (ok != 1)
        return Fail("reading the camera list failed", ok);

    for (int i = 0; i < count; ++i) {
        const DeviceInfo& d = devices[static_cast<size_t>(i)];
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", d.address, d.identity, d.info2, d.info3,
                    d.info5, d.info6, d.info7, d.info8, d.info9);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace strevoctl
