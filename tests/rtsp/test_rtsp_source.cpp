// The RTSP source against GStreamer's RTSP server: pictures over both transports and both
// codecs, refusals told apart, and no call that outlives its limit or the stop flag.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "RtspPeer.h"
#include "RtspSource.h"
#include "movra.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using rtsptest::RtspPeer;

namespace {

// Records the decoded size of every picture the player shows.
struct SizeSink {
    std::mutex mutex;
    int pictures = 0;
    int width = 0, height = 0;
    MV_RenderSink sink{this, nullptr, &SizeSink::Present};
    static void Present(void* user, const MV_Picture* p) {
        auto* self = static_cast<SizeSink*>(user);
        std::lock_guard lock(self->mutex);
        ++self->pictures;
        self->width = p->sourceWidth;
        self->height = p->sourceHeight;
    }
};

bool HasNal(const rtsp::Unit& u, int codec, int wanted) {
    for (uint32_t i = 0; i + 3 < u.size; ++i)
        if (u.data[i] == 0 && u.data[i + 1] == 0 && u.data[i + 2] == 1) {
            const int type =
                codec == rtsp::kCodecH265 ? (u.data[i + 3] >> 1) & 0x3f : u.data[i + 3] & 0x1f;
            if (type == wanted)
                return true;
        }
    return false;
}

int64_t MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(RtspSource, PicturesArriveAtTheServedSizeForEachCodecAndTransport) {
    struct Case {
        const char* codec;
        int width, height;
        rtsp::Transport transport;
    };
    // The H.265 peer keeps its parameter sets in the SDP only: the source must put them in
    // band.
    const Case cases[] = {{"h264", 320, 240, rtsp::Transport::kTcp},
                          {"h264", 320, 240, rtsp::Transport::kUdp},
                          {"h265", 352, 288, rtsp::Transport::kTcp},
                          {"h265", 352, 288, rtsp::Transport::kUdp}};
    for (const Case& c : cases) {
        const bool udp = c.transport == rtsp::Transport::kUdp;
        SCOPED_TRACE(std::string(c.codec) + (udp ? " over UDP" : " over TCP"));
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        RtspPeer peer({"--codec", c.codec, "--size", size});
        ASSERT_TRUE(peer.running());
        rtsp::Options options;
        options.url = peer.Url();
        options.transport = c.transport;
        rtsp::Source source;
        rtsp::StreamInfo info;
        ASSERT_EQ(source.Open(options, nullptr, &info), rtsp::kOk);
        const int codec = std::string(c.codec) == "h265" ? rtsp::kCodecH265 : rtsp::kCodecH264;
        EXPECT_EQ(info.codec, codec);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.transport, c.transport);

        SizeSink sink;
        const int32_t port = MV_OpenStream(0, 0);
        ASSERT_GE(port, 0);
        ASSERT_EQ(MV_SetStreamCodec(port, info.codec), MV_OK);
        ASSERT_EQ(MV_PlayEx(port, &sink.sink), MV_OK);
        const int sps = codec == rtsp::kCodecH265 ? 33 : 7;
        int keys = 0;
        int64_t lastPts = -1;
        for (int i = 0; i < 40; ++i) {
            rtsp::Unit unit;
            ASSERT_EQ(source.Read(&unit), rtsp::kOk) << "unit " << i;
            ASSERT_GT(unit.size, 4u);
            ASSERT_TRUE(unit.data[0] == 0 && unit.data[1] == 0) << "not Annex B";
            if (unit.key) {
                ++keys;
                EXPECT_TRUE(HasNal(unit, codec, sps)) << "key frame " << i << " without SPS";
            }
            EXPECT_GE(unit.ptsMicros, lastPts) << "time stamps run backwards";
            lastPts = unit.ptsMicros;
            ASSERT_EQ(MV_VideoInputData(port, unit.data, unit.size), MV_OK);
        }
        EXPECT_GE(keys, 1);
        const auto end = Clock::now() + 10s;
        for (;;) {
            {
                std::lock_guard lock(sink.mutex);
                if (sink.pictures >= 10 || Clock::now() > end)
                    break;
            }
            std::this_thread::sleep_for(10ms);
        }
        MV_Stats stats{};
        MV_GetStats(port, &stats);
        MV_VideoClose(port);
        EXPECT_GE(sink.pictures, 10) << "decode errors " << stats.decodeErrors;
        EXPECT_EQ(sink.width, c.width);
        EXPECT_EQ(sink.height, c.height);
        EXPECT_EQ(stats.decodeErrors, 0u);
    }
}

