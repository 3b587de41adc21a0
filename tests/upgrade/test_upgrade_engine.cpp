// The upgrade and reboot engine against simulated cameras over the HID link:
// package names and the request text, preparation (path length in characters,
// a package larger than the memory), chunking, the status texts and row states
// of every outcome, a flash that never ends, stop, repeated start, answers
// that must not carry over, the reboot walk and the cameras' return with new
// firmware.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "CUSBDevice.h"
#include "MessageRecorder.h"
#include "UpgradeEngine.h"
#include "UsbSim.h"

using namespace strevo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class Recorder final : public IUpgradeListener {
  public:
    void OnUpgradeEvent(const UpgradeEvent& e) override {
        std::lock_guard<std::mutex> lock(mu_);
        events_.push_back(e);
        cv_.notify_all();
    }
    // Waits until the events so far satisfy pred; false after the limit.
    bool WaitFor(const std::function<bool(const std::vector<UpgradeEvent>&)>& pred,
                 std::chrono::seconds limit = 60s) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, limit, [&] { return pred(events_); });
    }
    bool WaitForStatus(int id, const std::string& prefix) {
        return WaitFor([&](const std::vector<UpgradeEvent>& evs) {
            return std::any_of(evs.begin(), evs.end(), [&](const UpgradeEvent& e) {
                return e.row.id == id && e.row.status.rfind(prefix, 0) == 0;
            });
        });
    }
    // A row's successive status texts and states, repeats folded.
    std::vector<std::string> Texts(int id) {
        std::lock_guard<std::mutex> lock(mu_);
        std::vector<std::string> out;
        for (const UpgradeEvent& e : events_) {
            if (e.row.id == id && !e.row.status.empty() &&
                (out.empty() || out.back() != e.row.status))
                out.push_back(e.row.status);
        }
        return out;
    }
    std::vector<int> States(int id) {
        std::lock_guard<std::mutex> lock(mu_);
        std::vector<int> out;
        for (const UpgradeEvent& e : events_) {
            if (e.kind == UpgradeEvent::kRowChanged && e.row.id == id &&
                (out.empty() || out.back() != e.row.state))
                out.push_back(e.row.state);
        }
        return out;
    }
    std::vector<UpgradeEvent> Events() {
        std::lock_guard<std::mutex> lock(mu_);
        return events_;
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<UpgradeEvent> events_;
};

int Count(const std::vector<uint32_t>& cmds, uint32_t cmd) {
    return static_cast<int>(std::count(cmds.begin(), cmds.end(), cmd));
}

uint64_t Fnv(const std::string& data) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : data) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

class UpgradeOverLink : public ::testing::Test {
  protected:
    void SetUp() override {
        dir =
            fs::temp_directory_path() /
            ("strevo-upgrade-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        engine.reset();  // joins every worker before the cameras go
        server.Stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // n cameras with 1025-byte reports, quick flash and reboot; every camera's
    // row is added to the engine, ticked.
    void StartCameras(int n, int flashMs = 300, int rebootMs = 300) {
        std::vector<camsim::UsbCamera> cams(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            cams[static_cast<size_t>(i)].name = "cam" + std::to_string(i);
            cams[static_cast<size_t>(i)].reportLength = 1025;
        }
        const int port = server.Start(cams);
        ASSERT_GT(port, 0);
        for (int i = 0; i < n; ++i)
            server.SetUpgradeTiming(static_cast<size_t>(i), flashMs, rebootMs);
        usb = std::make_unique<CUSBDevice>(MakeSimHidBackend("127.0.0.1:" + std::to_string(port)));
        usb->refreshSettleMs = 0;
        ASSERT_EQ(usb->RefreshDevices(), n);
        engine = std::make_unique<UpgradeEngine>(&rec);
        engine->pollIntervalMs = 50;
        for (int i = 0; i < n; ++i) engine->AddRow(usb->GetEntry(i).handle);
    }
    void Fault(int camera, const std::string& text) {
        camsim::UsbFaultSetting f;
        ASSERT_TRUE(camsim::ParseUsbFault(text, &f)) << text;
        server.SetFault(static_cast<size_t>(camera), f);
    }
    std::string WritePackage(const std::string& name, size_t size,
                             std::string* contents = nullptr) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
        const fs::path p = dir / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
        if (contents)
            *contents = data;
        return p.string();
    }
    std::vector<uint32_t> Commands(int camera) {
        return server.ReceivedCommands(static_cast<size_t>(camera));
    }
    int UpgradeCommands(int camera) {
        auto cmds = Commands(camera);
        return Count(cmds, kCmdUpgradeRequest) + Count(cmds, kCmdUpgradeData) +
               Count(cmds, kCmdUpgradeStatus);
    }

    fs::path dir;
    camsim::UsbSimServer server;
    std::unique_ptr<CUSBDevice> usb;
    Recorder rec;
    std::unique_ptr<UpgradeEngine> engine;
};

}  // namespace

