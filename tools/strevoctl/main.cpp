// strevoctl: command-line front end over the same core as strevo.
#include <clocale>
#include <cstdio>
#include <string>

#include "Commands.h"
#include "ModulePath.h"
#include "OperatorMessages.h"
#include "SettingsLocation.h"

namespace strevoctl {

int Fail(const std::string& what, int code) {
    std::fprintf(stderr, "strevoctl: %s (code %d)\n", what.c_str(), code);
    return 1;
}

}  // namespace strevoctl

namespace {

void PrintHelp() {
#ifdef STREVO_HAVE_ONVIF
    const char* const onvifHelp = strevoctl::kOnvifHelp;
#else
    const char* const onvifHelp = "  (not in this build)\n";
#endif
    std::printf(
        "usage: strevoctl GROUP COMMAND [ARG...]\n"
        "       strevoctl --version   version, settings file and log folder in use\n\n"
        "USB cameras (set STREVO_HID_SIM=HOST:PORT to reach camsim instead of hidapi):\n%s%s\n"
        "Network cameras:\n%s%s%s%s\n"
        "RTSP cameras:\n%s\n"
        "ONVIF cameras:\n%s\n"
        "Exit status: 0 on success; 1 when the camera or transport reports a failure\n"
        "(the message and the numeric code go to stderr); 2 for a usage error.\n",
        strevoctl::kUsbHelp, strevoctl::kUsbCameraHelp, strevoctl::kIpDiscoverHelp,
        strevoctl::kIpCameraHelp, strevoctl::kIpStreamHelp, strevoctl::kIpSnapshotHelp,
        strevoctl::kRtspHelp, onvifHelp);
}

// The version, and the settings file and log folder that a program in this
// folder uses (the same as strevo's once installed).
void PrintVersion() {
    std::printf("strevoctl %s\n", STREVO_VERSION);
    const std::string moduleDir = strevo::ModuleDirectory();
    if (moduleDir.empty()) {
        std::printf("settings: none (%s)\n", strevo::kModuleDirectoryTooLong);
        return;
    }
    const strevo::SettingsLocation where = strevo::ProgramSettingsLocation(moduleDir);
    std::printf("settings: %s\nlog: %s\n(%s)\n", where.configPath.c_str(), where.logDir.c_str(),
                where.installed ? "installed: in the user's folders" : "beside the program");
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    strevoctl::Args args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp();
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        PrintVersion();
        return 0;
    }
    std::string group = args[0];
    args.erase(args.begin());
    if (group == "usb")
        return strevoctl::RunUsb(args);
    if (group == "ip") {
        if (!args.empty() && args[0] == "discover") {
            args.erase(args.begin());
            return strevoctl::RunIpDiscover(args);
        }
        if (!args.empty() && args[0] == "stream") {
            args.erase(args.begin());
            return strevoctl::RunIpStream(args);
        }
        if (!args.empty() && args[0] == "snapshot") {
            args.erase(args.begin());
            return strevoctl::RunIpSnapshot(args);
        }
        return strevoctl::RunIpCamera(args);
    }
    if (group == "rtsp")
        return strevoctl::RunRtsp(args);
#ifdef STREVO_HAVE_ONVIF
    if (group == "onvif")
        return strevoctl::RunOnvif(args);
#endif
    std::fprintf(stderr, "strevoctl: unknown group '%s' (see --help)\n", group.c_str());
    return 2;
}
