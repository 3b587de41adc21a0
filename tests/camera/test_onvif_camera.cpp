// The ONVIF camera against camsim's ONVIF and RTSP cameras: its stream, its
// image settings through the record translation (landing in the store the
// SDK side reads), PTZ and presets, a refused login, and the scanner.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "Camera.h"
#include "Camsim.h"
#include "MessageRecorder.h"
#include "OnvifScanner.h"
#include "ParamChannel.h"
#include "PtzControl.h"
#include "SessionRecorder.h"
#include "SimNetCameras.h"
#include "VideoParam.h"
#include "movra.h"

using namespace strevo;
using namespace std::chrono_literals;

namespace {

SimNetCameras Cameras(const std::string& first) {
    return SimNetCameras(2, first, {"--net-video", "320x180@15", "--onvif", "--onvif-port", "8080"},
                         "OC-", &camsim::MakeRtspModule, &camsim::MakeOnvifModule);
}

int32_t Store(SimNetCameras& cams, const char* key) {
    int32_t v = -1;
    EXPECT_TRUE(cams.Model(0).GetParam(key, &v)) << key;
    return v;
}

size_t Count(const std::vector<camsim::PtzCommand>& log, size_t from, const std::string& what) {
    size_t n = 0;
    for (size_t i = from; i < log.size(); ++i) n += log[i].action == what;
    return n;
}

}  // namespace

TEST(OnvifCamera, PlaysAndCarriesSettingsPtzAndPresets) {
    auto cams = Cameras("127.0.6.2");
    ASSERT_TRUE(cams.Started()) << cams.BadOption();
    const std::string address = cams.Address(0) + ":8080";
    auto camera = MakeOnvifCamera(address, {"admin", "quolt"});
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->Kind(), CameraKind::kOnvif);
    EXPECT_EQ(camera->Address(), address);

    // The stream: data arrives at the sink, the capabilities are the camera's.
    sessiontest::CountingSink sink;
    std::atomic<bool> stop{false};
    const StreamOpenResult opened = camera->OpenStream(0, &sink, &stop);
    ASSERT_EQ(opened.code, 0);
    for (int i = 0; i < 100 && sink.bytes.load() == 0; ++i) std::this_thread::sleep_for(50ms);
    EXPECT_GT(sink.bytes.load(), 0u);
    EXPECT_EQ(sink.codec.load(), MV_CODEC_H264);
    EXPECT_EQ(camera->Caps(), kCapStream | kCapParams | kCapPtz | kCapReboot | kCapPresets);

    // Settings: a write reads back and lands in the SDK side's store.
    MessageRecorder messages;
    IParamChannel* params = camera->Params();
    ASSERT_TRUE(params);
    VideoParam p{};
    ASSERT_EQ(params->GetVideoParam(&p), 0);
    EXPECT_TRUE(params->LastReadAnswered());
    EXPECT_EQ(p.Luminance, Store(cams, "Luminance"));
    ASSERT_EQ(params->SetVideoParamItem("\"Luminance\":40,\"eWBMode\":0,\"uiMShutterSpeed\":2000"),
              0);
    ASSERT_EQ(params->GetVideoParam(&p), 0);
    EXPECT_EQ(p.Luminance, 40);
    EXPECT_EQ(p.eWBMode, 0);
    EXPECT_EQ(GetFieldValue(p, *FindVideoParamField("uiMShutterSpeed")), 2000);  // packed
    EXPECT_EQ(Store(cams, "Luminance"), 40);
    EXPECT_EQ(Store(cams, "eWBMode"), 0);
    EXPECT_EQ(Store(cams, "uiMShutterSpeed"), 2000);
    EXPECT_TRUE(messages.texts.empty());

    // Keys without a setting: reported as such, the whole write never sent.
    const int32_t hue = Store(cams, "ucHue");
    EXPECT_FALSE(params->HasSetting("ucHue"));
    EXPECT_FALSE(params->HasSetting("ucManualIris"));  // camsim reports no iris
    EXPECT_TRUE(params->HasSetting("Luminance"));
    EXPECT_FALSE(params->HasDefaults());
    EXPECT_LT(params->SetVideoParamItem("\"Luminance\":10,\"ucHue\":5"), 0);
    EXPECT_EQ(Store(cams, "Luminance"), 40);
    EXPECT_EQ(Store(cams, "ucHue"), hue);
    EXPECT_LT(params->SetVideoParamItem("\"eExposureMode\":3"), 0);  // not expressible
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_EQ(messages.texts[0].rfind("返回错误码: ", 0), 0u);
    // The whole record writes what the camera has and can take, nothing
    // else: a file from one of our cameras in shutter priority still brings
    // its brightness.
    p.Luminance = 55;
    p.ucHue = 77;
    p.eExposureMode = 2;
    const int32_t exposure = Store(cams, "eExposureMode");
    ASSERT_EQ(params->SetVideoParam(&p), 0);
    EXPECT_EQ(Store(cams, "Luminance"), 55);
    EXPECT_EQ(Store(cams, "ucHue"), hue);
    EXPECT_EQ(Store(cams, "eExposureMode"), exposure);

    // PTZ: a press and its release are one move and one stop.
    IPtzControl* ptz = camera->Ptz();
    ASSERT_TRUE(ptz);
    const size_t before = cams.Model(0).PtzLog().size();
    ASSERT_EQ(ptz->Move("Right", 8), 0) << ptz->LastErrorText();
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(ptz->StopMove("Right"), 0) << ptz->LastErrorText();
    const auto log = cams.Model(0).PtzLog();
    EXPECT_EQ(Count(log, before, "ContinuousMove"), 1u);
    EXPECT_EQ(Count(log, before, "Stop"), 1u);
    EXPECT_EQ(log.size() - before, 2u);
    const int pan = cams.Model(0).Snapshot().pan;
    EXPECT_GT(pan, 0);
    EXPECT_NE(ptz->Move("IrisOpen", 1), 0);  // no iris setting
    EXPECT_FALSE(ptz->LastErrorText().empty());
    EXPECT_EQ(ptz->Move("FocusFar", 4), 0) << ptz->LastErrorText();
    EXPECT_EQ(ptz->StopMove("FocusFar"), 0);

    // Presets.
    EXPECT_TRUE(ptz->HasPresets());
    std::string token;
    ASSERT_EQ(ptz->SetPreset("", "门口", &token), 0) << ptz->LastErrorText();
    EXPECT_FALSE(token.empty());
    std::vector<PtzPreset> presets;
    ASSERT_EQ(ptz->GetPresets(&presets), 0);
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].name, "门口");
    ASSERT_EQ(ptz->Move("Left", 8), 0);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(ptz->StopMove("Left"), 0);
    EXPECT_NE(cams.Model(0).Snapshot().pan, pan);
    ASSERT_EQ(ptz->GotoPreset(token), 0);
    EXPECT_EQ(cams.Model(0).Snapshot().pan, pan);
    ASSERT_EQ(ptz->RemovePreset(token), 0);
    ASSERT_EQ(ptz->GetPresets(&presets), 0);
    EXPECT_TRUE(presets.empty());
    EXPECT_NE(ptz->GotoPreset(token), 0);

    std::string why;
    EXPECT_EQ(camera->Reboot(&why), 0) << why;
    camera->CloseStream();
}