TEST(UpgradePackages, TypeNamesRequestTextAndStatusAnswers) {
    EXPECT_EQ(PackageTypeName("/fw/UImage_v2.dat", 0), "uimage");
    EXPECT_EQ(PackageTypeName("/fw/rootfs_build/a.dat", 3), "rootfs");
    EXPECT_EQ(PackageTypeName("/fw/plain/a.dat", 1), "2");
    EXPECT_EQ(PackageTypeName("/fw/extrootfs.dat", 0), "extrootfs");
    EXPECT_EQ(PackageTypeName("/fw/UBOOT-uImage.dat", 0), "uimage");  // first rule wins
    EXPECT_EQ(PackageTypeName("/fw/Terrans/UPDATA.dat", 0), "terrans");
    EXPECT_EQ(PackageTypeName("/fw/updata.dat", 9), "updata");

    EXPECT_EQ(BuildUpgradeRequest(3000000), "{\n\t\"FileType\":\t2,\n\t\"FileSize\":\t3000000\n}");
    EXPECT_EQ(BuildUpgradeRequest(0), "{\n\t\"FileType\":\t2,\n\t\"FileSize\":\t0\n}");
    EXPECT_EQ(BuildUpgradeRequest(4294967295u),
              "{\n\t\"FileType\":\t2,\n\t\"FileSize\":\t4294967295\n}");

    int status = 7, progress = 8;
    EXPECT_FALSE(ParseUpgradeStatus("", &status, &progress));
    EXPECT_FALSE(ParseUpgradeStatus("garbage", &status, &progress));
    EXPECT_EQ(status, 7);
    EXPECT_TRUE(ParseUpgradeStatus("{\"progress\":42.9}", &status, &progress));
    EXPECT_EQ(status, 7);  // a missing key keeps its value
    EXPECT_EQ(progress, 42);
    EXPECT_TRUE(ParseUpgradeStatus("{\"UpdateStatus\":2,\"Progress\":-3.5}", &status, &progress));
    EXPECT_EQ(status, 2);
    EXPECT_EQ(progress, -3);
}

TEST(UpgradePackages, PreparationTellsWhyAndRereadsOnlyAfterAChange) {
    MessageRecorder messages;
    const fs::path dir = fs::temp_directory_path() / "strevo-upgrade-prepare";
    fs::create_directories(dir);
    const std::string good = (dir / "uboot.dat").string();
    std::ofstream(good, std::ios::binary) << "abc";
    const std::string missing = (dir / "missing.dat").string();

    UpgradeEngine engine;
    engine.SetPackagePaths({good, missing});
    EXPECT_EQ(engine.Start(), -1);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts[0], "无法打开文件:" + missing);
    EXPECT_EQ(engine.Packages(), nullptr);

    // A directory opens on some systems but cannot be read as a package.
    engine.SetPackagePaths({dir.string()});
    EXPECT_EQ(engine.Start(), -1);
    EXPECT_EQ(messages.texts.size(), 2u);

    // The failed list stays marked changed: once the file exists it is read.
    engine.SetPackagePaths({good, missing});
    std::ofstream(missing, std::ios::binary) << "";
    EXPECT_EQ(engine.Start(), 0);
    auto packages = engine.Packages();
    ASSERT_EQ(packages->size(), 2u);
    EXPECT_EQ((*packages)[0].typeName, "uboot");
    EXPECT_EQ((*packages)[0].size, 3u);
    EXPECT_EQ((*packages)[1].typeName, "2");
    EXPECT_EQ((*packages)[1].size, 0u);

    // Unchanged list: the packages read before are used, the files are not read again.
    fs::remove(good);
    EXPECT_EQ(engine.Start(), 0);
    EXPECT_EQ(engine.Packages(), packages);
    EXPECT_EQ(messages.texts.size(), 2u);
    fs::remove_all(dir);
}

