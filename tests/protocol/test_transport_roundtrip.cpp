// The command set over both real transports against in-process simulated
// cameras: USB through the HID link, network through the SDK.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "CameraModel.h"
#include "Camsim.h"
#include "MessageRecorder.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "ParamFile.h"
#include "UsbSim.h"
#include "VideoParam.h"

using namespace strevo;
namespace fs = std::filesystem;

namespace {

class TransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        usbModel = std::make_shared<camsim::CameraModel>("usb cam");
        netModel = std::make_shared<camsim::CameraModel>("net cam");
        camsim::UsbCamera u;
        u.name = "usb cam";
        u.model = "TV-U200";
        u.serial = "SN1";
        u.buildDate = "2026-10-01";
        u.state = usbModel;
        world.usb.push_back(u);
        camsim::NetCamera n;
        n.address = "127.0.0.2";
        n.name = "net cam";
        n.identity = "00:1A:2B:00:00:01";
        n.model = netModel;
        world.net.push_back(n);

        usbServer = new camsim::UsbSimServer;
        int port = usbServer->Start(world.usb);
        ASSERT_GT(port, 0);
        netModule = camsim::MakeNetModule().release();
        ASSERT_TRUE(netModule->Start(world));

        usb = new CUSBDevice(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        usb->refreshSettleMs = 0;
        ASSERT_EQ(usb->RefreshDevices(), 1);

        PELION_Init(0);
        LoginInfo info = ProgramLoginInfo("127.0.0.2");
        char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
        login = PELION_Login(info, deviceInfo, 0, 0, 0, 0);
        ASSERT_GE(login, 0) << PELION_GetLastError();
    }

    static void TearDownTestSuite() {
        if (login >= 0)
            PELION_LogOut(login);
        PELION_Cleanup();
        delete usb;
        if (netModule)
            netModule->Stop();
        delete netModule;
        if (usbServer)
            usbServer->Stop();
        delete usbServer;
    }

