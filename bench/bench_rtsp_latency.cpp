// Delay from capture to picture over RTSP: camsim's cameras (in this process,
// 1080p30 with a busy band by default, no login) draw their capture time into
// the top rows of each picture. strevo's path reads the stream with
// rtsp::Source over TCP, feeds a player port and reads the stripe from the
// picture handed to a sink of a pane's size (by default one pane of the 2*2
// grid at the main window's default size, as bench_player uses; --pane full for
// the stream's own size); then, against the same
// cameras, ffmpeg decodes to gray in a child process and the stripe is read
// from each frame as it comes out of the pipe. The paths run one after the
// other so that neither takes the other's CPU; the cameras keep running.
// Run it inside scripts/netns-run (the cameras bind 127.0.0.K:554).
//
//   bench_rtsp_latency [--streams N] [--seconds S] [--video WxH@FPS] [--codec h264|h265]
//                      [--pane WxH|full]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include "Camsim.h"
#include "NetSimStamp.h"
#include "RtspSource.h"
#include "SimNetCameras.h"
#include "movra.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kStripeMask = (uint64_t{1} << camsim::stamp::kStripeTimeBits) - 1;

struct Sample {
    double at;       // seconds since the measurement started
    double delayMs;  // capture to picture
};

// Pictures of one stream, from any thread.
struct Collector {
    std::mutex mu;
    uint64_t startMicros = UINT64_MAX;  // pictures captured before are warm-up
    uint64_t stopMicros = UINT64_MAX;
    std::vector<Sample> samples;
    long pictures = 0;  // every picture seen, warm-up included
    long unreadable = 0;

    // One picture seen at now; ok when its stripe was read, captured the stripe's time.
    void Add(bool ok, uint64_t captured, uint64_t now) {
        std::lock_guard<std::mutex> lock(mu);
        ++pictures;
        if (!ok) {
            ++unreadable;
            return;
        }
        // The stripe holds the low 48 bits of the clock.
        const uint64_t full = (now & ~kStripeMask) | captured;
        const uint64_t at = full > now ? full - (kStripeMask + 1) : full;
        if (at < startMicros || at >= stopMicros)
            return;
        samples.push_back({(at - startMicros) / 1e6, (double(now) - double(at)) / 1e3});
    }
};

// Delays from camsim's send stamp to the unit's arrival, in microseconds.
struct Arrivals {
    std::mutex mu;
    std::vector<double> ms;
    void Add(uint64_t micros) {
        std::lock_guard<std::mutex> lock(mu);
        ms.push_back(micros / 1e3);
    }
};

// Luma of the rows from y of an RGB32 picture, as a viewer of the pane would see it.
void Luma(const MV_Picture* p, int y0, int rows, std::vector<uint8_t>* gray) {
    gray->assign(static_cast<size_t>(p->width) * rows, 0);
    for (int y = 0; y < rows && y0 + y < p->height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            reinterpret_cast<const uint8_t*>(p->pixels) + static_cast<size_t>(y0 + y) * p->stride);
        uint8_t* out = gray->data() + static_cast<size_t>(y) * p->width;
        for (int x = 0; x < p->width; ++x) {
            const uint32_t c = row[x];
            out[x] = static_cast<uint8_t>(
                (77 * ((c >> 16) & 0xFF) + 150 * ((c >> 8) & 0xFF) + 29 * (c & 0xFF)) >> 8);
        }
    }
}

// strevo's path for one camera.
struct PlayerStream {
    std::string url;
    int paneWidth = 0, paneHeight = 0;  // 0: the stream's own size
    int width = 0, height = 0;
    Collector out;
    Arrivals arrival;
    std::atomic<bool> stop{false};
    std::atomic<int32_t> error{0};
    MV_Stats stats{};
    std::vector<uint8_t> gray;  // the port's thread only

