#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "CUSBDevice.h"
#include "FakeHid.h"
#include "HidPlatform.h"
#include "HidReportDescriptor.h"

using namespace strevo;
using Clock = std::chrono::steady_clock;

namespace {

uint32_t U32(const std::vector<uint8_t>& r, size_t at) {
    return r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) | (static_cast<uint32_t>(r[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& r, size_t at) {
    return static_cast<uint16_t>(r[at] | (r[at + 1] << 8));
}

struct Rig {
    std::shared_ptr<FakeBackend> backend = std::make_shared<FakeBackend>();
    std::unique_ptr<CUSBDevice> usb;
    std::shared_ptr<FakeState> Open(int L) {
        auto s = backend->Add(kDefaultVendorId, L);
        usb = std::make_unique<CUSBDevice>(backend);
        usb->refreshSettleMs = 0;
        usb->identityRetryMs = 0;
        EXPECT_EQ(usb->DeviceOpen(), 1);
        return s;
    }
    UsbHandle H() const { return usb->GetEntry(0).handle; }
};

}  // namespace

TEST(UsbFrames, RequestReportsAndChunking) {
    Rig rig;
    auto dev = rig.Open(65);

    // No payload: one report, chunk 0, last flag 1.
    dev->answers.push_back(AnswerFrame(65, "", true, 0));
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 40001006, nullptr, 0, nullptr, 0, nullptr, 5), 0);
    ASSERT_EQ(dev->written.size(), 1u);
    const auto& r = dev->written[0];
    ASSERT_EQ(r.size(), 65u);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(std::string(r.begin() + 1, r.begin() + 5), "FDTH");
    EXPECT_EQ(U32(r, 5), 40001006u);
    EXPECT_EQ(U16(r, 9), 0);
    EXPECT_EQ(U16(r, 11), 1);

    // 104 bytes: 52 + 52 with flags 0, 1; 53 bytes: 52 + 1.
    for (auto [size, second] : {std::pair{104u, 52u}, std::pair{53u, 1u}}) {
        dev->written.clear();
        std::string payload;
        for (uint32_t i = 0; i < size; ++i) payload.push_back(static_cast<char>('a' + i % 26));
        dev->answers.push_back(AnswerFrame(65, "", true, 0));
        EXPECT_EQ(
            CUSBDevice::Transact(rig.H(), 40001090, payload.data(), size, nullptr, 0, nullptr, 5),
            0);
        ASSERT_EQ(dev->written.size(), 2u);
        EXPECT_EQ(U16(dev->written[0], 9), 52);
        EXPECT_EQ(U16(dev->written[0], 11), 0);
        EXPECT_EQ(U16(dev->written[1], 9), second);
        EXPECT_EQ(U16(dev->written[1], 11), 1);
        std::string sent(dev->written[0].begin() + 13, dev->written[0].end());
        sent.append(dev->written[1].begin() + 13, dev->written[1].begin() + 13 + second);
        EXPECT_EQ(sent, payload);
    }
}

TEST(UsbFrames, AnswersAcrossReportsFitAndOverflow) {
    Rig rig;
    auto dev = rig.Open(65);
    const std::string a(48, 'x'), b(20, 'y');  // 48 bytes fill an answer report exactly

    char buf[128];
    uint32_t len = 99;
    dev->answers.push_back(AnswerFrame(65, a, false, 0));
    dev->answers.push_back(AnswerFrame(65, b, true, 7));
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, buf, sizeof buf, &len, 5), 7);
    EXPECT_EQ(len, 68u);
    EXPECT_EQ(std::string(buf), a + b);

    // One byte shorter than the buffer: accepted and NUL-terminated.
    char exact[21];
    std::memset(exact, '#', sizeof exact);
    dev->answers.push_back(AnswerFrame(65, b, true, 0));
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, exact, sizeof exact, &len, 5), 0);
    EXPECT_EQ(exact[20], '\0');
    // As long as the buffer: -307, and the rest of the answer is still read.
    char tight[20];
    dev->answers.push_back(AnswerFrame(65, b, false, 0));
    dev->answers.push_back(AnswerFrame(65, "z", true, 0));
    dev->answers.push_back(AnswerFrame(65, "stale", true, 0));
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, tight, sizeof tight, &len, 5),
              kUsbAnswerTooLarge);
    EXPECT_EQ(dev->ready.size(), 1u);
    // A report left over from an earlier answer is not taken for the next answer.
    // No buffer: the last frame's code, nothing written.
    dev->answers.push_back(AnswerFrame(65, "next", true, 3));
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, nullptr, 0, nullptr, 5), 3);
    EXPECT_TRUE(dev->ready.empty());
}

