// The pane's stream session: drops, stalls and refusals lead to the reconnect
// rule; a stop ends every wait at once. Against a scripted camera for the rule,
// and against camsim's SDK cameras going away and coming back.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "PELION_SDK.h"
#include "SessionRecorder.h"
#include "SimNetCameras.h"
#include "StreamSession.h"
#include "movra.h"

using namespace strevo;
using namespace sessiontest;
using namespace std::chrono_literals;

namespace {

// Plays from a script: each open takes the next result; a stream that opened
// sends data until it is told to go silent or to end.
class ScriptedCamera final : public ICamera {
  public:
    explicit ScriptedCamera(std::vector<StreamOpenResult> opens) : opens_(std::move(opens)) {}
    ~ScriptedCamera() override { CloseStream(); }
    CameraKind Kind() const override { return CameraKind::kRtsp; }
    uint32_t Caps() const override { return kCapStream; }
    const std::string& Address() const override { return address_; }
    StreamOpenResult OpenStream(int, IStreamSink* sink, const std::atomic<bool>*) override {
        StreamOpenResult r;
        {
            std::lock_guard lock(mu_);
            ++openCount_;
            if (!opens_.empty()) {
                r = opens_.front();
                opens_.erase(opens_.begin());
            }
        }
        if (r.code != 0)
            return r;
        silent_ = false;
        ended_ = false;
        running_ = true;
        sink->OnCodec(MV_CODEC_H265);
        feeder_ = std::thread([this, sink] {
            const uint8_t data[4] = {0, 0, 0, 1};
            while (running_) {
                if (!silent_)
                    sink->OnData(data, sizeof data);
                std::this_thread::sleep_for(10ms);
            }
        });
        return r;
    }
    bool StreamEnded() const override { return ended_; }
    void CloseStream() override {
        running_ = false;
        if (feeder_.joinable())
            feeder_.join();
        ++closeCount_;
    }
    int Opens() {
        std::lock_guard lock(mu_);
        return openCount_;
    }
    std::atomic<bool> silent_{false};
    std::atomic<bool> ended_{false};

  private:
    std::string address_ = "rtsp://127.0.0.2/main";
    std::mutex mu_;
    std::vector<StreamOpenResult> opens_;
    int openCount_ = 0;
    std::atomic<bool> running_{false};
    std::atomic<int> closeCount_{0};
    std::thread feeder_;
};

StreamOpenResult Fail(int32_t code, bool login = false) {
    StreamOpenResult r;
    r.code = code;
    r.loginRefused = login;
    return r;
}

}  // namespace

TEST(StreamSession, DropsAndStallsReconnectWithGrowingWaits) {
    // Three failed opens, then a stream that ends, then one that stalls.
    ScriptedCamera camera({Fail(-2), Fail(-2), Fail(-2), {}, {}, {}});
    CountingSink sink;
    Recorder rec;
    StreamSession session(camera, 0, sink, rec.Fn(), kFast);
    ASSERT_TRUE(session.Start(false));
    ASSERT_TRUE(rec.WaitFor(StreamState::kPlaying));
    EXPECT_EQ(sink.codec.load(), MV_CODEC_H265);

    // The waits between failed opens grow 1, 2, 4 and stay at the limit.
    std::vector<int32_t> firstCounts;
    const auto events = rec.Events();
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].state == StreamState::kRetryWait &&
            (i == 0 || events[i - 1].state != StreamState::kRetryWait))
            firstCounts.push_back(events[i].value);
    EXPECT_EQ(firstCounts, (std::vector<int32_t>{1, 2, 4}));

    camera.ended_ = true;  // the camera ends the stream
    ASSERT_TRUE(rec.WaitFor(StreamState::kPlaying, 1));
    camera.silent_ = true;  // no data any more: a stall
    ASSERT_TRUE(rec.WaitFor(StreamState::kPlaying, 2));
    EXPECT_EQ(camera.Opens(), 6);
    session.Stop();
    EXPECT_GT(sink.bytes.load(), 0u);
}

TEST(StreamSession, StopEndsAnyWaitAtOnceAndReportsNothingAfter) {
    // A long retry wait in progress.
    ScriptedCamera camera({Fail(-3)});
    CountingSink sink;
    Recorder rec;
    SessionTiming slow = kFast;
    slow.secondMs = 60000;
    StreamSession session(camera, 0, sink, rec.Fn(), slow);
    ASSERT_TRUE(session.Start(false));
    ASSERT_TRUE(rec.WaitFor(StreamState::kRetryWait));
    const auto t0 = Clock::now();
    session.Stop();
    EXPECT_LT(Clock::now() - t0, 2s);  // a bound on the close, not a speed target
    const size_t n = rec.Events().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rec.Events().size(), n);

    // A refused login is not retried: waiting would not change the password.
    ScriptedCamera refused({Fail(-9, true), {}});
    Recorder rec2;
    StreamSession s2(refused, 0, sink, rec2.Fn(), kFast);
    ASSERT_TRUE(s2.Start(false));
    ASSERT_TRUE(rec2.WaitFor(StreamState::kLoginFailed));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(refused.Opens(), 1);
    EXPECT_EQ(rec2.Events().back().value, -9);
    const auto t1 = Clock::now();
    s2.Stop();
    EXPECT_LT(Clock::now() - t1, 2s);
}

TEST(StreamSession, SdkCameraThatGoesAwayIsPlayedAgainWhenItReturns) {
    PELION_Init(0);
    CountingSink sink;
    Recorder rec;
    auto camera = MakeSdkCamera("127.0.0.2");
    std::optional<SimNetCameras> cams;
    cams.emplace(1, "127.0.0.2");
    ASSERT_TRUE(cams->Started());
    StreamSession session(*camera, 0, sink, rec.Fn(), kFast);
    const StreamOpenResult first = session.OpenNow();
    ASSERT_EQ(first.code, 0);
    const int32_t login = camera->ControlHandle();
    EXPECT_GE(login, 0);
    ASSERT_TRUE(session.Start(true));
    ASSERT_TRUE(rec.WaitFor(StreamState::kPlaying));
    const auto deadline = Clock::now() + 5s;
    while (sink.bytes.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ASSERT_GT(sink.bytes.load(), 0u);

    cams.reset();  // the camera is gone
    ASSERT_TRUE(rec.WaitFor(StreamState::kRetryWait, 1));
    EXPECT_LT(camera->ControlHandle(), 0);  // no login while it is away
    cams.emplace(1, "127.0.0.2");
    ASSERT_TRUE(cams->Started());
    ASSERT_TRUE(rec.WaitFor(StreamState::kPlaying, 1, 20s));
    EXPECT_GE(camera->ControlHandle(), 0);
    const uint64_t before = sink.bytes.load();
    const auto again = Clock::now() + 5s;
    while (sink.bytes.load() == before && Clock::now() < again) std::this_thread::sleep_for(10ms);
    EXPECT_GT(sink.bytes.load(), before);
    session.Stop();
    EXPECT_LT(camera->ControlHandle(), 0);
    PELION_Cleanup();
}