TEST(RtspSource, RefusalsAreToldApart) {
    // Characters that need escaping in a URL, so that the credentials' encoding is exercised.
    const std::string user = "viewer";
    const std::string password = "p@ss:w/rd%";
    RtspPeer peer({"--auth"}, user + ":" + password);
    ASSERT_TRUE(peer.running());
    rtsp::Options options;
    options.url = peer.Url();
    options.user = user;
    options.password = password;
    {
        rtsp::Source source;
        rtsp::StreamInfo info;
        ASSERT_EQ(source.Open(options, nullptr, &info), rtsp::kOk);
        rtsp::Unit unit;
        EXPECT_EQ(source.Read(&unit), rtsp::kOk);
    }
    {
        SCOPED_TRACE("credentials inside the URL");
        rtsp::Options inUrl;
        inUrl.url = rtsp::WithCredentials(peer.Url(), user, password);
        rtsp::Source source;
        EXPECT_EQ(source.Open(inUrl, nullptr, nullptr), rtsp::kOk);
    }
    {
        SCOPED_TRACE("wrong password, and none");
        options.callLimitMs = 20000;  // a refusal must be told at once, not by the limit
        options.password = "p@ss:w/rd";
        rtsp::Source source;
        const auto start = Clock::now();
        EXPECT_EQ(source.Open(options, nullptr, nullptr), rtsp::kErrAuth);
        options.user.clear();
        options.password.clear();
        EXPECT_EQ(source.Open(options, nullptr, nullptr), rtsp::kErrAuth);
        EXPECT_LT(MillisSince(start), 20000);
    }
    {
        SCOPED_TRACE("no such path");
        options.url = peer.Url("/nothing");
        options.user = user;
        options.password = password;
        rtsp::Source source;
        EXPECT_EQ(source.Open(options, nullptr, nullptr), rtsp::kErrNotFound);
    }
    {
        SCOPED_TRACE("nobody listening, and not an RTSP address");
        const int port = peer.port();
        peer.Kill();
        rtsp::Options closed;
        closed.url = "rtsp://127.0.0.1:" + std::to_string(port) + "/stream";
        rtsp::Source source;
        EXPECT_EQ(source.Open(closed, nullptr, nullptr), rtsp::kErrConnect);
        closed.url = "http://127.0.0.1:" + std::to_string(port) + "/stream";
        EXPECT_EQ(source.Open(closed, nullptr, nullptr), rtsp::kErrUrl);
        rtsp::Unit unit;
        EXPECT_EQ(source.Read(&unit), rtsp::kErrEnded) << "read without an open stream";
    }
}

TEST(RtspSource, ASilentCameraTimesOutAndTheStopFlagEndsAWaitingCall) {
    RtspPeer peer({"--silent"});
    ASSERT_TRUE(peer.running());
    rtsp::Options options;
    options.url = peer.Url();
    options.callLimitMs = 1500;
    rtsp::Source source;
    auto start = Clock::now();
    EXPECT_EQ(source.Open(options, nullptr, nullptr), rtsp::kErrTimeout);
    const int64_t took = MillisSince(start);
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 1500 + 5000) << "the limit did not bound the call";

    options.callLimitMs = 60000;
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = true;
    });
    start = Clock::now();
    EXPECT_EQ(source.Open(options, &stop, nullptr), rtsp::kErrStopped);
    EXPECT_LT(MillisSince(start), 30000) << "the stop flag did not end the call";
    stopper.join();
    // A flag already set refuses at once, before anything is sent.
    EXPECT_EQ(source.Open(options, &stop, nullptr), rtsp::kErrStopped);
}

TEST(RtspSource, ACameraKilledMidStreamEndsTheReadsWithoutAHang) {
    for (rtsp::Transport transport : {rtsp::Transport::kTcp, rtsp::Transport::kUdp}) {
        const bool udp = transport == rtsp::Transport::kUdp;
        SCOPED_TRACE(udp ? "UDP" : "TCP");
        RtspPeer peer({});
        ASSERT_TRUE(peer.running());
        rtsp::Options options;
        options.url = peer.Url();
        options.transport = transport;
        options.callLimitMs = 2000;
        rtsp::Source source;
        ASSERT_EQ(source.Open(options, nullptr, nullptr), rtsp::kOk);
        rtsp::Unit unit;
        for (int i = 0; i < 5; ++i) ASSERT_EQ(source.Read(&unit), rtsp::kOk);
        peer.Kill();
        int32_t r = rtsp::kOk;
        const auto start = Clock::now();
        for (int i = 0; i < 1000 && r == rtsp::kOk; ++i) r = source.Read(&unit);
        EXPECT_TRUE(r == rtsp::kErrEnded || r == rtsp::kErrTimeout || r == rtsp::kErrNetwork)
            << rtsp::ErrorText(r) << " (" << r << ")";
        EXPECT_LT(MillisSince(start), 2000 + 10000);
        if (!udp) {
            EXPECT_NE(r, rtsp::kErrTimeout) << "a closed connection is an end, not a silence";
        }
        source.Close();
    }
}
