// usb CMD INDEX ...: the camera commands for the INDEX-th camera of "usb list".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CUSBDevice.h"
#include "CameraCommands.h"
#include "Commands.h"

namespace strevoctl {
namespace {

const std::string g_usbCameraHelp = CameraCommandsHelp("usb", "INDEX");

}  // namespace

const char* const kUsbCameraHelp = g_usbCameraHelp.c_str();

int RunUsbCamera(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::printf("%s", kUsbCameraHelp);
        return args.empty() ? 2 : 0;
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "strevoctl: usb %s needs INDEX (see --help)\n", args[0].c_str());
        return 2;
    }
    char* end = nullptr;
    long index = std::strtol(args[1].c_str(), &end, 10);
    if (args[1].empty() || *end || index < 0 || index > 1000) {
        std::fprintf(stderr, "strevoctl: INDEX must be a number as listed by usb list\n");
        return 2;
    }
    CameraCommand command;
    if (!ParseCameraCommand(args[0], Args(args.begin() + 2, args.end()), &command))
        return 2;
    InstallStderrMessages();

    if (!HidSimLinkReachable())
        return 1;
    strevo::CUSBDevice usb;
    int count = usb.RefreshDevices();
    if (index >= count) {
        std::fprintf(stderr, "strevoctl: no USB camera with index %ld (%d found)\n", index, count);
        return 1;
    }
    strevo::UsbHandle h = usb.GetEntry(static_cast<int>(index)).handle;
    CameraOps ops;
    ops.get = [&](strevo::VideoParam* p) { return usb.GetVideoParam(h, p); };
    ops.set = [&](const strevo::VideoParam* p) { return usb.SetVideoParam(h, p); };
    ops.setItem = [&](const char* items) { return usb.SetVideoParamItem(h, items); };
    ops.focusNear = [&] { return usb.GetFocusNear(h); };
    ops.defaults = [&] { return usb.SetDefaultParam(h); };
    ops.ptz = [&](const char* action, int ph, int pv) {
        std::string text;
        int32_t rc = strevo::BuildPtzText(action, ph, pv, &text);
        if (rc != 0)
            return rc;
        return strevo::CUSBDevice::Transact(h, strevo::kCmdPtzCtrl, text.c_str(),
                                            static_cast<uint32_t>(text.size() + 1), nullptr, 0,
                                            nullptr, 5);
    };
    return RunCameraCommand(command, ops);
}

}  // namespace strevoctl
