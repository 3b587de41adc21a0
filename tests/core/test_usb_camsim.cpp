// The USB transport against simulated cameras over the HID link (real sockets).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "CUSBDevice.h"
#include "CameraModel.h"
#include "TextConv.h"
#include "UsbSim.h"

using namespace strevo;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<camsim::UsbCamera> ThreeCameras() {
    std::vector<camsim::UsbCamera> cams(3);
    cams[0].name = "演播室摄像机";
    cams[0].model = "TV-U200";
    cams[0].serial = "SN0001";
    cams[0].buildDate = "2026-10-01";
    cams[0].biosVersion = 0x0102;
    cams[1].name = "Stage";
    cams[1].reportLength = 1025;
    cams[1].biosVersion = 0x0a0b;
    cams[2].name = "Spare";
    cams[2].vendorId = 0x4444;  // only when configured
    return cams;
}

class UsbOverLink : public ::testing::Test {
  protected:
    void SetUp() override {
        int port = server.Start(ThreeCameras());
        ASSERT_GT(port, 0);
        backend = MakeSimHidBackend("127.0.0.1:" + std::to_string(port));
        ASSERT_TRUE(backend);
        usb = std::make_unique<CUSBDevice>(backend);
        usb->refreshSettleMs = 0;
    }
    camsim::UsbSimServer server;
    std::shared_ptr<IHidBackend> backend;
    std::unique_ptr<CUSBDevice> usb;
};

}  // namespace

TEST_F(UsbOverLink, RefreshListsCamerasWithTheirIdentity) {
    uint16_t extra[] = {0x4444};
    usb->SetVendorIds(1, extra);
    ASSERT_EQ(usb->RefreshDevices(), 3);
    const UsbDeviceEntry& e0 = usb->GetEntry(0);
    char name[64];
    int cap = sizeof name;
    ASSERT_NE(AnsiToUtf8(e0.name, name, &cap), nullptr);
    EXPECT_STREQ(name, "演播室摄像机");
    EXPECT_STREQ(e0.model, "TV-U200");
    EXPECT_STREQ(e0.serial, "SN0001");
    EXPECT_STREQ(e0.buildDate, "2026-10-01");
    EXPECT_STREQ(e0.biosVersion, "1.02");
    EXPECT_STREQ(usb->GetEntry(1).biosVersion, "a.0b");
    EXPECT_EQ(CUSBDevice::ReportLength(usb->GetEntry(1).handle), 1025);

    // A large request over 1025-byte reports arrives whole.
    std::string payload(5000, 'p');
    payload[4999] = 'q';
    CUSBDevice::Transact(usb->GetEntry(1).handle, 40001006, payload.data(),
                         static_cast<uint32_t>(payload.size()), nullptr, 0, nullptr, 5);
    EXPECT_EQ(server.LastPayload(1), payload);

    // Refreshing again closes the old handles first.
    UsbHandle old = usb->GetEntry(0).handle;
    ASSERT_EQ(usb->RefreshDevices(), 3);
    EXPECT_EQ(CUSBDevice::Transact(old, 1, nullptr, 0, nullptr, 0, nullptr, 5), kUsbInvalidHandle);
}

TEST_F(UsbOverLink, SilentCameraStaysListedWithEmptyTexts) {
    camsim::UsbFaultSetting silent;
    silent.kind = camsim::UsbFault::kNoAnswer;
    server.SetFault(1, silent);
    auto t0 = Clock::now();
    ASSERT_EQ(usb->RefreshDevices(), 2);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(7));
    EXPECT_STREQ(usb->GetEntry(0).model, "TV-U200");
    EXPECT_STREQ(usb->GetEntry(1).name, "");
    EXPECT_STREQ(usb->GetEntry(1).biosVersion, "");
}

TEST_F(UsbOverLink, FaultyAnswersGiveTheirCodes) {
    ASSERT_EQ(usb->RefreshDevices(), 2);
    UsbHandle h = usb->GetEntry(0).handle;
    UsbDeviceInfo info;
    camsim::UsbFaultSetting f;
    // An abandoned answer's remaining reports are discarded before the next
    // request once they have arrived; give the camera a moment to send them.
    auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); };
    f.kind = camsim::UsbFault::kBadMagic;
    server.SetFault(0, f);
    EXPECT_EQ(usb->GetDeviceInfo(h, &info), kUsbBadAnswer);
    settle();
    f.kind = camsim::UsbFault::kBigChunk;
    server.SetFault(0, f);
    EXPECT_EQ(usb->GetDeviceInfo(h, &info), kUsbBadAnswer);
    settle();
    f.kind = camsim::UsbFault::kOversized;
    server.SetFault(0, f);
    EXPECT_EQ(usb->GetDeviceInfo(h, &info), kUsbAnswerTooLarge);
    // The rest of the oversized answer was consumed: the next transaction is in step.
    f.kind = camsim::UsbFault::kNone;
    server.SetFault(0, f);
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(usb->GetDeviceInfo(h, &info), 0);
    EXPECT_STREQ(info.model, "TV-U200");
    f.kind = camsim::UsbFault::kDelay;
    f.delayMs = 300;
    server.SetFault(0, f);
    EXPECT_EQ(usb->GetDeviceInfo(h, &info), 0);
}

TEST_F(UsbOverLink, OpenIsExclusiveAndUnplugFailsCleanly) {
    ASSERT_EQ(usb->RefreshDevices(), 2);
    CUSBDevice second(backend);
    EXPECT_EQ(second.DeviceOpen(), 0);  // both already open elsewhere

    UsbHandle h = usb->GetEntry(0).handle;
    server.SetPresent(0, false);
    auto t0 = Clock::now();
    EXPECT_EQ(CUSBDevice::Transact(h, 1, nullptr, 0, nullptr, 0, nullptr, 5), kUsbBadAnswer);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(6));
    server.SetPresent(0, true);
    EXPECT_EQ(usb->RefreshDevices(), 2);
}
