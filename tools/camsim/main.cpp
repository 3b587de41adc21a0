// camsim: simulated USB and network cameras on loopback.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "CameraModel.h"
#include "Camsim.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

const char* const kUsbNames[] = {"演播室摄像机", "Studio Cam", "会议室", "Stage Left"};

void Usage(const std::vector<std::unique_ptr<camsim::Module>>& modules) {
    std::printf(
        "usage: camsim [OPTION...]\n"
        "Simulated cameras on loopback. Runs until interrupted.\n\n"
        "  --usb N             number of simulated USB cameras (default 0)\n"
        "  --net N             number of simulated network cameras (default 0),\n"
        "                      at 127.0.0.2, 127.0.0.3, ...\n"
        "  --net-first ADDR    address of the first network camera (default 127.0.0.2)\n"
        "  --no-discovery      do not answer discovery broadcasts (network cameras then\n"
        "                      also run outside a private network namespace)\n"
        "  --help              this text\n");
    for (const auto& m : modules) std::printf("\n%s:\n%s", m->Name(), m->Usage());
}

bool ParseCount(const char* text, int max, int* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < 0 || v > max)
        return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::unique_ptr<camsim::Module>> modules;
    // The SDK, ONVIF and RTSP servers of a camera share its login and stream sizes.
    auto netSettings = std::make_shared<camsim::NetSettings>();
    modules.push_back(camsim::MakeUsbModule());
    modules.push_back(camsim::MakeNetModule(netSettings));
    modules.push_back(camsim::MakeDiscoveryModule());
    const camsim::Module* discoveryModule = modules.back().get();
#ifdef CAMSIM_ONVIF
    modules.push_back(camsim::MakeOnvifModule(netSettings));
#endif
    modules.push_back(camsim::MakeRtspModule(netSettings));

    int usbCount = 0, netCount = 0;
    std::string netFirst = "127.0.0.2";
    bool discovery = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(modules);
            return 0;
        }
        if ((a == "--usb" || a == "--net" || a == "--net-first") && i + 1 >= argc) {
            std::fprintf(stderr, "camsim: %s needs a value\n", a.c_str());
            return 2;
        }
        if (a == "--no-discovery") {
            discovery = false;
            continue;
        }
        if (a == "--usb") {
            if (!ParseCount(argv[++i], 64, &usbCount)) {
                std::fprintf(stderr, "camsim: --usb takes 0 to 64\n");
                return 2;
            }
            continue;
        }
        if (a == "--net") {
            if (!ParseCount(argv[++i], 4000, &netCount)) {
                std::fprintf(stderr, "camsim: --net takes 0 to 4000\n");
                return 2;
            }
            continue;
        }
        if (a == "--net-first") {
            netFirst = argv[++i];
            if (netFirst.rfind("127.", 0) != 0) {
                std::fprintf(stderr, "camsim: --net-first must be a loopback address\n");
                return 2;
            }
            continue;
        }
        int used = 0;
        for (auto& m : modules) {
            used = m->ParseOption(argc, argv, i);
            if (used != 0)
                break;
        }
        if (used < 0)
            return 2;
        if (used == 0) {
            std::fprintf(stderr, "camsim: unknown option %s (see --help)\n", argv[i]);
            return 2;
        }
        i += used - 1;
    }

    camsim::World world;
    for (int n = 0; n < usbCount; ++n) {
        camsim::UsbCamera cam;
        cam.name = std::string(kUsbNames[n % 4]) + " " + std::to_string(n + 1);
        cam.model = "TV-U" + std::to_string(200 + n % 3 * 10);
        char serial[32];
        std::snprintf(serial, sizeof serial, "SN%08d", 21000 + n);
        cam.serial = serial;
        cam.buildDate = "2026-10-0" + std::to_string(1 + n % 9);
        cam.biosVersion = 0x0102 + n;
        cam.productId = static_cast<uint16_t>(0x2001 + n % 2);
        cam.state = std::make_shared<camsim::CameraModel>(cam.name);
        world.usb.push_back(std::move(cam));
    }
    for (int n = 0; n < netCount; ++n) {
        camsim::NetCamera cam;
        cam.address = camsim::NetCameraAddress(n, netFirst);
        if (cam.address.empty()) {
            std::fprintf(stderr, "camsim: too many network cameras after %s\n", netFirst.c_str());
            return 2;
        }
        cam.name = "IPC-" + std::to_string(n + 1);
        char mac[32];
        std::snprintf(mac, sizeof mac, "00:1A:2B:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF,
                      n & 0xFF);
        cam.identity = mac;
        cam.model = std::make_shared<camsim::CameraModel>(cam.name);
        world.net.push_back(std::move(cam));
    }

    // The discovery responder answers broadcasts: only where nothing but
    // loopback exists (scripts/netns-run).
    if (!discovery) {
        modules.erase(std::remove_if(modules.begin(), modules.end(),
                                     [&](const auto& m) { return m.get() == discoveryModule; }),
                      modules.end());
    } else if (!world.net.empty() && !camsim::OnlyLoopbackLinks()) {
        std::fprintf(stderr,
                     "camsim: network cameras answer discovery broadcasts; run camsim inside "
                     "scripts/netns-run (or give --no-discovery)\n");
        return 2;
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    for (auto& m : modules) {
        if (!m->Start(world)) {
            std::fprintf(stderr, "camsim: %s failed to start\n", m->Name());
            for (auto& s : modules) s->Stop();
            return 1;
        }
    }
    std::printf("camsim: ready\n");
    std::fflush(stdout);
    while (!g_stop) usleep(50 * 1000);
    for (auto& m : modules) m->Stop();
    return 0;
}