    void SetUp() override {
        ASSERT_GE(login, 0);
        h = usb->GetEntry(0).handle;
        net.SetDeviceHandle(login);
        ASSERT_EQ(usb->SetDefaultParam(h), 0);
        ASSERT_EQ(net.SetDefaultParam(), 0);
        dir = fs::temp_directory_path() / ("strevo_rt_" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    ParamFileTarget UsbTarget() {
        return {[this](VideoParam* p) { return usb->GetVideoParam(h, p); },
                [this](const VideoParam* p) { return usb->SetVideoParam(h, p); }, nullptr};
    }
    ParamFileTarget NetTarget() {
        return {[this](VideoParam* p) { return net.GetVideoParam(p); },
                [this](const VideoParam* p) { return net.SetVideoParam(p); }, nullptr};
    }

    // Values unlike the defaults in every field, inside the fields' widths.
    static VideoParam Unusual() {
        VideoParam p{};
        int n = 0;
        for (const auto& f : VideoParamFields()) {
            ++n;
            SetFieldValue(&p, f, f.width == 4 ? 70000 + n : f.isSigned ? -n : 100 + n);
        }
        return p;
    }

    // Sends the fields and reads them back from the camera.
    void CrossCopy(const ParamFileTarget& from, const ParamFileTarget& to,
                   const std::shared_ptr<camsim::CameraModel>& source,
                   const std::shared_ptr<camsim::CameraModel>& dest) {
        VideoParam want = Unusual();
        ASSERT_EQ(from.setVideoParam(&want), 0);
        std::string item = MakeVideoParamItem("ucAEWeightLevel", 4);  // not in whole writes
        ASSERT_EQ(source.get() == usbModel.get() ? usb->SetVideoParamItem(h, item.c_str())
                                                 : net.SetVideoParamItem(item.c_str()),
                  0);

        MessageRecorder messages;
        ASSERT_EQ(ExportParams(from, (dir / kParamFileName).string()), 0);
        ASSERT_EQ(ImportParams(to, (dir / kParamFileName).string()), 0);
        EXPECT_EQ(messages.texts, (std::vector<std::string>{"导出配置成功！", "导入配置成功！"}));

        VideoParam got{};
        ASSERT_EQ(to.getVideoParam(&got), 0);
        for (const auto& f : VideoParamFields()) {
            int32_t inModel = 0;
            ASSERT_TRUE(dest->GetParam(f.key, &inModel));
            EXPECT_EQ(GetFieldValue(got, f), inModel) << f.key;
            if (std::strcmp(f.key, "ucAEWeightLevel") == 0) {
                EXPECT_EQ(GetFieldValue(got, f), 1) << "the whole write leaves it alone";
            } else {
                EXPECT_EQ(GetFieldValue(got, f), GetFieldValue(want, f)) << f.key;
            }
        }
        EXPECT_EQ(got.eSceneMode, got.eSceneMode2);
    }

    static inline camsim::World world;
    static inline std::shared_ptr<camsim::CameraModel> usbModel, netModel;
    static inline camsim::UsbSimServer* usbServer = nullptr;
    static inline camsim::Module* netModule = nullptr;
    static inline CUSBDevice* usb = nullptr;
    static inline int32_t login = -1;

    UsbHandle h = nullptr;
    NetCommandChannel net;
    fs::path dir;
};

}  // namespace

TEST_F(TransportTest, ExportOverUsbImportOverNetwork) {
    CrossCopy(UsbTarget(), NetTarget(), usbModel, netModel);
}

TEST_F(TransportTest, ExportOverNetworkImportOverUsb) {
    CrossCopy(NetTarget(), UsbTarget(), netModel, usbModel);
}

TEST_F(TransportTest, ItemWritesDefaultsAndFocusNear) {
    std::string items = MakeVideoParamItem("Luminance", 81) + "," +
                        MakeVideoParamItem("BExpCPS", -12) + "," +
                        MakeVideoParamItem("ucFocusDistanceMin", 4);
    ASSERT_EQ(usb->SetVideoParamItem(h, items.c_str()), 0);
    ASSERT_EQ(net.SetVideoParamItem(items.c_str()), 0);
    for (bool overUsb : {true, false}) {
        VideoParam p{};
        ASSERT_EQ(overUsb ? usb->GetVideoParam(h, &p) : net.GetVideoParam(&p), 0);
        EXPECT_EQ(p.Luminance, 81);
        EXPECT_EQ(p.BExpCPS, -12);
        EXPECT_EQ(overUsb ? usb->GetFocusNear(h) : net.GetFocusNear(), 1000);
    }
    ASSERT_EQ(usb->SetDefaultParam(h), 0);
    VideoParam p{};
    ASSERT_EQ(usb->GetVideoParam(h, &p), 0);
    EXPECT_EQ(p.Luminance, 50);
    EXPECT_EQ(usb->GetFocusNear(h), 300);
}

TEST_F(TransportTest, RefusedRequestsSendNothing) {
    MessageRecorder messages;
    size_t before = usbServer->ReceivedCommands(0).size();
    std::string huge(1000, ' ');
    EXPECT_EQ(usb->SetVideoParamItem(h, huge.c_str()), kRequestTooLong);
    EXPECT_EQ(net.SetVideoParamItem(huge.c_str()), kRequestTooLong);

    fs::path shortFile = dir / "short.dat";
    std::ofstream(shortFile, std::ios::binary) << std::string(54, '\1');
    EXPECT_EQ(ImportParams(UsbTarget(), shortFile.string()), kFileSizeMismatch);
    EXPECT_EQ(usbServer->ReceivedCommands(0).size(), before);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"返回错误码: -312", "返回错误码: -312",
                                                        "数据长度不匹配！"}));
}

