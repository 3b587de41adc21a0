// Delay from a camera's send to the picture handed to the pane: simulated
// cameras stream (1080p30 with a busy band by default, replayed so that their
// encoders do not take the CPU the viewer is measured on), the SDK receives, the
// player decodes and draws into offscreen sinks of a pane's size. Each access
// unit carries camsim's send stamp; the player hands it back with the picture.
//
//   bench_preview_latency [--streams N] [--seconds S] [--video WxH@FPS] [--calm]
//                         [--pane WxH]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchStats.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "NetCommands.h"
#include "NetSimStamp.h"
#include "PELION_SDK.h"
#include "movra.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double at;       // seconds since the measurement started
    double delayMs;  // send stamp to present
};

struct Stream {
    int32_t port = -1;
    int32_t width = 0, height = 0;
    uint64_t startMicros = UINT64_MAX;  // guarded by mu; pictures sent before are warm-up
    long presented = 0;                 // guarded by mu
    std::mutex mu;
    std::vector<Sample> samples;
    long untagged = 0;

    static void Size(void* user, int32_t* w, int32_t* h) {
        auto* s = static_cast<Stream*>(user);
        *w = s->width;
        *h = s->height;
    }
    static void Present(void* user, const MV_Picture* picture) {
        auto* s = static_cast<Stream*>(user);
        const uint64_t now = camsim::stamp::NowMicros();
        volatile uint32_t touch = picture->pixels[picture->width / 2];  // as a view would read it
        (void)touch;
        std::lock_guard<std::mutex> lock(s->mu);
        ++s->presented;
        if (picture->tag <= 0) {
            ++s->untagged;
            return;
        }
        const auto sent = static_cast<uint64_t>(picture->tag);
        if (sent < s->startMicros)
            return;
        s->samples.push_back({(sent - s->startMicros) / 1e6, (double(now) - double(sent)) / 1e3});
    }
    static void PELION_API Data(int32_t, const uint8_t* data, uint32_t length, uint32_t,
                                void* user) {
        auto* s = static_cast<Stream*>(user);
        uint64_t sent = 0;
        if (camsim::stamp::Find(data, length, &sent))
            MV_VideoInputDataTagged(s->port, data, length, static_cast<int64_t>(sent));
        else
            MV_VideoInputData(s->port, data, length);
    }
};

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_preview_latency [--streams N] [--seconds S] [--video WxH@FPS] "
                 "[--calm] [--pane WxH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int streams = 4, seconds = 60, paneW = 397, paneH = 287;
    std::string video = "1920x1080@30";
    bool busy = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--streams" && more)
            streams = std::atoi(argv[++i]);
        else if (a == "--seconds" && more)
            seconds = std::atoi(argv[++i]);
        else if (a == "--video" && more)
            video = argv[++i];
        else if (a == "--calm")
            busy = false;
        else if (a == "--pane" && more && std::sscanf(argv[++i], "%dx%d", &paneW, &paneH) == 2)
            continue;
        else
            return Usage();
    }
    if (streams < 1 || streams > 16 || seconds < 5 || paneW < 16 || paneH < 16)
        return Usage();
    int fps = 0;
    if (const char* at = std::strchr(video.c_str(), '@'))
        fps = std::atoi(at + 1);

    camsim::World world;
    for (int i = 0; i < streams; ++i) {
        camsim::NetCamera cam;
        cam.address = camsim::NetCameraAddress(i, "127.79.0.2");
        cam.name = "LAT-" + std::to_string(i + 1);
        cam.identity = cam.name;
        cam.model = std::make_shared<camsim::CameraModel>(cam.name);
        world.net.push_back(cam);
    }
    auto net = camsim::MakeNetModule();
    std::vector<std::string> options = {"--net-video", video, "--net-replay"};
    if (busy)
        options.push_back("--net-busy");
    std::vector<char*> args;
    for (auto& o : options) args.push_back(o.data());
    for (int i = 0; i < static_cast<int>(args.size());) {
        int used = net->ParseOption(static_cast<int>(args.size()), args.data(), i);
        if (used <= 0)
            return Usage();
        i += used;
    }
    if (!net->Start(world))
        return 1;

    PELION_Init(0);
    std::vector<std::unique_ptr<Stream>> all;
    std::vector<int32_t> logins, plays;
    for (int i = 0; i < streams; ++i) {
        auto s = std::make_unique<Stream>();
        s->width = paneW;
        s->height = paneH;
        s->port = MV_OpenStream(0, 0);
        if (s->port < 0) {
            std::fprintf(stderr, "bench_preview_latency: no player port (%d)\n", s->port);
            return 1;
        }
        MV_RenderSink sink{s.get(), &Stream::Size, &Stream::Present};
        MV_PlayEx(s->port, &sink);
        int32_t login = PELION_Login(strevo::ProgramLoginInfo(world.net[i].address.c_str()),
                                     nullptr, 0, 0, 0, 0);
        int32_t play = login < 0 ? -1 : PELION_StartRealPlay(login, 0, 0, &Stream::Data, s.get());
        if (play < 0) {
            std::fprintf(stderr, "bench_preview_latency: stream %d failed (%d)\n", i,
                         PELION_GetLastError());
            return 1;
        }
        logins.push_back(login);
        plays.push_back(play);
        all.push_back(std::move(s));
    }
    // Measured from 2 s after every stream shows pictures (the cameras encode
    // their replay first).
    for (auto until = Clock::now() + std::chrono::seconds(60);;) {
        bool all_ = true;
        for (auto& s : all) {
            std::lock_guard<std::mutex> lock(s->mu);
            all_ = all_ && s->presented > 0;
        }
        if (all_)
            break;
        if (Clock::now() > until) {
            std::fprintf(stderr, "bench_preview_latency: no pictures within 60 s\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const uint64_t measureFrom = camsim::stamp::NowMicros() + 2000000;
    for (auto& s : all) {
        std::lock_guard<std::mutex> lock(s->mu);
        s->startMicros = measureFrom;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2 + seconds));
    for (size_t i = 0; i < all.size(); ++i) {
        PELION_StopRealPlay(plays[i]);
        MV_Stats stats{};
        MV_GetStats(all[i]->port, &stats);
        std::printf(
            "stream %zu: %llu units in, %llu dropped, %llu decoded, %llu presented, "
            "%llu skipped, %llu decode errors\n",
            i + 1, (unsigned long long)stats.unitsIn, (unsigned long long)stats.unitsDropped,
            (unsigned long long)stats.picturesDecoded, (unsigned long long)stats.picturesPresented,
            (unsigned long long)stats.picturesSkipped, (unsigned long long)stats.decodeErrors);
        MV_VideoClose(all[i]->port);
        PELION_LogOut(logins[i]);
    }
    PELION_Cleanup();
    net->Stop();

    std::vector<Sample> samples;
    long untagged = 0;
    for (auto& s : all) {
        samples.insert(samples.end(), s->samples.begin(), s->samples.end());
        untagged += s->untagged;
    }
    if (samples.empty()) {
        std::fprintf(stderr, "bench_preview_latency: no picture was presented\n");
        return 1;
    }
    std::vector<double> delays;
    for (const Sample& s : samples) delays.push_back(s.delayMs);
    std::printf("\n%d streams of %s%s into %dx%d sinks, %d s after 2 s warm-up, %u cores\n",
                streams, video.c_str(), busy ? " (busy)" : "", paneW, paneH, seconds,
                std::thread::hardware_concurrency());
    std::printf("send stamp to picture handed to the sink, %zu pictures (%ld untagged):\n",
                delays.size(), untagged);
    std::printf("  median %6.1f ms   p90 %6.1f ms   p99 %6.1f ms   max %6.1f ms\n",
                Percentile(delays, 0.5), Percentile(delays, 0.9), Percentile(delays, 0.99),
                *std::max_element(delays.begin(), delays.end()));
    if (fps > 0)
        std::printf("  one frame interval at %d fps: %.1f ms\n", fps, 1000.0 / fps);

    // Trend: the median of each tenth of the run, and the least-squares slope.
    std::printf("by tenth of the run (median / p99 ms):");
    for (int k = 0; k < 10; ++k) {
        std::vector<double> part;
        for (const Sample& s : samples)
            if (s.at >= seconds * k / 10.0 && s.at < seconds * (k + 1) / 10.0)
                part.push_back(s.delayMs);
        std::printf(" %.1f/%.1f", Percentile(part, 0.5), Percentile(part, 0.99));
    }
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        n += 1;
        sx += s.at;
        sy += s.delayMs;
        sxx += s.at * s.at;
        sxy += s.at * s.delayMs;
    }
    const double slope = (n * sxy - sx * sy) / std::max(1e-9, n * sxx - sx * sx);
    std::printf("\ntrend: %+.2f ms per minute\n", slope * 60);
    return 0;
}
