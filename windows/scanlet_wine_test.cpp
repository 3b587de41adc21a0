// scanlet.dll as another Windows program uses it: loaded by name, its four
// functions looked up, cameras found among the answers of camsim (started by
// camsim-wine-run in the same private network namespace).
//   scanlet_wine_test.exe COUNT
// COUNT: how many network cameras camsim simulates, at 127.0.0.2 onwards.
#include <winsock2.h>
// after winsock2.h, or windows.h brings in the old winsock.h
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "WinCheck.h"
#include "scanlet.h"

namespace {

using InitFn = int (*)();
using GetNumFn = int (*)();
using GetDevInfoFn = int (*)(DeviceInfo*, int*);
using DeInitFn = int (*)();

constexpr int kProgramCapacity = 20;  // what the program passes
constexpr DWORD kFindWithinMs = 20000;
constexpr DWORD kStopLimitMs = 30000;

// GetProcAddress's generic pointer, through void (*)() as the compiler wants.
template <typename Fn>
Fn Lookup(HMODULE dll, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

// A text field holds its NUL within its width.
template <size_t N>
bool Terminated(const char (&field)[N]) {
    return std::memchr(field, '\0', N) != nullptr;
}

bool AllTerminated(const DeviceInfo& d) {
    return Terminated(d.address) && Terminated(d.info2) && Terminated(d.info3) &&
           Terminated(d.identity) && Terminated(d.info5) && Terminated(d.info6) &&
           Terminated(d.info7) && Terminated(d.info8) && Terminated(d.info9);
}

// What camsim reports for its camera number n (0-based).
void CheckCamera(const DeviceInfo& d, int count) {
    CHECK(AllTerminated(d));
    int last = 0;
    if (!CHECK(std::sscanf(d.address, "127.0.0.%d", &last) == 1))
        return;
    int n = last - 2;
    if (!CHECK(n >= 0 && n < count))
        return;
    char text[40];
    std::snprintf(text, sizeof text, "00:1A:2B:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF,
                  n & 0xFF);
    CHECK(std::strcmp(d.identity, text) == 0);
    std::snprintf(text, sizeof text, "IPC-%d", n + 1);
    CHECK(std::strcmp(d.info2, text) == 0);
    CHECK(std::strcmp(d.info3, n % 2 ? "TV-IP520" : "TV-IP310") == 0);
    CHECK(std::strcmp(d.info8, "36666") == 0);
    std::snprintf(text, sizeof text, "SN26%08d", n + 1);
    CHECK(std::strcmp(d.info9, text) == 0);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int count = argc > 1 ? std::atoi(argv[1]) : 0;
    if (count < 1 || count > kProgramCapacity) {
        std::printf("usage: scanlet_wine_test COUNT (1 to %d)\n", kProgramCapacity);
        return 2;
    }

    HMODULE dll = LoadLibraryA("scanlet.dll");
    if (!CHECK(dll != nullptr))
        return wincheck::Finish();
    auto init = Lookup<InitFn>(dll, "BSC_Init");
    auto getNum = Lookup<GetNumFn>(dll, "BSC_GetNum");
    auto getDevInfo = Lookup<GetDevInfoFn>(dll, "BSC_GetDevInfo");
    auto deInit = Lookup<DeInitFn>(dll, "BSC_DeInit");
    if (!CHECK(init && getNum && getDevInfo && deInit))
        return wincheck::Finish();

    if (!CHECK(init() == 1))
        return wincheck::Finish();

    // camsim answers the first request, sent at once; allow for a slow start.
    DWORD start = GetTickCount();
    int seen = 0;
    while ((seen = getNum()) < count && GetTickCount() - start < kFindWithinMs) Sleep(100);
    std::printf("found %d of %d cameras in %lu ms\n", seen, count,
                static_cast<unsigned long>(GetTickCount() - start));
    CHECK(seen == count);

    DeviceInfo devices[kProgramCapacity] = {};
    int n = kProgramCapacity;
    CHECK(getDevInfo(devices, &n) == 1);
    CHECK(n == count);
    unsigned seenMask = 0;
    for (int i = 0; i < n && i < kProgramCapacity; ++i) {
        std::printf("  %-15s %-17s %-8s %s\n", devices[i].address, devices[i].identity,
                    devices[i].info3, devices[i].info2);
        CheckCamera(devices[i], count);
        int last = 0;
        if (std::sscanf(devices[i].address, "127.0.0.%d", &last) == 1 && last >= 2 &&
            last < 2 + kProgramCapacity)
            seenMask |= 1u << (last - 2);
    }
    CHECK(seenMask == (1u << count) - 1);  // each camera once

    // Null pointers write nothing; the capacity bounds what is written.
    CHECK(getDevInfo(nullptr, &n) == 0);
    DeviceInfo one[2];
    std::memset(one, 0x5A, sizeof one);
    CHECK(getDevInfo(one, nullptr) == 0);
    CHECK(static_cast<unsigned char>(one[0].address[0]) == 0x5A);
    n = 1;
    CHECK(getDevInfo(one, &n) == 1 && n == 1);
    CHECK(AllTerminated(one[0]));
    CHECK(static_cast<unsigned char>(one[1].address[0]) == 0x5A);
    n = 0;
    CHECK(getDevInfo(one, &n) == 1 && n == 0);

    start = GetTickCount();
    CHECK(deInit() == 1);
    DWORD stopMs = GetTickCount() - start;
    std::printf("BSC_DeInit returned after %lu ms\n", static_cast<unsigned long>(stopMs));
    CHECK(stopMs < kStopLimitMs);

    // The library leaves Winsock started for the whole process: this program
    // never calls WSAStartup itself.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    CHECK(s != INVALID_SOCKET);
    if (s != INVALID_SOCKET)
        closesocket(s);

    // The stopped library closed its socket, so a new start binds the port again.
    CHECK(init() == 1);
    CHECK(deInit() == 1);
    return wincheck::Finish();
}