TEST_F(TransportTest, NetworkReadWithoutLogin) {
    MessageRecorder messages;
    NetCommandChannel none;
    VideoParam p{};
    EXPECT_EQ(none.GetVideoParam(&p), kInvalidLoginHandle);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"无效的设备句柄!"});
}

TEST_F(TransportTest, UsbTransportFailureIsShownBySetsOnly) {
    MessageRecorder messages;
    usbServer->SetFault(0, {camsim::UsbFault::kBadMagic, 0});
    VideoParam p{};
    EXPECT_EQ(usb->GetVideoParam(h, &p), kUsbBadAnswer);
    EXPECT_EQ(usb->SetVideoParamItem(h, "\"Luminance\":1"), kUsbBadAnswer);
    usbServer->SetFault(0, {});
    EXPECT_EQ(messages.texts, std::vector<std::string>{"返回错误码: -310"});
    // The rest of an abandoned answer never passes for the next one's.
    for (int i = 0; i < 5; ++i) {
        usbServer->SetFault(0, {camsim::UsbFault::kBadMagic, 0});
        EXPECT_EQ(usb->GetVideoParam(h, &p), kUsbBadAnswer);
        usbServer->SetFault(0, {});
        EXPECT_EQ(usb->GetVideoParam(h, &p), 0) << "after abandoned answer " << i;
    }
}

// The PTZ panel's work without its widgets: held buttons' texts over USB from
// one thread and over the SDK from another, while the network camera's
// stream thread draws the moving position and the callback thread takes it.
TEST_F(TransportTest, PtzOnBothTransportsWhileTheStreamRuns) {
    struct Frames {
        static void PELION_API Count(int32_t, const uint8_t*, uint32_t, uint32_t, void* user) {
            ++*static_cast<std::atomic<int>*>(user);
        }
    };
    std::atomic<int> frames{0};
    int32_t play = PELION_StartRealPlay(login, 0, 1, &Frames::Count, &frames);
    ASSERT_GE(play, 0) << PELION_GetLastError();

    const char* const actions[] = {"Left", "Stop", "ZoomTele", "ZoomStop", "RightUp", "Stop"};
    auto texts = [&] {
        std::vector<std::string> out;
        for (const char* a : actions) {
            int hs = 0, vs = 0;
            std::string text;
            EXPECT_TRUE(PtzActionParams(a, 5, &hs, &vs));
            EXPECT_EQ(BuildPtzText(a, hs, vs, &text), 0);
            out.push_back(text);
        }
        return out;
    }();
    constexpr int kRounds = 10;
    std::atomic<int> usbFailures{0};
    std::thread overUsb([&] {
        for (int r = 0; r < kRounds; ++r)
            for (const std::string& t : texts)
                if (CUSBDevice::Transact(h, kCmdPtzCtrl, t.c_str(),
                                         static_cast<uint32_t>(t.size() + 1), nullptr, 0, nullptr,
                                         5) != 0)
                    ++usbFailures;
    });
    int netFailures = 0;
    for (int r = 0; r < kRounds; ++r) {
        for (const std::string& t : texts) {
            char answer[kPtzAnswerSize];
            int32_t len = sizeof answer;
            if (PELION_SendRobotText(login, t.c_str(), static_cast<int32_t>(t.size() + 1), answer,
                                     &len) != PELION_OK)
                ++netFailures;
        }
    }
    overUsb.join();
    int before = frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(frames.load(), before) << "the stream runs on";
    EXPECT_EQ(PELION_StopRealPlay(play), PELION_OK);

    EXPECT_EQ(usbFailures, 0);
    EXPECT_EQ(netFailures, 0);
    for (const auto& model : {usbModel, netModel}) {
        auto log = model->PtzLog();
        ASSERT_GE(log.size(), size_t{kRounds} * 6);
        EXPECT_EQ(log.back().action, "Stop");
        EXPECT_FALSE(model->Snapshot().moving);
    }
}
