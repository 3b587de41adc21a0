// CPU cost of live preview: four 1080p30 H.264 streams through the stream player into
// offscreen sinks of the 2x2 panes' size, against plain decoding of the same four streams
// by "ffmpeg -threads 1 -i CLIP -f null -". Both are measured in the same run.
//
//   bench_player [--seconds N] [--pane WxH] [--preset NAME] [--kbps N]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "X264Clip.h"
#include "movra.h"

extern "C" {
#include <libavutil/log.h>
}

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kStreams = 4;
// One pane of the 2x2 layout at the main window's default size: the template's client area,
// 580x335 dialog units, is 1015x586 pixels with the default dialog font (base units 7 and 14);
// the panes share what the PTZ column (205 px) leaves: (1015 - 210 - 10) / 2 by
// (586 - 2 - 10) / 2.
constexpr int kPaneWidth = 397;
constexpr int kPaneHeight = 287;

struct Options {
    int seconds = 5;
    int paneWidth = kPaneWidth;
    int paneHeight = kPaneHeight;
    std::string preset = "veryfast";
    int kbps = 4000;
};

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A camera-like scene: a textured background that pans, a bright bar that sweeps across and
// a clock-like block that changes every frame.
void Paint(AVFrame* f, int i) {
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
        for (int x = 0; x < kWidth; ++x) {
            const unsigned texture = ((x + 3 * i) * 2654435761u ^ (y * 40503u)) >> 27;
            int v = 40 + ((x + 2 * i) / 4 + y / 6) % 140 + static_cast<int>(texture);
            if (std::abs(x - (i * 23) % kWidth) < 40)
                v = 230;
            if (x < 400 && y < 120)
                v = 16 + ((x / 40 + i) % 10) * 20;
            row[x] = static_cast<uint8_t>(v);
        }
    }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < kHeight / 2; ++y) {
            uint8_t* row = f->data[p] + static_cast<ptrdiff_t>(y) * f->linesize[p];
            for (int x = 0; x < kWidth / 2; ++x)
                row[x] = static_cast<uint8_t>(p == 1 ? 96 + (x + i) % 64 : 96 + (y + 2 * i) % 64);
        }
}

// The clip as access units, one per frame.
std::vector<strevotest::EncodedUnit> EncodeClip(const Options& o) {
    strevotest::X264Settings s;
    s.width = kWidth;
    s.height = kHeight;
    s.fps = kFps;
    s.gop = 2 * kFps;
    s.kbps = o.kbps;
    s.preset = o.preset;
    s.threads = 0;  // the encoding is not measured
    std::string error;
    std::vector<strevotest::EncodedUnit> units =
        strevotest::EncodeX264(s, o.seconds * kFps, Paint, &error);
    if (units.empty())
        std::fprintf(stderr, "bench_player: %s\n", error.c_str());
    return units;
}

// Four ffmpeg processes decoding the clip at once; their CPU time, or a negative value.
double FfmpegSeconds(const std::string& clip, double* wall) {
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    std::vector<pid_t> pids;
    for (int s = 0; s < kStreams; ++s) {
        const char* argv[] = {"ffmpeg",   "-nostdin", "-hide_banner", "-loglevel",  "error",
                              "-threads", "1",        "-i",           clip.c_str(), "-f",
                              "null",     "-",        nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            std::fprintf(stderr, "bench_player: cannot start ffmpeg (scripts/setup installs it)\n");
            break;
        }
        pids.push_back(pid);
    }
    bool ok = pids.size() == kStreams;
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    *wall = std::chrono::duration<double>(Clock::now() - start).count();
    return ok ? CpuSeconds(RUSAGE_CHILDREN) - before : -1;
}

// An offscreen pane: copies every picture, as the program's pane does.
struct Pane {
    std::vector<uint32_t> image;
    int width = 0;
    int height = 0;
    std::mutex mutex;
    std::condition_variable shown;
    int pictures = 0;

