// One record into several simulated USB cameras at once: the cameras that
// answer take it byte for byte (read back), a camera that never answers
// reports its code within the transport's limit and holds no other camera
// up, and a run cannot start twice or on nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "CUSBDevice.h"
#include "ParamImportEngine.h"
#include "UsbSim.h"

using namespace strevo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class Recorder final : public IImportListener {
  public:
    void OnImportEvent(const ImportEvent& e) override {
        std::lock_guard<std::mutex> lock(mu_);
        events_.push_back({e, Clock::now()});
        cv_.notify_all();
    }
    bool WaitFinished(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, limit, [&] {
            return std::any_of(events_.begin(), events_.end(), [](const auto& t) {
                return t.event.kind == ImportEvent::kRunFinished;
            });
        });
    }
    struct Timed {
        ImportEvent event;
        Clock::time_point at;
    };
    std::vector<Timed> Events() {
        std::lock_guard<std::mutex> lock(mu_);
        return events_;
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Timed> events_;
};

class ThreeCameras : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<camsim::UsbCamera> cams(3);
        cams[0].name = "A";
        cams[1].name = "B";
        cams[2].name = "C";
        const int port = server.Start(cams);
        ASSERT_GT(port, 0);
        usb = std::make_unique<CUSBDevice>(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        usb->refreshSettleMs = 0;
        ASSERT_EQ(usb->RefreshDevices(), 3);
    }
    // A record unlike the cameras' defaults in every group; the field the
    // whole write leaves out keeps the camera's value.
    VideoParam Changed() {
        VideoParam p{};
        EXPECT_EQ(usb->GetVideoParam(usb->GetEntry(0).handle, &p), 0);
        p.Luminance = static_cast<uint8_t>(p.Luminance + 7);
        p.uiMShutterSpeed = 12345;
        p.u32CTNum = 4100;
        p.ucFocusMode = static_cast<uint8_t>(!p.ucFocusMode);
        p.bHorzInvert = static_cast<uint8_t>(!p.bHorzInvert);
        p.eSceneMode = p.eSceneMode2 = static_cast<uint8_t>((p.eSceneMode + 1) % 3);
        p.u32Lut = 3;
        return p;
    }
    camsim::UsbSimServer server;
    std::unique_ptr<CUSBDevice> usb;
};

}  // namespace

TEST_F(ThreeCameras, AnsweringCamerasTakeTheRecordAndTheSilentOneReportsItsCode) {
    const VideoParam record = Changed();
    camsim::UsbFaultSetting silent;
    silent.kind = camsim::UsbFault::kNoAnswer;
    server.SetFault(1, silent);

    Recorder rec;
    ParamImportEngine engine(&rec);
    for (int i = 0; i < 3; ++i) engine.AddRow(usb->GetEntry(i).handle);
    const auto t0 = Clock::now();
    ASSERT_EQ(engine.Start(record), 0);
    EXPECT_EQ(engine.Start(record), -1) << "a second run while one goes on";
    // The transport's answer limit is 5 s: nothing may wait much longer.
    ASSERT_TRUE(rec.WaitFinished(8s));
    engine.Join();

    const std::vector<ImportRow> rows = engine.Rows();
    EXPECT_EQ(rows[0].status, "成功");
    EXPECT_EQ(rows[2].status, "成功");
    EXPECT_EQ(rows[1].state, kImportFailed);
    EXPECT_EQ(rows[1].code, kUsbTimeout);
    EXPECT_EQ(rows[1].status, "失败: " + std::to_string(kUsbTimeout));
    // The cameras that answer finished long before the silent one gave up.
    for (const auto& t : rec.Events()) {
        if (t.event.kind == ImportEvent::kRowChanged && t.event.row.state == kImportDone) {
            EXPECT_LT(t.at - t0, 2s);
        }
        if (t.event.kind == ImportEvent::kRunFinished) {
            EXPECT_EQ(t.event.written, 2);
            EXPECT_EQ(t.event.failed, 1);
        }
    }

    for (int i : {0, 2}) {
        VideoParam back{};
        ASSERT_EQ(usb->GetVideoParam(usb->GetEntry(i).handle, &back), 0);
        EXPECT_EQ(std::memcmp(&back, &record, sizeof back), 0) << "camera " << i;
    }
}

TEST_F(ThreeCameras, OnlyTickedRowsAreWrittenAndAnEmptyChoiceStartsNothing) {
    Recorder rec;
    ParamImportEngine engine(&rec);
    for (int i = 0; i < 3; ++i) engine.AddRow(usb->GetEntry(i).handle, false);
    EXPECT_EQ(engine.Start(Changed()), -1);
    EXPECT_FALSE(engine.Running());

    VideoParam untouched{};
    ASSERT_EQ(usb->GetVideoParam(usb->GetEntry(0).handle, &untouched), 0);
    engine.SetTicked(1, true);
    const VideoParam record = Changed();
    ASSERT_EQ(engine.Start(record), 0);
    ASSERT_TRUE(rec.WaitFinished(8s));
    engine.Join();
    const std::vector<ImportRow> rows = engine.Rows();
    EXPECT_EQ(rows[0].state, kImportWaiting);
    EXPECT_EQ(rows[1].state, kImportDone);
    VideoParam p0{}, p1{};
    ASSERT_EQ(usb->GetVideoParam(usb->GetEntry(0).handle, &p0), 0);
    ASSERT_EQ(usb->GetVideoParam(usb->GetEntry(1).handle, &p1), 0);
    EXPECT_EQ(std::memcmp(&p0, &untouched, sizeof p0), 0);
    EXPECT_EQ(std::memcmp(&p1, &record, sizeof p1), 0);
    // A second run on the same rows goes again.
    ASSERT_EQ(engine.Start(record), 0);
    engine.Join();
    EXPECT_EQ(engine.Rows()[1].state, kImportDone);
}
