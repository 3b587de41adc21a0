// Round trips of text commands through the network camera SDK to an in-process
// simulated camera over loopback TCP.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CameraModel.h"
#include "Camsim.h"
#include "NetCommands.h"
#include "PELION_SDK.h"

namespace {

struct Figures {
    double median = 0, p99 = 0;
};

Figures Measure(int32_t login, const std::string& text, int32_t capacity, int rounds) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(rounds));
    std::vector<char> answer(static_cast<size_t>(capacity));
    for (int i = 0; i < rounds; ++i) {
        int32_t len = capacity;
        auto t0 = std::chrono::steady_clock::now();
        int32_t r = PELION_SendRobotText(login, text.c_str(), static_cast<int32_t>(text.size() + 1),
                                         answer.data(), &len);
        auto t1 = std::chrono::steady_clock::now();
        if (r != 0) {
            std::fprintf(stderr, "bench_sdk: command failed with %d\n", r);
            return {};
        }
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

void StreamSink(int32_t, const uint8_t*, uint32_t, uint32_t, void*) {}

}  // namespace

int main() {
    const int kRounds = 2000;
    camsim::World world;
    camsim::NetCamera cam;
    cam.address = "127.78.0.2";
    cam.name = "BENCH-1";
    cam.identity = "00:1A:2B:00:00:01";
    cam.model = std::make_shared<camsim::CameraModel>(cam.name);
    world.net.push_back(cam);
    auto net = camsim::MakeNetModule();
    if (!net->Start(world))
        return 1;

    PELION_Init(0);
    LoginInfo info = strevo::ProgramLoginInfo(cam.address.c_str());
    int32_t login = PELION_Login(info, nullptr, 0, 0, 0, 0);
    if (login < 0) {
        std::fprintf(stderr, "bench_sdk: login failed with %d\n", PELION_GetLastError());
        return 1;
    }
    const std::string get = "{\"Cmd\":\"ReqGetVideoParam\",\"wCmdId\":40001089,\"Content\":{}}";
    const std::string set =
        "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
        "\"VideoParam\":{\"Luminance\":60}}}";
    Measure(login, get, 3072, 100);  // warm up

    Figures g = Measure(login, get, 3072, kRounds);
    Figures s = Measure(login, set, 1024, kRounds);
    std::printf("sdk round trip over loopback, %d rounds each (microseconds):\n", kRounds);
    std::printf("  ReqGetVideoParam            median %8.1f   p99 %8.1f\n", g.median, g.p99);
    std::printf("  ReqSetVideoParam, one item  median %8.1f   p99 %8.1f\n", s.median, s.p99);

    // The same while the login's main stream is being encoded and delivered.
    int32_t play = PELION_StartRealPlay(login, 0, 0, &StreamSink, nullptr);
    if (play >= 0) {
        Figures gs = Measure(login, get, 3072, kRounds / 4);
        Figures ss = Measure(login, set, 1024, kRounds / 4);
        std::printf("while streaming 640x360 H.264, %d rounds each:\n", kRounds / 4);
        std::printf("  ReqGetVideoParam            median %8.1f   p99 %8.1f\n", gs.median, gs.p99);
        std::printf("  ReqSetVideoParam, one item  median %8.1f   p99 %8.1f\n", ss.median, ss.p99);
        PELION_StopRealPlay(play);
    }
    PELION_LogOut(login);
    PELION_Cleanup();
    net->Stop();
    return 0;
}
