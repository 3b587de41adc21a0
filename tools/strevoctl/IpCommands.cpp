// ip CMD ADDRESS ...: the camera commands for a network camera, over a login
// of its own that ends with the command.
#include <cstdio>
#include <cstring>
#include <string>

#include "CameraCommands.h"
#include "Commands.h"
#include "NetCommands.h"
#include "PELION_SDK.h"

namespace strevoctl {
namespace {

const std::string g_ipCameraHelp = CameraCommandsHelp("ip", "ADDRESS");

}  // namespace

const char* const kIpCameraHelp = g_ipCameraHelp.c_str();

int RunIpCamera(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::printf("%s", kIpCameraHelp);
        return args.empty() ? 2 : 0;
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "strevoctl: ip %s needs ADDRESS (see --help)\n", args[0].c_str());
        return 2;
    }
    const std::string& address = args[1];
    LoginInfo login{};
    if (address.empty() || address.size() >= sizeof login.ip) {
        std::fprintf(stderr, "strevoctl: '%s' is not a camera address\n", address.c_str());
        return 2;
    }
    CameraCommand command;
    if (!ParseCameraCommand(args[0], Args(args.begin() + 2, args.end()), &command))
        return 2;
    InstallStderrMessages();

    login = strevo::ProgramLoginInfo(address.c_str());
    PELION_Init(0);
    char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
    int32_t handle = PELION_Login(login, deviceInfo, 0, 0, 0, 0);
    if (handle < 0) {
        int32_t err = PELION_GetLastError();
        PELION_Cleanup();
        return Fail("login to " + address + " failed", err < 0 ? err : handle);
    }
    strevo::NetCommandChannel channel;
    channel.SetDeviceHandle(handle);
    CameraOps ops;
    ops.get = [&](strevo::VideoParam* p) { return channel.GetVideoParam(p); };
    ops.set = [&](const strevo::VideoParam* p) { return channel.SetVideoParam(p); };
    ops.setItem = [&](const char* items) { return channel.SetVideoParamItem(items); };
    ops.focusNear = [&] { return channel.GetFocusNear(); };
    ops.defaults = [&] { return channel.SetDefaultParam(); };
    ops.ptz = [&](const char* action, int ph, int pv) { return channel.SendPtz(action, ph, pv); };
    int status = RunCameraCommand(command, ops);
    PELION_LogOut(handle);
    PELION_Cleanup();
    return status;
}

}  // namespace strevoctl