TEST(UpgradePackages, PathLimitCountsCharactersNotBytes) {
    MessageRecorder messages;
    const fs::path dir = fs::temp_directory_path() / "strevo-upgrade-path";
    std::string zh80;
    for (int i = 0; i < 80; ++i) zh80 += "升";
    const fs::path folder = dir / zh80 / zh80;
    fs::create_directories(folder);
    // 259 characters in all (579 bytes): accepted and read; one more is refused.
    const std::string prefix = folder.string() + "/uimage";
    const size_t chars = dir.string().size() + 2 * 81 + 7;
    ASSERT_LT(chars + 4, 259u);
    const std::string longest = prefix + std::string(259 - chars - 4, 'x') + ".dat";
    const std::string tooLong = prefix + std::string(260 - chars - 4, 'x') + ".dat";
    std::ofstream(longest, std::ios::binary) << "abc";
    std::ofstream(tooLong, std::ios::binary) << "abc";

    std::vector<UpgradePackage> read;
    EXPECT_EQ(ReadPackages({longest}, &read), 0);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].typeName, "uimage");
    EXPECT_EQ(read[0].size, 3u);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(ReadPackages({tooLong}, &read), -1);
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"文件路径过长:" + tooLong}));
    EXPECT_EQ(read.size(), 1u);
    fs::remove_all(dir);
}

// Sanitizers reserve far more address space than the limit below allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define STREVO_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define STREVO_UNDER_SANITIZER 1
#endif
#endif

#if !defined(STREVO_UNDER_SANITIZER) && defined(__linux__)
// Run in a child process: reads good, then good and huge with 1 GiB of address
// space to spare, so the huge package's buffer cannot be had. Exits 0 when
// that read failed as a read, told the operator and kept the packages read
// before.
[[noreturn]] void ReadHugeWithLittleMemory(const std::string& good, const std::string& huge) {
    MessageRecorder messages;
    UpgradeEngine engine;
    engine.SetPackagePaths({good});
    if (engine.Start() != 0)
        std::_Exit(2);
    const auto before = engine.Packages();
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (1ull << 30);
    const rlimit rl{limit, limit};
    if (setrlimit(RLIMIT_AS, &rl) != 0)
        std::_Exit(3);
    engine.SetPackagePaths({good, huge});
    const bool failed = engine.Start() == -1;
    const bool told = messages.texts == std::vector<std::string>{"文件读取失败！"};
    std::_Exit(failed && told && engine.Packages() == before ? 0 : 1);
}
#endif

TEST(UpgradePackages, APackageLargerThanTheMemoryFailsItsReadAndChangesNothing) {
#if defined(STREVO_UNDER_SANITIZER) || !defined(__linux__)
    GTEST_SKIP() << "needs an address-space limit";
#else
    const fs::path dir = fs::temp_directory_path() / "strevo-upgrade-huge";
    fs::create_directories(dir);
    const std::string good = (dir / "uboot.dat").string();
    std::ofstream(good, std::ios::binary) << "abc";
    const std::string huge = (dir / "uimage.dat").string();
    std::ofstream(huge, std::ios::binary).put('\0');
    fs::resize_file(huge, 0xFFFFFFFFull);  // sparse: no disk space taken
    EXPECT_EXIT(ReadHugeWithLittleMemory(good, huge), ::testing::ExitedWithCode(0), "");
    fs::remove_all(dir);
#endif
}

