// Discovery benchmark: time from BSC_Init until every simulated camera is
// counted, for 20, 200 and 1000 cameras, and the receive thread's CPU time
// while nobody answers. Run it inside scripts/netns-run:
//   scripts/netns-run build/bench/bench_scanlet [IDLE_SECONDS]   (default 30)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "Camsim.h"
#include "scanlet.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs in a child process: the library's table lives as long as the process,
// so each size starts from an empty one.
int TimeToAllVisible(int cameras, const char* spreadMs) {
    camsim::World world;
    for (int i = 0; i < cameras; ++i) {
        camsim::NetCamera c;
        c.address = camsim::NetCameraAddress(i);
        c.name = "IPC-" + std::to_string(i + 1);
        c.identity = "BENCH-" + std::to_string(i);
        world.net.push_back(c);
    }
    auto responder = camsim::MakeDiscoveryModule();
    std::string opt = "--discovery-spread", value = spreadMs;
    char* argv[] = {opt.data(), value.data()};
    responder->ParseOption(2, argv, 0);
    std::fflush(stdout);
    int saved = dup(1);  // keep camsim's start line out of the figures
    if (freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    bool started = responder->Start(world);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (!started)
        return 1;

    auto t0 = Clock::now();
    if (BSC_Init() != 1) {
        std::fprintf(stderr, "bench_scanlet: BSC_Init failed\n");
        return 1;
    }
    int seen = 0;
    auto limit = t0 + std::chrono::seconds(20);  // three request rounds
    while ((seen = BSC_GetNum()) < cameras && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    BSC_DeInit();
    responder->Stop();
    if (seen < cameras) {
        std::printf("%6d cameras, spread %4s ms: only %d visible after %.0f ms\n", cameras,
                    spreadMs, seen, ms);
    } else {
        std::printf("%6d cameras, spread %4s ms: all visible after %8.1f ms\n", cameras, spreadMs,
                    ms);
    }
    std::fflush(stdout);
    return 0;
}

int IdleCpu(int seconds) {
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    if (BSC_Init() != 1) {
        std::fprintf(stderr, "bench_scanlet: BSC_Init failed\n");
        return 1;
    }
    // The main thread only sleeps, so the process's CPU time is the receive thread's.
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    BSC_DeInit();
    double cpu = CpuSeconds() - cpu0;
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("idle receive thread: %.3f ms CPU over %.1f s (%.4f%% of one core)\n", cpu * 1e3,
                wall, 100.0 * cpu / wall);
    return 0;
}

int InChild(int (*fn)(int, const char*), int n, const char* arg) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        int rc = fn(n, arg);
        std::fflush(stdout);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int idleSeconds = 30;
    if (argc > 2 || (argc == 2 && (idleSeconds = std::atoi(argv[1])) <= 0)) {
        std::fprintf(stderr, "usage: bench_scanlet [IDLE_SECONDS]   (inside scripts/netns-run)\n");
        return 2;
    }
    if (!camsim::OnlyLoopbackLinks()) {
        std::fprintf(stderr,
                     "bench_scanlet: refusing to broadcast here; run it inside "
                     "scripts/netns-run\n");
        return 2;
    }
    int failures = 0;
    std::printf("time from BSC_Init until BSC_GetNum counts every camera:\n");
    for (int n : {20, 200, 1000}) {
        for (const char* spread : {"0", "100"}) failures += InChild(TimeToAllVisible, n, spread);
    }
    failures += InChild([](int s, const char*) { return IdleCpu(s); }, idleSeconds, "");
    return failures ? 1 : 0;
}
