// rtsp probe|stream|snapshot URL: a camera's RTSP stream, decoded only for a snapshot. Passwords come from a
// file, the environment or (visible to other users) the command line, and are never printed.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Commands.h"
#include "RtspSource.h"
#include "movra.h"

namespace strevoctl {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted = true;
}

struct RtspArgs {
    rtsp::Options options;
    std::string shownUrl;  // without credentials
    int seconds = 5;
    std::string outPath;
};

int RtspUsage(const std::string& what) {
    std::fprintf(stderr, "strevoctl: %s\nusage:\n%s", what.c_str(), kRtspHelp);
    return 2;
}

// 0 when parsed; otherwise the exit status.
int ParseRtspArgs(const Args& args, bool stream, RtspArgs* out) {
    const bool snapshot = args[0] == "snapshot";
    if (args.size() < 2)
        return RtspUsage(args[0] + " needs URL");
    const std::string& url = args[1];
    // The text is not echoed: it may hold a password.
    if (!rtsp::ParseUrl(url, nullptr))
        return RtspUsage("URL is not an rtsp://[USER@]HOST[:PORT]/PATH address");
    out->options.url = url;
    out->shownUrl = rtsp::WithoutCredentials(url);
    std::string passwordFile;
    bool passwordGiven = false;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "--transport" || a == "--user" || a == "--password-file" ||
                                a == "--password" || ((stream || snapshot) && (a == "--seconds" || a == "--out"));
        if (!takesValue)
            return RtspUsage("unknown argument '" + a + "'");
        if (i + 1 >= args.size())
            return RtspUsage(a + " needs a value");
        const std::string& v = args[++i];
        if (a == "--transport") {
            if (v == "tcp")
                out->options.transport = rtsp::Transport::kTcp;
            else if (v == "udp")
                out->options.transport = rtsp::Transport::kUdp;
            else
                return RtspUsage("--transport takes tcp or udp");
        } else if (a == "--user") {
            out->options.user = v;
        } else if (a == "--password-file") {
            if (passwordGiven)
                return RtspUsage("give the password once");
            passwordFile = v;
            passwordGiven = true;
        } else if (a == "--password") {
            if (passwordGiven)
                return RtspUsage("give the password once");
            out->options.password = v;
            passwordGiven = true;
        } else if (a == "--seconds") {
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 86400)
                return RtspUsage("--seconds takes 1 to 86400");
            out->seconds = static_cast<int>(n);
        } else if (a == "--out") {
            if (v.empty())
                return RtspUsage("--out needs a file name");
            out->outPath = v;
        }
    }
    if (!passwordFile.empty()) {
        if (!ReadPasswordFile(passwordFile, &out->options.password)) {
            std::fprintf(stderr, "strevoctl: cannot read the password file %s: %s\n",
                         passwordFile.c_str(), std::strerror(errno));
            return 1;
        }
    } else if (!passwordGiven) {
        if (const char* env = std::getenv("STREVO_PASSWORD"))
            out->options.password = env;
    }
    if (!out->options.password.empty() && out->options.user.empty()) {
        // A password alone goes with the user name in the URL, if any.
        rtsp::UrlParts parts;
        rtsp::ParseUrl(url, &parts);
        out->options.user = parts.user;
    }
    return 0;
}

int OpenFailed(const RtspArgs& a, int32_t code) {
    return Fail(std::string(rtsp::ErrorText(code)) + ": " + a.shownUrl, code);
}

const char* CodecName(int32_t codec) {
    return codec == rtsp::kCodecH265 ? "H.265" : "H.264";
}

int Probe(const RtspArgs& a) {
    rtsp::Source source;
    rtsp::StreamInfo info;
    if (int32_t r = source.Open(a.options, &g_interrupted, &info); r < 0)
        return OpenFailed(a, r);
    std::printf("url=%s codec=%s width=%d height=%d fps=%.2f transport=%s\n", a.shownUrl.c_str(),
                CodecName(info.codec), info.width, info.height, info.fps,
                info.transport == rtsp::Transport::kUdp ? "udp" : "tcp");
    return 0;
}

int Snapshot(const RtspArgs& a) {
    if (a.outPath.empty())
        return RtspUsage("rtsp snapshot needs --out FILE.png");
    rtsp::Source source;
    rtsp::StreamInfo info;
    if (int32_t r = source.Open(a.options, &g_interrupted, &info); r < 0)
        return OpenFailed(a, r);
    const int32_t port = MV_OpenStream(0, 0);
    if (port < 0)
        return Fail("no stream player", port);
    MV_SetStreamCodec(port, info.codec == rtsp::kCodecH265 ? MV_CODEC_H265 : MV_CODEC_H264);
    int32_t ended = rtsp::kOk;
    const int status = SaveFirstPicture(port, a.outPath, a.shownUrl, a.seconds, [&] {
        rtsp::Unit unit;
        ended = source.Read(&unit);
        if (ended < 0)
            return false;
        MV_VideoInputData(port, unit.data, static_cast<uint32_t>(unit.size));
        return true;
    });
    MV_VideoClose(port);
    source.Close();
    if (status != 0 && ended < 0 && ended != rtsp::kErrStopped)
        std::fprintf(stderr, "strevoctl: the stream ended: %s\n", rtsp::ErrorText(ended));
    return status;
}