TEST_F(UpgradeOverLink, TickedCamerasTakeEveryPackageInOrderAndInChunks) {
    StartCameras(3, 1000);
    std::string data;
    const std::string empty = WritePackage("plain/a.dat", 0);
    const std::string uimage = WritePackage("UImage_v2.dat", 3000000, &data);
    engine->SetTicked(1, false);
    engine->SetPackagePaths({empty, uimage});
    ASSERT_EQ(engine->Start(), 0);
    engine->Join();

    for (int id : {0, 2}) {
        EXPECT_EQ(rec.States(id),
                  (std::vector<int>{kRowWaiting, kRowSending, kRowFlashing, kRowUpgraded,
                                    kRowSending, kRowFlashing, kRowUpgraded}))
            << id;
        const std::vector<std::string> texts = rec.Texts(id);
        ASSERT_GE(texts.size(), 8u);
        EXPECT_EQ(texts[0], "请求升级[1]...");
        EXPECT_EQ(texts[1], "发送升级包[1]..");
        EXPECT_EQ(texts[2].rfind("升级[1](烧写中):", 0), 0u) << texts[2];
        auto second = std::find(texts.begin(), texts.end(), "请求升级[uimage]...");
        ASSERT_NE(second, texts.end());
        EXPECT_EQ(second[-1], "升级成功.");
        EXPECT_EQ(second[1], "发送升级包[uimage]..");
        EXPECT_EQ(second[2], "升级[uimage]: 34%");
        EXPECT_EQ(second[3], "升级[uimage]: 69%");
        EXPECT_EQ(second[4], "升级[uimage]: 100%");
        EXPECT_EQ(texts.back(), "升级成功.");

        // The empty package: announced with size 0, no data, then polled.
        const std::vector<uint32_t> cmds = Commands(id);
        ASSERT_EQ(cmds.size() > 1 ? cmds[1] : 0, kCmdUpgradeRequest);
        EXPECT_EQ(cmds[2], kCmdUpgradeStatus);
        EXPECT_EQ(Count(cmds, kCmdUpgradeRequest), 2);
        EXPECT_EQ(Count(cmds, kCmdUpgradeData), 3);
        const auto transfer = server.LastTransfer(static_cast<size_t>(id));
        EXPECT_EQ(transfer.fileType, 2);
        EXPECT_EQ(transfer.fileSize, 3000000u);
        EXPECT_EQ(transfer.chunks, (std::vector<uint32_t>{1048576, 1048576, 902848}));
        EXPECT_EQ(transfer.hash, Fnv(data));
    }
    EXPECT_EQ(UpgradeCommands(1), 0);
    const auto rows = engine->Rows();
    EXPECT_EQ(rows[0].state, kRowUpgraded);
    EXPECT_TRUE(rows[0].ticked);
    EXPECT_EQ(rows[1].state, kRowWaiting);
    EXPECT_FALSE(rows[1].ticked);
    EXPECT_EQ(rows[1].status, "");
    EXPECT_FALSE(engine->Upgrading());
}

TEST_F(UpgradeOverLink, EveryFailureShowsItsTextAndCodeWhileOthersGoOn) {
    StartCameras(6, 1000);
    Fault(0, "negprogress:50");
    Fault(1, "flashfail:10");
    Fault(2, "silence:40");
    Fault(3, "unplug:40");
    // Camera 4 is healthy; camera 5's handle has been closed.
    CUSBDevice::CloseDeviceHandle(usb->GetEntry(5).handle);
    engine->SetPackagePaths({WritePackage("uImage.dat", 3000000)});
    ASSERT_EQ(engine->Start(), 0);
    engine->Join();

    const auto rows = engine->Rows();
    const char* const expected[] = {
        "升级[uimage]返回失败:-7", "升级返回失败:-7", "升级[uimage]失败:-302",
        "升级[uimage]失败:-310",   "升级成功.",       "请求升级失败:-304"};
    for (int i = 0; i < 6; ++i) {
        const UpgradeRow& row = rows[static_cast<size_t>(i)];
        EXPECT_EQ(row.status, expected[i]) << i;
        EXPECT_EQ(row.state, i == 4 ? kRowUpgraded : kRowFailed) << i;
        EXPECT_TRUE(row.ticked) << i;
    }
    // The flash failure came after the whole package had been sent.
    EXPECT_EQ(rec.States(1),
              (std::vector<int>{kRowWaiting, kRowSending, kRowFlashing, kRowFailed}));
    EXPECT_EQ(Count(Commands(1), kCmdUpgradeData), 3);
    EXPECT_EQ(Count(Commands(0), kCmdUpgradeStatus), 0);
}

TEST_F(UpgradeOverLink, AFlashThatNeverEndsFailsAtTheDeadline) {
    StartCameras(2, 100);
    Fault(0, "flashhang");
    engine->flashLimitMs = 500;
    engine->SetPackagePaths({WritePackage("uboot.dat", 5000), WritePackage("b/uimage.dat", 5000)});
    ASSERT_EQ(engine->Start(), 0);
    ASSERT_TRUE(rec.WaitFor(
        [](const std::vector<UpgradeEvent>& evs) {
            return std::any_of(evs.begin(), evs.end(), [](const UpgradeEvent& e) {
                return e.row.id == 0 && e.row.state == kRowFailed;
            });
        },
        20s));
    engine->Join();

    const auto rows = engine->Rows();
    EXPECT_EQ(rows[0].status, "升级[uboot]失败: -302");
    EXPECT_TRUE(rows[0].ticked);
    EXPECT_EQ(Count(Commands(0), kCmdUpgradeRequest), 1);  // the second package not announced
    EXPECT_GT(Count(Commands(0), kCmdUpgradeStatus), 1);   // it was polled until then
    // A camera that finishes in time is not cut short.
    EXPECT_EQ(rows[1].state, kRowUpgraded);
    EXPECT_EQ(rows[1].status, "升级成功.");
}