TEST(UsbFrames, BadAnswerFrames) {
    Rig rig;
    auto dev = rig.Open(65);
    char buf[256];
    dev->answers.push_back(AnswerFrame(65, "{}", true, 0, 0x11223344));
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, buf, sizeof buf, nullptr, 5),
              kUsbBadAnswer);
    dev->answers.push_back(AnswerFrame(65, "{}", true, 0, kFrameMagic, 49));  // more than 48 fit
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, buf, sizeof buf, nullptr, 5),
              kUsbBadAnswer);
    dev->answers.push_back(std::vector<uint8_t>(10, 0));  // shorter than a header
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, buf, sizeof buf, nullptr, 5),
              kUsbBadAnswer);
    dev->failReads = true;
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, buf, sizeof buf, nullptr, 5),
              kUsbBadAnswer);
}

TEST(UsbFrames, TimeLimitsAreBounded) {
    Rig rig;
    auto dev = rig.Open(65);
    // A silent device: the answer phase gives up after 5 s.
    auto t0 = Clock::now();
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, nullptr, 0, nullptr, 1), kUsbTimeout);
    auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(4900));
    EXPECT_LT(took, std::chrono::milliseconds(7000));
    // A device that keeps answering without ever flagging the last report.
    dev->flood = AnswerFrame(65, "more", false, 0);
    t0 = Clock::now();
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, nullptr, 0, nullptr, 0, nullptr, 1), kUsbTimeout);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(7000));
    dev->flood.clear();
    // A write that never finishes: bounded by the write limit plus the answer phase.
    dev->blockWrites = true;
    t0 = Clock::now();
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, "x", 1, nullptr, 0, nullptr, 1), kUsbTimeout);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(8000));
}

TEST(UsbFrames, SlowButMovingRequestEndsAtTheWriteLimit) {
    Rig rig;
    auto dev = rig.Open(65);
    // Every report goes through, but 200 of them take 4 s against a 1 s limit.
    dev->writeDelayMs = 20;
    const std::string payload(52 * 200, 'p');
    dev->answers.push_back(AnswerFrame(65, "", true, 0));  // answers only a whole request
    EXPECT_EQ(CUSBDevice::Transact(rig.H(), 1, payload.data(),
                                   static_cast<uint32_t>(payload.size()), nullptr, 0, nullptr, 1),
              kUsbTimeout);
    std::lock_guard<std::mutex> lock(dev->mu);
    EXPECT_GT(dev->written.size(), 0u);
    EXPECT_LT(dev->written.size(), 150u);
    for (const auto& r : dev->written) EXPECT_EQ(U16(r, 11), 0);  // the last chunk never went
}

TEST(UsbFrames, HandlesThatAreNotOpenNeverReachADevice) {
    Rig rig;
    auto dev = rig.Open(65);
    UsbHandle h = rig.H();
    EXPECT_EQ(CUSBDevice::Transact(kInvalidUsbHandle, 1, nullptr, 0, nullptr, 0, nullptr, 5),
              kUsbInvalidHandle);
    EXPECT_EQ(CUSBDevice::Transact(nullptr, 1, nullptr, 0, nullptr, 0, nullptr, 5),
              kUsbInvalidHandle);
    rig.usb->CloseDevices();
    EXPECT_EQ(rig.usb->GetCount(), 0);
    EXPECT_EQ(CUSBDevice::Transact(h, 1, nullptr, 0, nullptr, 0, nullptr, 5), kUsbInvalidHandle);
    EXPECT_TRUE(dev->written.empty());
}