TEST(OnvifCamera, WrongPasswordIsARefusedLogin) {
    auto cams = Cameras("127.0.6.10");
    ASSERT_TRUE(cams.Started()) << cams.BadOption();
    auto camera = MakeOnvifCamera(cams.Address(0) + ":8080", {"admin", "Zq9wrong"});
    sessiontest::CountingSink sink;
    const StreamOpenResult r = camera->OpenStream(0, &sink, nullptr);
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.loginRefused);
    EXPECT_EQ(sink.bytes.load(), 0u);
    // A stop already set returns without a stream.
    auto good = MakeOnvifCamera(cams.Address(1) + ":8080", {"admin", "quolt"});
    std::atomic<bool> stop{true};
    EXPECT_NE(good->OpenStream(0, &sink, &stop).code, 0);
    EXPECT_EQ(sink.bytes.load(), 0u);
}

TEST(OnvifScanner, ListsTheCamerasAfterEachProbe) {
    auto cams = Cameras("127.0.6.20");
    ASSERT_TRUE(cams.Started()) << cams.BadOption();
    std::mutex mu;
    std::condition_variable cv;
    int called = 0;
    OnvifScanner* self = nullptr;
    auto scanner = std::make_unique<OnvifScanner>([&] {
        std::lock_guard lock(mu);
        // Asked twice before the next probe starts: one more probe, not two.
        if (++called == 1) {
            self->Probe();
            self->Probe();
        }
        cv.notify_all();
    });
    self = scanner.get();
    auto waitFor = [&](int n) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, 5s, [&] { return called >= n; });
    };
    scanner->Start();
    ASSERT_TRUE(waitFor(2));
    const auto found = scanner->Cameras();
    ASSERT_EQ(found.size(), 2u);
    for (const auto& c : found) {
        EXPECT_TRUE(c.from == "127.0.6.20" || c.from == "127.0.6.21") << c.from;
        EXPECT_EQ(c.service, "http://" + c.from + ":8080/onvif/device_service");
        EXPECT_EQ(c.hardware, "camsim");
        EXPECT_EQ(c.name.rfind("OC-", 0), 0u);
    }
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(scanner->ProbesDone(), 2);
    scanner->Probe();
    const auto t0 = std::chrono::steady_clock::now();
    scanner.reset();  // stops within a second, mid-probe
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}
