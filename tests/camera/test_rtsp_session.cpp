// A camera's RTSP stream in a session against camsim's RTSP cameras (GStreamer,
// so not in the ThreadSanitizer build, whose reports inside GLib's own
// uninstrumented threads would say nothing about ours).
#include <gtest/gtest.h>

#include "Camsim.h"
#include "SessionRecorder.h"
#include "SimNetCameras.h"
#include "movra.h"

using namespace strevo;
using namespace sessiontest;

// One camera plays, one answers PLAY and then sends nothing. The silent one is
// given up within the call limit and retried; a stop while its open is blocked
// returns at once, not after the limit.
TEST(RtspSession, StallIsGivenUpAndAStopDoesNotWaitForTheLimit) {
    SimNetCameras cams(2, "127.0.5.2",
                       {"--net-video", "320x180@15", "--rtsp-no-auth", "--rtsp-fault", "stall",
                        "--rtsp-fault-camera", "2"},
                       "ST-", &camsim::MakeRtspModule);
    ASSERT_TRUE(cams.Started()) << cams.BadOption();
    CountingSink sink;
    Recorder good;
    auto playing = MakeRtspCamera("rtsp://" + cams.Address(0) + ":554/main", {});
    StreamSession s1(*playing, 0, sink, good.Fn(), kFast);
    ASSERT_TRUE(s1.Start(false));
    ASSERT_TRUE(good.WaitFor(StreamState::kPlaying, 0, 15s));
    EXPECT_EQ(sink.codec.load(), MV_CODEC_H264);

    CountingSink silentSink;
    Recorder silent;
    auto stalled = MakeRtspCamera("rtsp://" + cams.Address(1) + ":554/main", {});
    StreamSession s2(*stalled, 0, silentSink, silent.Fn(), kFast);
    ASSERT_TRUE(s2.Start(false));
    ASSERT_TRUE(silent.WaitFor(StreamState::kRetryWait, 0, 20s));  // given up, not hung
    ASSERT_TRUE(silent.WaitFor(StreamState::kConnecting, 1, 5s));  // and tried again
    std::this_thread::sleep_for(300ms);                            // inside the blocked open
    const auto t0 = Clock::now();
    s2.Stop();
    EXPECT_LT(Clock::now() - t0, 2s);  // a bound on the close, well under the 5 s call limit
    EXPECT_EQ(silentSink.bytes.load(), 0u);
    EXPECT_GT(sink.bytes.load(), 0u);
    s1.Stop();
}
