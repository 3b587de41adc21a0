#include <algorithm>
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
    "                                    name, model, serial, BIOS version, build date;\n"
    "                                    a camera this user may not open is named on\n"
    "                                    stderr (status 1)\n"
    "  usb upgrade PACKAGE... [--devices LIST|all]\n"
    "                                    send the firmware packages, in order, to the\n"
    "                                    chosen cameras (LIST: indices as in usb list,\n"
    "                                    comma-separated; default all), all at once; one\n"
    "                                    line per camera and change of its status, then a\n"
    "                                    summary; status 0 only when every one succeeded\n"
    "  usb reboot [--devices LIST|all]   reboot the chosen cameras; they come back after a\n"
    "                                    while with new handles (run usb list again)\n"
    "  usb import FILE --devices LIST|all\n"
    "                                    send one 55-byte parameter file to the chosen\n"
    "                                    cameras, all at once; one line per camera (ok or\n"
    "                                    its code), then a summary; status 0 only when\n"
    "                                    every one took it\n";

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
    // A camera whose node this user may not open would otherwise just be missing.
    for (const std::string& path : usb.DeniedPaths())
        std::fprintf(stderr,
                     "strevoctl: permission denied on %s: install the udev rule or run as a "
                     "member of the group that owns it\n",
                     path.c_str());
    return usb.DeniedPaths().empty() ? 0 : 1;
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
    if (args[0] == "upgrade")
        return RunUsbUpgrade(Args(args.begin() + 1, args.end()));
    if (args[0] == "reboot")
        return RunUsbReboot(Args(args.begin() + 1, args.end()));
    // "usb import INDEX FILE" stays the one-camera command; --devices selects many.
    if (args[0] == "import" && std::find(args.begin(), args.end(), "--devices") != args.end())
        return RunUsbImportMany(Args(args.begin() + 1, args.end()));
    return RunUsbCamera(args);
}

}  // namespace strevoctl