    static void Size(void* user, int32_t* w, int32_t* h) {
        auto* s = static_cast<PlayerStream*>(user);
        *w = s->width;
        *h = s->height;
    }
    static void Present(void* user, const MV_Picture* picture) {
        auto* s = static_cast<PlayerStream*>(user);
        const uint64_t now = camsim::stamp::NowMicros();
        // The stripe as the player scaled it into the pane's picture.
        const int rows = std::max(
            1, camsim::stamp::kStripeRows * picture->videoHeight / std::max(1, picture->sourceHeight));
        Luma(picture, picture->videoY, rows, &s->gray);
        uint64_t captured = 0;
        const bool ok = camsim::stamp::ReadScaledStripe(s->gray.data(), picture->width,
                                                        picture->videoX, 0, picture->videoWidth,
                                                        rows, &captured);
        s->out.Add(ok, captured, now);
    }
    void Run() {
        rtsp::Source source;
        rtsp::Options options;
        options.url = url;
        rtsp::StreamInfo info;
        int32_t rc = source.Open(options, &stop, &info);
        if (rc != rtsp::kOk) {
            error = rc;
            return;
        }
        width = paneWidth > 0 ? paneWidth : info.width;
        height = paneHeight > 0 ? paneHeight : info.height;
        const int32_t port = MV_OpenStream(0, 0);
        if (port < 0) {
            error = port;
            return;
        }
        MV_SetStreamCodec(port, info.codec);
        MV_RenderSink sink{this, &PlayerStream::Size, &PlayerStream::Present};
        MV_PlayEx(port, &sink);
        rtsp::Unit unit;
        while (!stop && (rc = source.Read(&unit)) == rtsp::kOk) {
            // camsim stamps each unit as it hands it to the server: the part of the delay
            // that lies before the player.
            uint64_t sent = 0;
            if (camsim::stamp::Find(unit.data, unit.size, &sent))
                arrival.Add(camsim::stamp::NowMicros() - sent);
            MV_VideoInputData(port, unit.data, unit.size);
        }
        if (!stop)
            error = rc;
        MV_GetStats(port, &stats);
        MV_VideoClose(port);
        source.Close();
    }
};

// The ffmpeg path for one camera: a child process decoding to gray on a pipe.
struct FfmpegStream {
    std::string url;
    int width = 0, height = 0;
    Collector out;
    pid_t pid = -1;
    int fd = -1;
    long shortReads = 0;

    bool Start() {
        int p[2];
        if (pipe(p) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            dup2(p[1], 1);
            close(p[0]);
            close(p[1]);
            execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-fflags",
                   "nobuffer", "-flags", "low_delay", "-rtsp_transport", "tcp", "-i", url.c_str(),
                   "-f", "rawvideo", "-pix_fmt", "gray", "pipe:", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(p[1]);
        fd = p[0];
        return pid > 0;
    }
    void Run() {
        std::vector<uint8_t> frame(static_cast<size_t>(width) * height);
        for (;;) {
            size_t got = 0;
            while (got < frame.size()) {
                const ssize_t n = read(fd, frame.data() + got, frame.size() - got);
                if (n <= 0) {
                    if (got > 0)
                        ++shortReads;
                    return;
                }
                got += static_cast<size_t>(n);
            }
            uint64_t captured = 0;
            const bool ok = camsim::stamp::ReadStripe(frame.data(), width, height, width, &captured);
            out.Add(ok, captured, camsim::stamp::NowMicros());
        }
    }
    void Stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (fd >= 0)
            close(fd);
    }
};

