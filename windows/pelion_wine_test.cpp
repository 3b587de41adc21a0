// The SDK client on Windows sockets, against camsim's network cameras (started
// by camsim-wine-run in the same private network namespace): refused and
// rejected logins, text commands, a live stream stopped from outside and a
// log-out while a stream runs.
//   pelion_wine_test.exe
// camsim runs at least two network cameras, at 127.0.0.2 and 127.0.0.3.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "PELION_SDK.h"
#include "WinCheck.h"

namespace {

const char kGetText[] = "{\"Cmd\":\"ReqGetVideoParam\",\"wCmdId\":40001089,\"Content\":{}}";
const char kSetText[] =
    "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
    "\"VideoParam\":{\"Luminance\":77}}}";
constexpr DWORD kFramesWithinMs = 10000;

LoginInfo Login(const char* ip, const char* password = "quolt") {
    LoginInfo info{};
    std::strncpy(info.ip, ip, sizeof info.ip - 1);
    info.port = PELION_DEFAULT_PORT;
    std::strcpy(info.user, "admin");
    std::strncpy(info.password, password, sizeof info.password - 1);
    return info;
}

int32_t Send(int32_t login, const char* text, std::string* answer) {
    char buf[4096] = {};
    int32_t len = sizeof buf;
    int32_t r =
        PELION_SendRobotText(login, text, static_cast<int32_t>(std::strlen(text) + 1), buf, &len);
    *answer = r == 0 ? std::string(buf) : std::string();
    return r;
}

struct Frames {
    std::atomic<int> count{0};
    std::atomic<int> h264{0};
};

void PELION_API OnStream(int32_t, const uint8_t* data, uint32_t length, uint32_t type, void* user) {
    auto* frames = static_cast<Frames*>(user);
    frames->count.fetch_add(1);
    // Annex B: every access unit starts with a start code.
    if (type == PELION_DATA_H264 && length > 4 && data[0] == 0 && data[1] == 0)
        frames->h264.fetch_add(1);
}

bool WaitFrames(const Frames& frames, int n) {
    DWORD start = GetTickCount();
    while (frames.count.load() < n && GetTickCount() - start < kFramesWithinMs) Sleep(20);
    return frames.count.load() >= n;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (!CHECK(PELION_Init(0) == PELION_OK))
        return wincheck::Finish();

    // Nothing listens at this address: refused at once, not a time-out.
    CHECK(PELION_Login(Login("127.0.0.99"), nullptr, 0, 0, 0, 0) == -1);
    CHECK(PELION_GetLastError() == PELION_ERR_REFUSED);
    CHECK(PELION_Login(Login("127.0.0.2", "wrong"), nullptr, 0, 0, 0, 0) == -1);
    CHECK(PELION_GetLastError() == PELION_ERR_PASSWORD);

    PELION_DEVICE_INFO info{};
    int32_t login = PELION_Login(Login("127.0.0.2"), &info, 0, 0, 0, 0);
    if (!CHECK(login >= 0))
        return wincheck::Finish();
    std::printf("logged in to %s (%s)\n", info.name, info.model);
    CHECK(std::strcmp(info.name, "IPC-1") == 0);

    // A setting written is read back.
    std::string answer;
    CHECK(Send(login, kSetText, &answer) == 0);
    CHECK(Send(login, kGetText, &answer) == 0);
    CHECK(answer.find("\"Luminance\":77") != std::string::npos);

    // A stream delivers H.264 until stopped; commands go on meanwhile.
    Frames frames;
    int32_t play = PELION_StartRealPlay(login, 0, 1, OnStream, &frames);
    if (CHECK(play >= 0)) {
        CHECK(WaitFrames(frames, 5));
        CHECK(frames.h264.load() > 0);
        CHECK(Send(login, kGetText, &answer) == 0);
        CHECK(PELION_StopRealPlay(play) == PELION_OK);
        int after = frames.count.load();
        Sleep(300);
        CHECK(frames.count.load() == after);  // no callback after the stop returned
    }

    // A second camera, and a log-out that ends its running stream.
    int32_t other = PELION_Login(Login("127.0.0.3"), nullptr, 0, 0, 0, 0);
    if (CHECK(other >= 0)) {
        Frames more;
        int32_t play2 = PELION_StartRealPlay(other, 0, 1, OnStream, &more);
        CHECK(play2 >= 0 && WaitFrames(more, 2));
        CHECK(PELION_LogOut(other) == PELION_OK);
        int after = more.count.load();
        Sleep(300);
        CHECK(more.count.load() == after);
        CHECK(PELION_StopRealPlay(play2) == PELION_ERR_BAD_HANDLE);
    }

    CHECK(PELION_LogOut(login) == PELION_OK);
    CHECK(Send(login, kGetText, &answer) == PELION_ERR_BAD_HANDLE);
    CHECK(PELION_Cleanup() == PELION_OK);
    return wincheck::Finish();
}