TEST_F(UpgradeOverLink, AnswersWithoutTextNeverConfirmAPackage) {
    // Data answers without text: the earlier package's final "done" and the
    // previous answer's text must not be taken for this package's.
    StartCameras(1, 600);
    Fault(0, "datanotext");
    engine->SetPackagePaths({WritePackage("a/0.dat", 0), WritePackage("b/uboot.dat", 2100000)});
    ASSERT_EQ(engine->Start(), 0);
    engine->Join();

    const std::vector<uint32_t> cmds = Commands(0);
    auto lastData = std::find(cmds.rbegin(), cmds.rend(), kCmdUpgradeData);
    ASSERT_NE(lastData, cmds.rend());
    EXPECT_GE(lastData - cmds.rbegin(), 2) << "the second package was never polled";
    EXPECT_EQ(engine->Rows()[0].state, kRowUpgraded);
    EXPECT_EQ(engine->Rows()[0].status, "升级成功.");
    const std::vector<std::string> texts = rec.Texts(0);
    auto sending = std::find(texts.begin(), texts.end(), "发送升级包[uboot]..");
    ASSERT_NE(sending, texts.end());
    EXPECT_EQ(sending[1].rfind("升级[uboot](烧写中):", 0), 0u) << sending[1];
}

TEST_F(UpgradeOverLink, StopEndsTheRunAndARepeatedStartNeverDoublesAWorker) {
    StartCameras(2, 300);
    Fault(0, "delay:700");  // every answer late: row 0 stays in state 1 for seconds
    Fault(1, "flashhang");
    const std::string pkg = WritePackage("uboot.dat", 3000000);
    engine->SetPackagePaths({pkg, pkg});
    ASSERT_EQ(engine->Start(), 0);
    ASSERT_TRUE(rec.WaitForStatus(0, "升级[uboot]: 34%"));
    ASSERT_TRUE(rec.WaitForStatus(1, "升级[uboot](烧写中)"));
    EXPECT_TRUE(engine->Upgrading());

    // Start again while both rows are busy: row 0 keeps its state and its
    // only worker, row 1 (flashing) is unticked.
    ASSERT_EQ(engine->Start(), 0);
    auto rows = engine->Rows();
    EXPECT_EQ(rows[0].state, kRowSending);
    EXPECT_EQ(rows[1].state, kRowFlashing);
    EXPECT_FALSE(rows[1].ticked);

    // A reboot meanwhile leaves the busy camera alone: commands to one camera
    // never overlap.
    ASSERT_EQ(engine->StartReboot(), 0);
    ASSERT_TRUE(rec.WaitFor([](const std::vector<UpgradeEvent>& evs) {
        return std::any_of(evs.begin(), evs.end(), [](const UpgradeEvent& e) {
            return e.kind == UpgradeEvent::kRebootFinished;
        });
    }));
    EXPECT_EQ(Count(Commands(0), kCmdReboot), 0);
    EXPECT_EQ(engine->Rows().size(), 2u);
    EXPECT_TRUE(rec.WaitForStatus(0, "重启失败"));
    // The refusal outlives the row's text, which the upgrade soon replaces.
    for (const UpgradeEvent& e : rec.Events()) {
        if (e.kind == UpgradeEvent::kRebootFinished) {
            EXPECT_EQ(e.refusedBusy, 1);
        }
    }

    engine->Stop();
    engine->Join();
    rows = engine->Rows();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rows[static_cast<size_t>(i)].state, kRowFailed) << i;
        EXPECT_EQ(rows[static_cast<size_t>(i)].status, "停止升级") << i;
        EXPECT_TRUE(rows[static_cast<size_t>(i)].ticked) << i;
        // One request only: the stopped worker announced no second package,
        // and the second Start sent nothing to the busy rows.
        EXPECT_EQ(Count(Commands(i), kCmdUpgradeRequest), 1) << i;
    }
    EXPECT_LT(Count(Commands(0), kCmdUpgradeData), 3);

    // A stopped row is taken again by the next Start.
    server.SetFault(0, {});
    server.SetFault(1, {});
    engine->SetPackagePaths({WritePackage("0.dat", 0)});
    ASSERT_EQ(engine->Start(), 0);
    engine->Join();
    for (const UpgradeRow& row : engine->Rows()) EXPECT_EQ(row.status, "升级成功.");
}