// Prints one path's figures; its median, or -1 when it has no picture.
double Report(const char* name, std::vector<Collector*> all, int seconds) {
    std::vector<Sample> samples;
    long pictures = 0, unreadable = 0;
    for (Collector* c : all) {
        samples.insert(samples.end(), c->samples.begin(), c->samples.end());
        pictures += c->pictures;
        unreadable += c->unreadable;
    }
    std::printf("%s: %zu pictures measured (%ld seen in all, %ld without a readable stripe)\n",
                name, samples.size(), pictures, unreadable);
    if (samples.empty())
        return -1;
    std::vector<double> delays;
    for (const Sample& s : samples) delays.push_back(s.delayMs);
    const double median = Percentile(delays, 0.5);
    std::printf("  median %6.1f ms   p90 %6.1f ms   p99 %6.1f ms   max %6.1f ms\n", median,
                Percentile(delays, 0.9), Percentile(delays, 0.99),
                *std::max_element(delays.begin(), delays.end()));
    std::printf("  median by tenth of the run (ms):");
    for (int k = 0; k < 10; ++k) {
        std::vector<double> part;
        for (const Sample& s : samples)
            if (s.at >= seconds * k / 10.0 && s.at < seconds * (k + 1) / 10.0)
                part.push_back(s.delayMs);
        std::printf(" %.1f", Percentile(part, 0.5));
    }
    std::printf("\n");
    return median;
}