int Stream(const RtspArgs& a) {
    FILE* out = nullptr;
    if (!a.outPath.empty()) {
        out = std::fopen(a.outPath.c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "strevoctl: cannot write %s: %s\n", a.outPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    rtsp::Source source;
    rtsp::StreamInfo info;
    if (int32_t r = source.Open(a.options, &g_interrupted, &info); r < 0) {
        if (out)
            std::fclose(out);
        return OpenFailed(a, r);
    }
    long long frames = 0, bytes = 0;
    bool writeFailed = false;
    int32_t ended = rtsp::kOk;
    const Clock::time_point started = Clock::now();
    const Clock::time_point end = started + std::chrono::seconds(a.seconds);
    Clock::time_point first{}, last{};
    while (Clock::now() < end) {
        rtsp::Unit unit;
        const int32_t r = source.Read(&unit);
        if (r < 0) {
            ended = r;
            break;
        }
        // A file that starts with a key frame plays from its first byte.
        if (frames == 0 && !unit.key)
            continue;
        const Clock::time_point now = Clock::now();
        if (frames++ == 0)
            first = now;
        last = now;
        bytes += unit.size;
        if (out && !writeFailed && std::fwrite(unit.data, 1, unit.size, out) != unit.size)
            writeFailed = true;
    }
    source.Close();
    if (out && std::fclose(out) != 0)
        writeFailed = true;

    const double span = std::chrono::duration<double>(last - first).count();
    std::printf("frames=%lld bytes=%lld type=%s", frames, bytes, CodecName(info.codec));
    if (frames >= 2 && span > 0)
        std::printf(" fps=%.2f kbit/s=%.1f", (frames - 1) / span,
                    bytes * 8.0 / 1000.0 * (frames - 1) / frames / span);
    std::printf("\n");
    std::fflush(stdout);
    if (writeFailed)
        return Fail("writing " + a.outPath + " failed", -1);
    if (ended == rtsp::kErrStopped)
        return Fail("interrupted", ended);
    if (frames == 0)
        return Fail(
            "no stream data from " + a.shownUrl + " within " + std::to_string(a.seconds) + " s",
            ended < 0 ? ended : -1);
    if (ended < 0) {
        // The figures above cover only part of the time asked for.
        char took[32];
        std::snprintf(took, sizeof took, "%.1f",
                      std::chrono::duration<double>(last - started).count());
        return Fail("the stream from " + a.shownUrl + " stopped after " + took + " s of " +
                        std::to_string(a.seconds) + " s: " + rtsp::ErrorText(ended),
                    ended);
    }
    return 0;
}

}  // namespace

const char* const kRtspHelp =
    "  rtsp probe URL [OPTION...]  connect and print codec, size, rate and transport\n"
    "  rtsp snapshot URL --out FILE.png [--seconds N] [OPTION...]\n"
    "                              decode the first key frame and save it as PNG at\n"
    "                              the stream's size; gives up after N seconds (default 5)\n"
    "  rtsp stream URL [--seconds N] [--out FILE] [OPTION...]\n"
    "                              receive the video for N seconds (default 5, 1 to\n"
    "                              86400) and report frames, bytes and the measured\n"
    "                              rate, from the first key frame on; FILE receives\n"
    "                              the elementary stream (H.264 or H.265 Annex B)\n"
    "    URL is rtsp://[USER@]HOST[:PORT]/PATH; options:\n"
    "    --transport tcp|udp       RTP over the RTSP connection (default) or over UDP\n"
    "    --user U                  user name\n"
    "    --password-file F         password: the first line of F; otherwise the\n"
    "                              environment variable STREVO_PASSWORD\n"
    "    --password P              password on the command line (other users can see it)\n";

int RunRtsp(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::printf("%s", kRtspHelp);
        return args.empty() ? 2 : 0;
    }
    const bool stream = args[0] == "stream";
    const bool snapshot = args[0] == "snapshot";
    if (!stream && !snapshot && args[0] != "probe")
        return RtspUsage("unknown command 'rtsp " + args[0] + "'");
    RtspArgs a;
    if (int status = ParseRtspArgs(args, stream, &a))
        return status;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    return stream ? Stream(a) : snapshot ? Snapshot(a) : Probe(a);
}

}  // namespace strevoctl