    static void Size(void* user, int32_t* w, int32_t* h) {
        auto* p = static_cast<Pane*>(user);
        *w = p->width;
        *h = p->height;
    }
    static void Present(void* user, const MV_Picture* picture) {
        auto* p = static_cast<Pane*>(user);
        p->image.resize(static_cast<size_t>(picture->width) * picture->height);
        for (int y = 0; y < picture->height; ++y)
            std::memcpy(&p->image[static_cast<size_t>(y) * picture->width],
                        reinterpret_cast<const uint8_t*>(picture->pixels) +
                            static_cast<size_t>(y) * picture->stride,
                        static_cast<size_t>(picture->width) * 4);
        std::lock_guard lock(p->mutex);
        ++p->pictures;
        p->shown.notify_one();
    }
    // Waits until at least n pictures were shown; the limit only guards against a lost one.
    void WaitFor(int n) {
        std::unique_lock lock(mutex);
        shown.wait_for(lock, std::chrono::seconds(1), [&] { return pictures >= n; });
    }
};

struct PlayerFigures {
    double cpu = -1;
    double wall = 0;
    MV_Stats total{};
};

// Four streams, each from its own sending thread like the SDK's: live, at the camera's rate;
// or each picture sent once the one before it was shown, so that every picture is drawn
// however busy the machine is (the player skips drawing pictures it cannot keep up with).
PlayerFigures PlayerSeconds(const std::vector<strevotest::EncodedUnit>& units, const Options& o,
                            bool live) {
    PlayerFigures f;
    Pane panes[kStreams];
    int32_t ports[kStreams];
    for (int s = 0; s < kStreams; ++s) {
        panes[s].width = o.paneWidth;
        panes[s].height = o.paneHeight;
        ports[s] = MV_OpenStream(0, 0);
        if (ports[s] < 0) {
            std::fprintf(stderr, "bench_player: no player port (%d)\n", ports[s]);
            return f;
        }
        MV_RenderSink sink{&panes[s], &Pane::Size, &Pane::Present};
        MV_PlayEx(ports[s], &sink);
    }
    const double before = CpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    std::vector<std::thread> senders;
    for (int s = 0; s < kStreams; ++s)
        senders.emplace_back([&, s] {
            // The cameras do not send in step.
            const auto first = start + std::chrono::milliseconds(8 * s);
            for (size_t i = 0; i < units.size(); ++i) {
                if (live) {
                    std::this_thread::sleep_until(first +
                                                  std::chrono::microseconds(1000000 / kFps) *
                                                      static_cast<int64_t>(i));
                } else {
                    // The first pictures wait for the next unit until the player trusts the
                    // sender's unit boundaries, so one picture may still be on its way.
                    panes[s].WaitFor(static_cast<int>(i) - 1);
                }
                MV_VideoInputData(ports[s], units[i].bytes.data(),
                                  static_cast<uint32_t>(units[i].bytes.size()));
            }
        });
    for (std::thread& t : senders) t.join();
    // Let the last pictures through before the clock stops.
    for (int s = 0; s < kStreams; ++s)
        for (int wait = 0; wait < 2000; ++wait) {
            MV_Stats st{};
            MV_GetStats(ports[s], &st);
            if (st.queuedUnits == 0 &&
                st.picturesDecoded + st.unitsDropped + st.decodeErrors >= units.size())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    f.wall = std::chrono::duration<double>(Clock::now() - start).count();
    f.cpu = CpuSeconds(RUSAGE_SELF) - before;
    for (int s = 0; s < kStreams; ++s) {
        MV_Stats st{};
        MV_GetStats(ports[s], &st);
        f.total.picturesDecoded += st.picturesDecoded;
        f.total.picturesPresented += st.picturesPresented;
        f.total.picturesSkipped += st.picturesSkipped;
        f.total.unitsDropped += st.unitsDropped;
        f.total.decodeErrors += st.decodeErrors;
        MV_VideoClose(ports[s]);
    }
    return f;
}

bool ParseArgs(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--seconds" && v) {
            o->seconds = std::max(1, std::atoi(v));
        } else if (a == "--pane" && v &&
                   std::sscanf(v, "%dx%d", &o->paneWidth, &o->paneHeight) == 2 &&
                   o->paneWidth > 0 && o->paneHeight > 0) {
        } else if (a == "--preset" && v) {
            o->preset = v;
        } else if (a == "--kbps" && v) {
            o->kbps = std::max(100, std::atoi(v));
        } else {
            std::fprintf(stderr,
                         "usage: bench_player [--seconds N] [--pane WxH] [--preset NAME] "
                         "[--kbps N]\n");
            return false;
        }
        ++i;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o))
        return 2;
    av_log_set_level(AV_LOG_ERROR);
    std::printf(
        "bench_player: %d streams of %dx%d@%d, %d s, libx264 %s %d kbit/s; panes %dx%d; "
        "%u cores\n",
        kStreams, kWidth, kHeight, kFps, o.seconds, o.preset.c_str(), o.kbps, o.paneWidth,
        o.paneHeight, std::thread::hardware_concurrency());
    const std::vector<strevotest::EncodedUnit> units = EncodeClip(o);
    if (units.empty())
        return 1;
    size_t bytes = 0;
    for (const auto& u : units) bytes += u.bytes.size();

    char path[] = "/tmp/strevo-bench-player-XXXXXX.h264";
    const int fd = mkstemps(path, 5);
    if (fd < 0) {
        std::perror("bench_player: temporary file");
        return 1;
    }
    bool written = true;
    for (const auto& u : units)
        written = written &&
                  write(fd, u.bytes.data(), u.bytes.size()) == static_cast<ssize_t>(u.bytes.size());
    close(fd);
    if (!written) {
        std::fprintf(stderr, "bench_player: cannot write %s\n", path);
        unlink(path);
        return 1;
    }
    std::printf("clip: %zu frames, %.0f kbit/s as encoded\n", units.size(),
                static_cast<double>(bytes) * 8 / 1000 / o.seconds);

    double ffmpegWall = 0;
    const double ffmpeg = FfmpegSeconds(path, &ffmpegWall);
    unlink(path);
    const double frames = static_cast<double>(units.size()) * kStreams;
    auto report = [&](const char* name, const PlayerFigures& p) {
        std::printf(
            "%s %.2f s CPU in %.2f s (%.2f ms per picture); decoded %llu, shown %llu, "
            "skipped %llu, dropped %llu, errors %llu\n",
            name, p.cpu, p.wall, p.cpu * 1000 / frames,
            static_cast<unsigned long long>(p.total.picturesDecoded),
            static_cast<unsigned long long>(p.total.picturesPresented),
            static_cast<unsigned long long>(p.total.picturesSkipped),
            static_cast<unsigned long long>(p.total.unitsDropped),
            static_cast<unsigned long long>(p.total.decodeErrors));
    };
    const PlayerFigures live = PlayerSeconds(units, o, true);
    const PlayerFigures all = PlayerSeconds(units, o, false);
    if (live.cpu < 0 || all.cpu < 0)
        return 1;
    report("player, live 30 fps:  ", live);
    report("player, all shown:    ", all);
    if (ffmpeg < 0) {
        std::printf("ffmpeg:  not measured\n");
        return 1;
    }
    std::printf("ffmpeg, decode only:   %.2f s CPU in %.2f s (%.2f ms per picture)\n", ffmpeg,
                ffmpegWall, ffmpeg * 1000 / frames);
    std::printf("ratio: live %.2fx, all shown %.2fx decode-only (target <= 1.30x)\n",
                live.cpu / ffmpeg, all.cpu / ffmpeg);
    if (live.total.picturesPresented < live.total.picturesDecoded * 95 / 100)
        std::printf(
            "note: live, the player fell behind and drew only %llu of %llu pictures (a "
            "busy machine?)\n",
            static_cast<unsigned long long>(live.total.picturesPresented),
            static_cast<unsigned long long>(live.total.picturesDecoded));
    return 0;
}