TEST_F(UpgradeOverLink, RebootWalksBackwardsAndTheFailingRowKeepsItsOwnCamera) {
    StartCameras(4);
    const UsbHandle h0 = usb->GetEntry(0).handle, h1 = usb->GetEntry(1).handle,
                    h2 = usb->GetEntry(2).handle;
    engine->SetTicked(3, false);
    Fault(1, "noanswer");

    // Upgrade cameras 0 and 2 first; their new firmware starts with the reboot.
    engine->SetTicked(1, false);
    engine->SetPackagePaths({WritePackage("uimage.dat", 5000)});
    ASSERT_EQ(engine->Start(), 0);
    engine->Join();
    engine->SetTicked(1, true);

    ASSERT_EQ(engine->StartReboot(), 0);
    engine->Join();
    EXPECT_EQ(engine->ClosedHandles(), (std::vector<UsbHandle>{h2, h0}));
    auto rows = engine->Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, 1);
    EXPECT_EQ(rows[0].handle, h1);
    EXPECT_EQ(rows[0].status, "重启失败");
    EXPECT_EQ(rows[1].id, 3);
    EXPECT_EQ(rows[1].status, "");
    EXPECT_EQ(Count(Commands(3), kCmdReboot), 0);
    // Removals were reported at the places the rows had then.
    std::vector<int> removed;
    for (const UpgradeEvent& e : rec.Events()) {
        if (e.kind == UpgradeEvent::kRowRemoved) {
            removed.push_back(e.index);
            EXPECT_EQ(e.row.status, "设备已经重启");
        }
    }
    EXPECT_EQ(removed, (std::vector<int>{2, 0}));
    EXPECT_EQ(rec.Events().back().kind, UpgradeEvent::kRebootFinished);
    EXPECT_EQ(CUSBDevice::Transact(h0, kCmdUpgradeStatus, nullptr, 0, nullptr, 0, nullptr, 5),
              kUsbInvalidHandle);

    // The row left behind still reaches its own camera.
    server.SetFault(1, {});
    engine->SetPackagePaths({WritePackage("0.dat", 0)});
    ASSERT_EQ(engine->Start(), 0);
    engine->Join();
    EXPECT_EQ(Count(Commands(1), kCmdUpgradeRequest), 1);
    EXPECT_EQ(engine->Rows()[0].status, "升级成功.");

    // The rebooted cameras come back with new handles and the new firmware;
    // the one that did not reboot keeps its version.
    std::this_thread::sleep_for(400ms);
    ASSERT_EQ(usb->RefreshDevices(), 4);
    EXPECT_STREQ(usb->GetEntry(0).biosVersion, "1.03");
    EXPECT_STREQ(usb->GetEntry(1).biosVersion, "1.02");
    EXPECT_STREQ(usb->GetEntry(2).biosVersion, "1.03");
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(usb->GetEntry(i).handle, h0);
        EXPECT_NE(usb->GetEntry(i).handle, h2);
    }
    EXPECT_NE(std::string(usb->GetEntry(0).buildDate), "");

    // Nothing ticked: no command, the walk still finishes.
    for (const UpgradeRow& row : engine->Rows()) engine->SetTicked(row.id, false);
    const size_t before = Commands(1).size();
    ASSERT_EQ(engine->StartReboot(), 0);
    engine->Join();
    EXPECT_EQ(Commands(1).size(), before);
    EXPECT_EQ(rec.Events().back().kind, UpgradeEvent::kRebootFinished);
}

TEST_F(UpgradeOverLink, ShutdownJoinsWorkersThatWouldRunForever) {
    StartCameras(2);
    Fault(0, "flashhang");
    Fault(1, "noanswer");
    engine->SetPackagePaths({WritePackage("uboot.dat", 1000)});
    ASSERT_EQ(engine->Start(), 0);
    ASSERT_TRUE(rec.WaitForStatus(0, "升级[uboot](烧写中)"));
    for (int i = 0; i < 200 && Count(Commands(1), kCmdUpgradeRequest) == 0; ++i)
        std::this_thread::sleep_for(50ms);  // the silent camera's worker waits for its answer
    const auto t0 = std::chrono::steady_clock::now();
    engine->Shutdown();
    EXPECT_FALSE(engine->WorkersRunning());
    // Bounded by one transaction's limits (the silent camera's request).
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 15s);
    EXPECT_EQ(engine->Start(), -1);
    EXPECT_EQ(engine->StartReboot(), -1);
}