TEST(UsbDevices, VendorIdsAndEnumeration) {
    auto backend = std::make_shared<FakeBackend>();
    backend->Add(0x1703, 65);
    backend->Add(0x2222, 65);
    backend->Add(0x1703, 13);  // too short for a header and a byte
    backend->Add(0x3333, 1025);
    CUSBDevice usb(backend);

    uint16_t ids[12];
    for (int i = 0; i < 12; ++i) ids[i] = static_cast<uint16_t>(0x2000 + i);
    EXPECT_EQ(usb.SetVendorIds(12, ids), 1);
    ASSERT_EQ(usb.GetVendorIdCount(), 10);
    EXPECT_EQ(usb.GetVendorIds()[0], 0x1703);
    EXPECT_EQ(usb.GetVendorIds()[9], 0x2008);
    usb.SetVendorIds(0, ids);
    EXPECT_EQ(usb.GetVendorIdCount(), 1);

    uint16_t extra[] = {0x3333};
    usb.SetVendorIds(1, extra);
    EXPECT_EQ(usb.DeviceOpen(), 2);
    EXPECT_EQ(CUSBDevice::ReportLength(usb.GetEntry(0).handle), 65);
    EXPECT_EQ(CUSBDevice::ReportLength(usb.GetEntry(1).handle), 1025);  // kept per device
    EXPECT_EQ(backend->devices[1].state->opened, 0);
    EXPECT_EQ(backend->devices[2].state->opened, 0);
}

TEST(UsbDevices, IdentityTextsAndBiosVersion) {
    Rig rig;
    auto dev = rig.Open(65);
    const std::string text =
        R"({"DeviceName":"Cam","ProductModel":"M1","Serial":"0123456789012345678901234567890123456789",)"
        R"("BuildDate":"2026-10-01","BiosVersion":258})";
    for (size_t at = 0; at < text.size(); at += 48)
        dev->answers.push_back(AnswerFrame(65, text.substr(at, 48), at + 48 >= text.size(), 0));
    UsbDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(rig.usb->GetDeviceInfo(rig.H(), &info), 0);
    EXPECT_STREQ(info.name, "Cam");
    EXPECT_STREQ(info.biosVersion, "1.02");
    EXPECT_EQ(std::strlen(info.serial), 32u);  // cut, not overrun

    dev->answers.push_back(AnswerFrame(65, "not json", true, 0));
    EXPECT_EQ(rig.usb->GetDeviceInfo(rig.H(), &info), kUsbBadAnswer);
    dev->answers.push_back(AnswerFrame(65, "", true, -9));
    EXPECT_EQ(rig.usb->GetDeviceInfo(rig.H(), &info), -9);
    dev->answers.push_back(
        AnswerFrame(65, R"({"BiosVersion":74565})", true, 0));  // 0x12345: low 16 bits
    ASSERT_EQ(rig.usb->GetDeviceInfo(rig.H(), &info), 0);
    EXPECT_STREQ(info.biosVersion, "23.45");
    dev->answers.push_back(AnswerFrame(65, R"({"BiosVersion":1e300})", true, 0));  // saturates
    ASSERT_EQ(rig.usb->GetDeviceInfo(rig.H(), &info), 0);
    EXPECT_STREQ(info.biosVersion, "ff.ff");
}

