// ip CMD ADDRESS ...: the camera commands for a network camera, over a login
// of its own that ends with the command; ip stream ADDRESS: its main stream;
// ip snapshot ADDRESS: one picture of it.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "CameraCommands.h"
#include "Commands.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "movra.h"

namespace strevoctl {
namespace {

const std::string g_ipCameraHelp = CameraCommandsHelp("ip", "ADDRESS");

using Clock = std::chrono::steady_clock;

// What the main stream delivered. Written by the SDK's stream thread only; read
// once the stream has been stopped, which waits for that thread.
struct StreamTally {
    FILE* out = nullptr;
    bool writeFailed = false;
    uint32_t dataType = 0;
    long long frames = 0;
    long long bytes = 0;
    Clock::time_point first{}, last{};

    static void PELION_API Callback(int32_t, const uint8_t* data, uint32_t length,
                                    uint32_t dataType, void* user) {
        auto* t = static_cast<StreamTally*>(user);
        const auto now = Clock::now();
        if (t->frames++ == 0)
            t->first = now;
        t->last = now;
        t->bytes += length;
        t->dataType = dataType;
        if (t->out && !t->writeFailed && std::fwrite(data, 1, length, t->out) != length)
            t->writeFailed = true;
    }
};

int LoginTo(const std::string& address, int32_t* handle) {
    LoginInfo login = strevo::ProgramLoginInfo(address.c_str());
    PELION_Init(0);
    char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
    *handle = PELION_Login(login, deviceInfo, 0, 0, 0, 0);
    if (*handle >= 0)
        return 0;
    int32_t err = PELION_GetLastError();
    PELION_Cleanup();
    return Fail("login to " + address + " failed", err < 0 ? err : *handle);
}

bool ValidAddress(const std::string& address) {
    if (!address.empty() && address.size() < sizeof LoginInfo{}.ip)
        return true;
    std::fprintf(stderr, "strevoctl: '%s' is not a camera address\n", address.c_str());
    return false;
}

int StreamUsage(const std::string& what) {
    std::fprintf(stderr, "strevoctl: %s\nusage:\n%s", what.c_str(), kIpStreamHelp);
    return 2;
}

}  // namespace

const char* const kIpCameraHelp = g_ipCameraHelp.c_str();
const char* const kIpStreamHelp =
    "  ip stream ADDRESS [--seconds N] [--out FILE]\n"
    "                              receive the main stream for N seconds (default 5,\n"
    "                              1 to 86400) and report frames, bytes and the\n"
    "                              measured rate; FILE receives the elementary stream\n"
    "                              (H.264 Annex B, or MPEG-4 Part 2 from such cameras)\n";

int RunIpStream(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::printf("%s", kIpStreamHelp);
        return args.empty() ? 2 : 0;
    }
    const std::string& address = args[0];
    int seconds = 5;
    std::string outPath;
    for (size_t i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--seconds" && hasValue) {
            const std::string& v = args[++i];
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 86400)
                return StreamUsage("--seconds takes 1 to 86400");
            seconds = static_cast<int>(n);
        } else if (args[i] == "--out" && hasValue) {
            outPath = args[++i];
            if (outPath.empty())
                return StreamUsage("--out needs a file name");
        } else if (args[i] == "--seconds" || args[i] == "--out") {
            return StreamUsage(args[i] + " needs a value");
        } else {
            return StreamUsage("unknown argument '" + args[i] + "'");
        }
    }
    if (!ValidAddress(address))
        return 2;

    StreamTally tally;
    if (!outPath.empty()) {
        tally.out = std::fopen(outPath.c_str(), "wb");
        if (!tally.out) {
            std::fprintf(stderr, "strevoctl: cannot write %s: %s\n", outPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    int32_t login = -1;
    if (int status = LoginTo(address, &login)) {
        if (tally.out)
            std::fclose(tally.out);
        return status;
    }
    int32_t play = PELION_StartRealPlay(login, 0, 0, &StreamTally::Callback, &tally);
    int status = 0;
    Clock::time_point started{}, stopped{};
    if (play < 0) {
        status = Fail("stream request to " + address + " failed", PELION_GetLastError());
    } else {
        started = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        stopped = Clock::now();
        PELION_StopRealPlay(play);  // returns once no callback runs: the tally is final
    }
    PELION_LogOut(login);
    PELION_Cleanup();
    if (tally.out && std::fclose(tally.out) != 0)
        tally.writeFailed = true;
    if (status != 0)
        return status;

    const double span = std::chrono::duration<double>(tally.last - tally.first).count();
    const char* type = tally.dataType == PELION_DATA_H264    ? "H.264"
                       : tally.dataType == PELION_DATA_MPEG4 ? "MPEG-4"
                                                             : "unknown type";
    std::printf("frames=%lld bytes=%lld type=%s", tally.frames, tally.bytes, type);
    if (tally.frames >= 2 && span > 0)
        std::printf(" fps=%.2f kbit/s=%.1f", (tally.frames - 1) / span,
                    tally.bytes * 8.0 / 1000.0 * (tally.frames - 1) / tally.frames / span);
    std::printf("\n");
    std::fflush(stdout);
    if (tally.writeFailed)
        return Fail("writing " + outPath + " failed", -1);
    if (tally.frames == 0)
        return Fail("no stream data from " + address + " within " + std::to_string(seconds) + " s",
                    -1);
    // A camera that stops sending (or drops the connection) ends the stream
    // early: the figures above then cover only part of the time asked for.
    const double silent = std::chrono::duration<double>(stopped - tally.last).count();
    const double gap = tally.frames >= 2 ? span / static_cast<double>(tally.frames - 1) : 0;
    if (silent > std::max(2.0, 3 * gap)) {
        char took[32];
        std::snprintf(took, sizeof took, "%.1f",
                      std::chrono::duration<double>(tally.last - started).count());
        return Fail("the stream from " + address + " stopped after " + took + " s of " +
                        std::to_string(seconds) + " s",
                    -1);
    }
    return 0;
}

const char* const kIpSnapshotHelp =
    "  ip snapshot ADDRESS --out FILE.png [--seconds N]\n"
    "                              decode the main stream's first key frame and save it\n"
    "                              as PNG at the stream's size; gives up after N seconds\n"
    "                              (default 10)\n";

int RunIpSnapshot(const Args& args) {
    auto usage = [](const std::string& what) {
        std::fprintf(stderr, "strevoctl: %s\nusage:\n%s", what.c_str(), kIpSnapshotHelp);
        return 2;
    };
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::printf("%s", kIpSnapshotHelp);
        return args.empty() ? 2 : 0;
    }
    const std::string& address = args[0];
    int seconds = 10;
    std::string outPath;
    for (size_t i = 1; i < args.size(); ++i) {
        if ((args[i] == "--seconds" || args[i] == "--out") && i + 1 >= args.size())
            return usage(args[i] + " needs a value");
        if (args[i] == "--seconds") {
            const std::string& v = args[++i];
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 600)
                return usage("--seconds takes 1 to 600");
            seconds = static_cast<int>(n);
        } else if (args[i] == "--out") {
            outPath = args[++i];
        } else {
            return usage("unknown argument '" + args[i] + "'");
        }
    }
    if (outPath.empty())
        return usage("--out FILE.png is needed");
    if (!ValidAddress(address))
        return 2;
    const int32_t port = MV_OpenStream(0, 0);
    if (port < 0)
        return Fail("no stream player", port);
    int32_t login = -1;
    if (int status = LoginTo(address, &login)) {
        MV_VideoClose(port);
        return status;
    }
    auto feed = [](int32_t, const uint8_t* data, uint32_t length, uint32_t, void* user) {
        MV_VideoInputData(static_cast<int32_t>(reinterpret_cast<intptr_t>(user)), data, length);
    };
    const int32_t play = PELION_StartRealPlay(login, 0, 0, feed,
                                              reinterpret_cast<void*>(static_cast<intptr_t>(port)));
    int status = 0;
    if (play < 0) {
        status = Fail("stream request to " + address + " failed", PELION_GetLastError());
    } else {
        status = SaveFirstPicture(port, outPath, address, seconds, nullptr);
        PELION_StopRealPlay(play);
    }
    MV_VideoClose(port);
    PELION_LogOut(login);
    PELION_Cleanup();
    return status;
}

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
    if (!ValidAddress(address))
        return 2;
    CameraCommand command;
    if (!ParseCameraCommand(args[0], Args(args.begin() + 2, args.end()), &command))
        return 2;
    InstallStderrMessages();

    int32_t handle = -1;
    if (int status = LoginTo(address, &handle))
        return status;
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