// Waits until every collector has seen a picture; false after 30 s.
bool AllPlaying(const std::vector<Collector*>& all) {
    for (auto until = Clock::now() + std::chrono::seconds(30); Clock::now() < until;) {
        bool every = true;
        for (Collector* c : all) {
            std::lock_guard<std::mutex> lock(c->mu);
            every = every && c->pictures > 0;
        }
        if (every)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Measures from 2 s after the first pictures, for seconds.
void Measure(const std::vector<Collector*>& all, int seconds) {
    const uint64_t from = camsim::stamp::NowMicros() + 2000000;
    for (Collector* c : all) {
        std::lock_guard<std::mutex> lock(c->mu);
        c->startMicros = from;
        c->stopMicros = from + static_cast<uint64_t>(seconds) * 1000000;
    }
    // Pictures captured just before the end still arrive.
    std::this_thread::sleep_for(std::chrono::seconds(2 + seconds) + std::chrono::milliseconds(500));
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_rtsp_latency [--streams N] [--seconds S] [--video WxH@FPS] "
                 "[--codec h264|h265] [--pane WxH|full]\n"
                 "Run it inside scripts/netns-run: the cameras serve on 127.0.0.2 and up.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int streams = 4, seconds = 60;
    std::string video = "1920x1080@30", codec = "h264", pane = "397x287";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--streams" && more)
            streams = std::atoi(argv[++i]);
        else if (a == "--seconds" && more)
            seconds = std::atoi(argv[++i]);
        else if (a == "--video" && more)
            video = argv[++i];
        else if (a == "--codec" && more)
            codec = argv[++i];
        else if (a == "--pane" && more)
            pane = argv[++i];
        else
            return Usage();
    }
    if (streams < 1 || streams > 16 || seconds < 5 || (codec != "h264" && codec != "h265"))
        return Usage();
    int paneWidth = 0, paneHeight = 0;
    if (pane != "full" && (std::sscanf(pane.c_str(), "%dx%d", &paneWidth, &paneHeight) != 2 ||
                           paneWidth < camsim::stamp::kStripeMinWidth / 2 || paneHeight < 32))
        return Usage();
    if (!camsim::OnlyLoopbackLinks()) {
        std::fprintf(stderr, "bench_rtsp_latency: run it inside scripts/netns-run\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);

    SimNetCameras cams(streams, "127.0.0.2",
                       {"--net-video", video, "--net-busy", "--net-codec", codec, "--rtsp-no-auth"},
                       "LAT-", &camsim::MakeRtspModule);
    if (!cams.BadOption().empty())
        return Usage();
    if (!cams.Started())
        return 1;
    std::vector<std::string> urls;
    for (int i = 0; i < streams; ++i) urls.push_back("rtsp://" + cams.Address(i) + ":554/main");

    // strevo's path.
    std::vector<std::unique_ptr<PlayerStream>> players;
    std::vector<std::thread> threads;
    std::vector<Collector*> playerOut;
    for (const auto& url : urls) {
        players.push_back(std::make_unique<PlayerStream>());
        players.back()->url = url;
        players.back()->paneWidth = paneWidth;
        players.back()->paneHeight = paneHeight;
        playerOut.push_back(&players.back()->out);
    }
    for (auto& p : players) threads.emplace_back([&p] { p->Run(); });
    const bool playing = AllPlaying(playerOut);
    if (playing)
        Measure(playerOut, seconds);
    for (auto& p : players) p->stop = true;
    for (auto& t : threads) t.join();
    threads.clear();
    for (size_t i = 0; i < players.size(); ++i) {
        if (players[i]->error != 0)
            std::fprintf(stderr, "bench_rtsp_latency: strevo's path, stream %zu: %s\n", i + 1,
                         rtsp::ErrorText(players[i]->error));
    }
    if (!playing) {
        std::fprintf(stderr, "bench_rtsp_latency: strevo's path showed no pictures in 30 s\n");
        return 1;
    }

    // ffmpeg's path, the same cameras.
    int width = 0, height = 0;
    if (std::sscanf(video.c_str(), "%dx%d", &width, &height) != 2)
        return Usage();
    std::vector<std::unique_ptr<FfmpegStream>> ffmpegs;
    std::vector<Collector*> ffmpegOut;
    for (const auto& url : urls) {
        ffmpegs.push_back(std::make_unique<FfmpegStream>());
        auto& f = *ffmpegs.back();
        f.url = url;
        f.width = width;
        f.height = height;
        ffmpegOut.push_back(&f.out);
        if (!f.Start()) {
            std::fprintf(stderr, "bench_rtsp_latency: could not start ffmpeg\n");
            return 1;
        }
    }
    for (auto& f : ffmpegs) threads.emplace_back([&f] { f->Run(); });
    const bool ffmpegPlaying = AllPlaying(ffmpegOut);
    if (ffmpegPlaying)
        Measure(ffmpegOut, seconds);
    for (auto& f : ffmpegs) f->Stop();
    for (auto& t : threads) t.join();
    if (!ffmpegPlaying)
        std::fprintf(stderr, "bench_rtsp_latency: ffmpeg showed no pictures in 30 s\n");

    std::printf(
        "%d streams of %s %s over RTSP/TCP (busy picture, no login), one path after "
        "the other, %d s each after 2 s warm-up, %u cores; capture to picture:\n",
        streams, video.c_str(), codec.c_str(), seconds, std::thread::hardware_concurrency());
    for (size_t i = 0; i < players.size(); ++i) {
        const MV_Stats& s = players[i]->stats;
        std::printf(
            "  strevo stream %zu: %llu units in, %llu dropped, %llu decoded, %llu "
            "presented, %llu skipped, %llu decode errors\n",
            i + 1, (unsigned long long)s.unitsIn, (unsigned long long)s.unitsDropped,
            (unsigned long long)s.picturesDecoded, (unsigned long long)s.picturesPresented,
            (unsigned long long)s.picturesSkipped, (unsigned long long)s.decodeErrors);
    }
    const std::string ourName = "strevo (rtsp::Source, player, sink at " +
                                (pane == "full" ? std::string("the stream's size") : pane) + ")";
    const double ours = Report(ourName.c_str(), playerOut, seconds);
    std::vector<double> arrivals;
    for (auto& p : players) arrivals.insert(arrivals.end(), p->arrival.ms.begin(), p->arrival.ms.end());
    if (!arrivals.empty())
        std::printf("  of which camsim's send to rtsp::Source's unit (every unit, warm-up too): "
                    "median %.1f ms, p99 %.1f ms\n",
                    Percentile(arrivals, 0.5), Percentile(arrivals, 0.99));
    const double theirs =
        Report("ffmpeg -fflags nobuffer -flags low_delay to gray", ffmpegOut, seconds);
    if (ours > 0 && theirs > 0)
        std::printf("ratio of the medians, strevo / ffmpeg: %.2f\n", ours / theirs);
    return ours > 0 && theirs > 0 ? 0 : 1;
}