TEST(UsbDevices, TransactionsOnDifferentDevicesRunInParallel) {
    auto backend = std::make_shared<FakeBackend>();
    auto a = backend->Add(0x1703, 65);
    auto b = backend->Add(0x1703, 65);
    CUSBDevice usb(backend);
    ASSERT_EQ(usb.DeviceOpen(), 2);
    // Device b answers at once; a is silent. b's transaction must not wait for a's.
    b->answers.push_back(AnswerFrame(65, "", true, 11));
    std::thread slow([&] {
        CUSBDevice::Transact(usb.GetEntry(0).handle, 1, nullptr, 0, nullptr, 0, nullptr, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto t0 = Clock::now();
    EXPECT_EQ(CUSBDevice::Transact(usb.GetEntry(1).handle, 1, nullptr, 0, nullptr, 0, nullptr, 5),
              11);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
    slow.join();
}

TEST(HidDescriptor, OutputReportLength) {
    // Vendor page, 64-byte input and output reports without report ids.
    const uint8_t plain[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                             0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                             0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
    EXPECT_EQ(OutputReportLengthFromDescriptor(plain, sizeof plain), 65);
    // Two output reports with ids: the longer one (1024 bytes) counts.
    const uint8_t ids[] = {0x85, 0x01, 0x75, 0x08, 0x95, 0x10, 0x91, 0x02,
                           0x85, 0x02, 0x96, 0x00, 0x04, 0x91, 0x02};
    EXPECT_EQ(OutputReportLengthFromDescriptor(ids, sizeof ids), 1025);
    const uint8_t inputOnly[] = {0x75, 0x08, 0x95, 0x40, 0x81, 0x02};
    EXPECT_EQ(OutputReportLengthFromDescriptor(inputOnly, sizeof inputOnly), 0);
    const uint8_t truncated[] = {0x96, 0x00};
    EXPECT_EQ(OutputReportLengthFromDescriptor(truncated, sizeof truncated), 0);
}

TEST(HidSimLink, EndpointIsLoopbackOnly) {
    std::string host;
    int port = 0;
    EXPECT_TRUE(ParseSimEndpoint("127.0.0.1:47000", &host, &port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 47000);
    EXPECT_TRUE(ParseSimEndpoint("localhost:5", &host, &port));
    EXPECT_EQ(host, "127.0.0.1");
    for (const char* bad : {"10.0.0.1:5", "192.168.1.2:5", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0",
                            "127.0.0.1:70000", "127.0.0.1:5x", "127.1.2.300:5", "127.0.0:5",
                            "127.0.0.1.5:5", "host:5"}) {
        EXPECT_FALSE(ParseSimEndpoint(bad, &host, &port)) << bad;
        EXPECT_EQ(MakeSimHidBackend(bad), nullptr) << bad;
    }
}

namespace {

// 1 when a separate process can take the lock on path, 0 when it cannot.
int OtherProcessLocks(const char* path) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(LockDeviceNode(path) >= 0 ? 1 : 0);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(UsbDevices, NodesThisUserMayNotOpenAreNamed) {
    auto backend = std::make_shared<FakeBackend>();
    backend->Add(0x1703, 65);
    backend->Add(0x1703, 65);
    backend->Add(0x2222, 65);  // not a camera: never named
    backend->denied = {"fake1", "fake2"};
    CUSBDevice usb(backend);
    EXPECT_EQ(usb.DeviceOpen(), 1);
    EXPECT_EQ(usb.DeniedPaths(), std::vector<std::string>{"fake1"});
    // Each refresh says it afresh: a rule installed meanwhile clears it.
    backend->denied.clear();
    usb.refreshSettleMs = 0;
    usb.RefreshDevices();
    EXPECT_EQ(usb.GetCount(), 2);
    EXPECT_TRUE(usb.DeniedPaths().empty());
}

// Run as an ordinary user (root reads every node), a node the user may not
// read and write is denied; one that is missing or open to all is not.
TEST(HidNodeAccess, DeniedOnlyForAnExistingNodeWithoutRights) {
    char closed[] = "/tmp/strevo-node-XXXXXX";
    char open[] = "/tmp/strevo-node-XXXXXX";
    close(mkstemp(closed));
    close(mkstemp(open));
    chmod(closed, 0000);
    chmod(open, 0666);
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(10);
        int fails = 0;
        fails += !PlatformAccessDenied(closed);
        fails += PlatformAccessDenied(open);
        fails += PlatformAccessDenied("/nonexistent/hidraw0");
        fails += PlatformAccessDenied(nullptr);
        _exit(fails);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    unlink(closed);
    unlink(open);
}

TEST(HidNodeLock, OneProcessAtATimeAndNeverLeaked) {
    char path[] = "/tmp/strevo-node-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    close(file);

    EXPECT_EQ(OtherProcessLocks(path), 1);
    int held = LockDeviceNode(path);
    ASSERT_GE(held, 0);
    EXPECT_EQ(OtherProcessLocks(path), 0);
    EXPECT_LT(LockDeviceNode(path), 0);  // a second open here is refused as well
    close(held);
    EXPECT_EQ(OtherProcessLocks(path), 1);

    unlink(path);

    // An open that fails after the lock was taken gives it back (a folder
    // takes the lock but is no device).
    char folder[] = "/tmp/strevo-node-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    EXPECT_EQ(PlatformOpenHidDevice(folder), nullptr);
    EXPECT_EQ(OtherProcessLocks(folder), 1);
    rmdir(folder);
    EXPECT_LT(LockDeviceNode("/nonexistent/hidraw0"), 0);
}
