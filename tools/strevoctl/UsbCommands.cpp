#include <cstdio>
#include <cstdlib>
#include <string>

#include "CUSBDevice.h"
#include "Commands.h"
#include "NetProbe.h"
#include "TextConv.h"

namespace strevoctl {

const char* const kUsbHelp =
    "  usb list                          one line per USB camera, tab-separated: index,\n"
    "                                    name, model, serial, BIOS version, build date\n";

namespace {

int ListDevices() {
    if (!HidSimLinkReachable())
        return 1;
    strevo::CUSBDevice usb;
    int count = usb.RefreshDevices();
    for (int i = 0; i < count; ++i) {
        const strevo::UsbDeviceEntry& e = usb.GetEntry(i);
        // Names are kept in the system code page; the terminal wants UTF-8.
        char name[128];
        int capacity = sizeof name;
        if (!strevo::AnsiToUtf8(e.name, name, &capacity))
            name[0] = '\0';
        std::printf("%d\t%s\t%s\t%s\t%s\t%s\n", i, name, e.model, e.serial, e.biosVersion,
                    e.buildDate);
    }
    return 0;
}

}  // namespace

bool HidSimLinkReachable() {
    const char* sim = std::getenv("STREVO_HID_SIM");
    if (!sim || !*sim)
        return true;
    std::string host;
    int port = 0;
    if (!strevo::ParseSimEndpoint(sim, &host, &port) ||
        strevo::ProbeTcpPort(host.c_str(), port, 1) != 1) {
        std::fprintf(stderr,
                     "strevoctl: STREVO_HID_SIM=%s: no camsim HID link answers there "
                     "(loopback HOST:PORT as printed by camsim)\n",
                     sim);
        return false;
    }
    return true;
}

int RunUsb(const Args& args) {
    if (args.empty()) {
        std::fprintf(stderr, "strevoctl: usb needs a command (see --help)\n");
        return 2;
    }
    if (args[0] == "list") {
        if (args.size() != 1) {
            std::fprintf(stderr, "strevoctl: usb list takes no arguments\n");
            return 2;
        }
        return ListDevices();
    }
    return RunUsbCamera(args);
}

}  // namespace strevoctl
