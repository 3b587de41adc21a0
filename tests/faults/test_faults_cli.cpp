// strevoctl against camsim with each of its fault switches, both in their own
// processes as an operator runs them: the exit status, the message on stderr,
// the time taken, and that a file written over survives a failed export.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Matrix.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "Process.h"

using namespace faults;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

ProcessResult Ctl(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                  std::chrono::seconds limit = 120s) {
    std::vector<std::string> argv{STREVOCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p;
    if (!p.Start(argv, env))
        return {};
    return p.Wait(limit);
}

std::string Seen(const ProcessResult& r) {
    std::string s = "exit " + std::to_string(r.status);
    if (!r.err.empty())
        s += ": " + r.err;
    return s;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/strevo-faults-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// What an earlier export left: 55 bytes that no camera reads back.
const std::string kEarlierExport(55, '\x5A');

struct Expectation {
    std::string fault;  // camsim's switch, for the record
    std::vector<std::string> camsimArgs;
    int status;           // exit status of the command
    std::string message;  // on stderr (empty: nothing is said)
};

// One command of one part under one fault; checks and prints the row.
void Check(const Expectation& e, const std::string& part, const ProcessResult& r, double bound) {
    Row(e.fault, part, Seen(r), r.seconds);
    EXPECT_FALSE(r.timedOut) << e.fault << " / " << part << " hung";
    EXPECT_EQ(r.status, e.status) << e.fault << " / " << part << ": " << r.err;
    if (!e.message.empty()) {
        EXPECT_NE(r.err.find(e.message), std::string::npos)
            << e.fault << " / " << part << ": " << r.err;
    }
    EXPECT_LT(r.seconds, bound) << e.fault << " / " << part;
}

}  // namespace

// Answers that are late, missing, malformed or too large: the parameter read
// and an export over an earlier file, each camera in its own camsim.
TEST(CliFaults, UsbAnswers) {
    const std::vector<Expectation> cases = {
        {"none", {}, 0, ""},
        {"noanswer (silent)", {"--usb-fault", "0:noanswer"}, 1, "(code -302)"},
        {"delay:1500 (slow, in time)", {"--usb-fault", "0:delay:1500"}, 0, ""},
        // The identity answer that came too late is read as the next answer:
        // the frames carry nothing to tell them apart.
        {"delay:7000 (slow, too late)", {"--usb-fault", "0:delay:7000"}, 1, "(code -3"},
        {"badmagic (malformed)", {"--usb-fault", "0:badmagic"}, 1, "(code -310)"},
        {"bigchunk (malformed)", {"--usb-fault", "0:bigchunk"}, 1, "(code -310)"},
        {"oversized", {"--usb-fault", "0:oversized"}, 1, "(code -307)"},
        {"--usb-report-len 18 (one answer byte per report)", {"--usb-report-len", "18"}, 0, ""},
    };
    TempDir dir;
    std::vector<std::future<void>> runs;
    for (size_t i = 0; i < cases.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            const Expectation& e = cases[i];
            std::vector<std::string> args{"--usb", "1"};
            args.insert(args.end(), e.camsimArgs.begin(), e.camsimArgs.end());
            Camsim cs(args);
            ASSERT_TRUE(cs.Ok()) << e.fault;
            Check(e, "strevoctl usb get", Ctl({"usb", "get", "0"}, {cs.HidSimEnv()}),
                  kUsbActionBound);

            const fs::path file = dir / ("export" + std::to_string(i) + ".dat");
            std::ofstream(file, std::ios::binary) << kEarlierExport;
            ProcessResult r = Ctl({"usb", "export", "0", file.string()}, {cs.HidSimEnv()});
            Expectation ex = e;
            if (e.status == 0)
                ex.message = "导出配置成功！";
            Check(ex, "strevoctl usb export (over a file)", r, kUsbActionBound);
            const std::string after = ReadAll(file);
            EXPECT_EQ(after.size(), 55u) << e.fault;
            if (e.status != 0) {
                EXPECT_EQ(after, kEarlierExport) << e.fault << ": the earlier export is gone";
            }
            EXPECT_FALSE(fs::exists(file.string() + ".tmp")) << e.fault;
        }));
    }
    for (auto& r : runs) r.get();
}

// One file into three cameras at once, the middle one malformed: the others
// take it (read back byte for byte), the middle one gives its code, the exit
// status says not every camera took it, and the file is refused whole when it
// is not a parameter file.
TEST(CliFaults, UsbImportIntoManyCameras) {
    Camsim cs({"--usb", "3", "--usb-fault", "1:badmagic"});
    ASSERT_TRUE(cs.Ok());
    TempDir dir;
    const fs::path file = dir / "video_params.dat";
    ProcessResult r = Ctl({"usb", "export", "0", file.string()}, {cs.HidSimEnv()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string record = ReadAll(file);
    ASSERT_EQ(record.size(), 55u);
    record[0] = static_cast<char>(record[0] + 9);  // brightness
    record[45] = static_cast<char>(!record[45]);   // mirror
    std::ofstream(file, std::ios::binary | std::ios::trunc) << record;

    r = Ctl({"usb", "import", file.string(), "--devices", "all"}, {cs.HidSimEnv()});
    Row("1:badmagic of 3", "strevoctl usb import --devices all", Seen(r) + " | " + r.out,
        r.seconds);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("usb 0: ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("usb 1: failed (code -310)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("usb 2: ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("imported into 2 of 3 cameras"), std::string::npos) << r.out;
    EXPECT_LT(r.seconds, kUsbActionBound);
    for (const char* index : {"0", "2"}) {
        const fs::path back = dir / (std::string("back") + index + ".dat");
        ASSERT_EQ(Ctl({"usb", "export", index, back.string()}, {cs.HidSimEnv()}).status, 0);
        EXPECT_EQ(ReadAll(back), record) << "camera " << index;
    }

    // Only the chosen cameras; all of them took it.
    r = Ctl({"usb", "import", file.string(), "--devices", "0,2"}, {cs.HidSimEnv()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("usb 1:"), std::string::npos) << r.out;

    std::ofstream(dir / "short.dat", std::ios::binary) << record.substr(0, 54);
    r = Ctl({"usb", "import", (dir / "short.dat").string(), "--devices", "all"}, {cs.HidSimEnv()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("数据长度不匹配！"), std::string::npos) << r.err;
    EXPECT_EQ(Ctl({"usb", "import", file.string(), "--devices", "7"}, {cs.HidSimEnv()}).status, 1);
    EXPECT_EQ(Ctl({"usb", "import", file.string(), "--devices"}, {cs.HidSimEnv()}).status, 2);
}

// Firmware update faults, a camera that never finishes flashing (stopped
// with Ctrl-C, as the operator would), and a second program on a camera that
// the first one holds.
TEST(CliFaults, UsbUpgradeAndSharing) {
    TempDir dir;
    const fs::path package = dir / "firmware.dat";
    {
        std::ofstream out(package, std::ios::binary);
        for (int i = 0; i < 300000; ++i) out.put(static_cast<char>(i * 7));
    }
    const std::vector<Expectation> cases = {
        {"none", {}, 0, ""},
        {"negprogress:50 (negative result)", {"--usb-fault", "0:negprogress:50"}, 1, ""},
        {"silence:50 (silent mid-transfer)", {"--usb-fault", "0:silence:50"}, 1, ""},
        {"unplug:50 (unplugged mid-transfer)", {"--usb-fault", "0:unplug:50"}, 1, ""},
        {"flashfail:50 (negative result)", {"--usb-fault", "0:flashfail:50"}, 1, ""},
        {"datanotext", {"--usb-fault", "0:datanotext"}, 0, ""},
        // The link takes reports as fast as its socket buffers allow, so the
        // pace shows in the answer's wait: 1025-byte reports keep it in time.
        {"--usb-rate-limit (slow link, in time)",
         {"--usb-rate-limit", "--usb-report-len", "1025"},
         0,
         ""},
    };
    // What each row ends with.
    const std::vector<std::string> finalStatus = {"升级成功.", "返回失败:-7", "失败:-302",
                                                  "失败:-310", "返回失败:-7", "升级成功.",
                                                  "升级成功."};
    std::vector<std::future<void>> runs;
    for (size_t i = 0; i < cases.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            const Expectation& e = cases[i];
            std::vector<std::string> args{"--usb", "1", "--usb-flash-ms", "500"};
            args.insert(args.end(), e.camsimArgs.begin(), e.camsimArgs.end());
            Camsim cs(args);
            ASSERT_TRUE(cs.Ok()) << e.fault;
            ProcessResult r = Ctl({"usb", "upgrade", package.string()}, {cs.HidSimEnv()});
            Check(e, "strevoctl usb upgrade", r, 2 * (20 + 5) + kUsbActionBound);
            const std::string summary = e.status == 0 ? "upgraded 1 of 1" : "upgraded 0 of 1";
            EXPECT_NE(r.out.find(summary), std::string::npos) << e.fault << ": " << r.out;
            EXPECT_NE(r.out.find(finalStatus[i] + "\n"), std::string::npos)
                << e.fault << ": " << r.out;
            Row(e.fault, "strevoctl usb upgrade (stdout)", r.out, r.seconds);
        }));
    }

    // flashhang: the first program keeps polling until it is stopped; while
    // it holds the camera a second program does not see it.
    Camsim cs({"--usb", "1", "--usb-fault", "0:flashhang", "--usb-flash-ms", "500"});
    ASSERT_TRUE(cs.Ok());
    Process first;
    ASSERT_TRUE(
        first.Start({STREVOCTL_PATH, "usb", "upgrade", package.string()}, {cs.HidSimEnv()}));
    ASSERT_TRUE(first.WaitForLine("usb 0: 升级[1](烧写中)", nullptr, 30s));
    ProcessResult second = Ctl({"usb", "list"}, {cs.HidSimEnv()});
    Row("camera held by another program", "strevoctl usb list", "exit 0, lists nothing",
        second.seconds);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, "") << "the camera held elsewhere is skipped";
    second = Ctl({"usb", "get", "0"}, {cs.HidSimEnv()});
    Check({"camera held by another program", {}, 1, "no USB camera with index 0"},
          "strevoctl usb get", second, kUsbActionBound);

    auto stopAt = Clock::now();
    first.Signal(SIGINT);
    ProcessResult r = first.Wait(60s);
    Row("flashhang (never finishes flashing)",
        "strevoctl usb upgrade, Ctrl-C after the flash began", r.out.substr(r.out.rfind("usb 0:")),
        SecondsSince(stopAt));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("usb 0: 停止升级\n"), std::string::npos) << r.out;
    EXPECT_LT(SecondsSince(stopAt), kUsbActionBound);
    // Released with the first program's end.
    second = Ctl({"usb", "list"}, {cs.HidSimEnv()});
    EXPECT_EQ(second.out.rfind("0\t", 0), 0u) << second.out;

    for (auto& f : runs) f.get();
}

// Network cameras: a command and an export over a file per fault, each
// camera at its own address.
TEST(CliFaults, NetworkAnswersAndLogins) {
    const std::vector<Expectation> cases = {
        {"none", {}, 0, ""},
        {"--net-no-answer (silent)", {"--net-no-answer"}, 1, "(code -7)"},
        {"--net-delay 2000 (slow, in time)", {"--net-delay", "2000"}, 0, ""},
        {"--net-delay 7000 (slow, too late)", {"--net-delay", "7000"}, 1, "(code -7)"},
        {"--net-negative", {"--net-negative"}, 1, "(code -5)"},
        {"--net-malformed", {"--net-malformed"}, 1, "(code -310)"},
        {"--net-answer-pad 100000 (oversized)", {"--net-answer-pad", "100000"}, 1, "(code -14)"},
        {"--net-password (wrong password)", {"--net-password", "other"}, 1, "failed (code -9)"},
    };
    TempDir dir;
    std::vector<std::future<void>> runs;
    for (size_t i = 0; i < cases.size(); ++i) {
        runs.push_back(std::async(std::launch::async, [&, i] {
            const Expectation& e = cases[i];
            const std::string address = "127.0.0." + std::to_string(100 + i);
            std::vector<std::string> args{"--net", "1", "--net-first", address, "--no-discovery"};
            args.insert(args.end(), e.camsimArgs.begin(), e.camsimArgs.end());
            Camsim cs(args);
            ASSERT_TRUE(cs.Ok()) << e.fault;
            Check(e, "strevoctl ip get", Ctl({"ip", "get", address}), kNetActionBound);

            const fs::path file = dir / ("export" + std::to_string(i) + ".dat");
            std::ofstream(file, std::ios::binary) << kEarlierExport;
            Expectation ex = e;
            if (e.status == 0)
                ex.message = "导出配置成功！";
            Check(ex, "strevoctl ip export (over a file)",
                  Ctl({"ip", "export", address, file.string()}), kNetActionBound);
            if (e.status != 0) {
                EXPECT_EQ(ReadAll(file), kEarlierExport) << e.fault;
            }
        }));
    }
    // No camera at all at the address.
    Check({"no camera at the address", {}, 1, "login to 127.0.0.99 failed"}, "strevoctl ip get",
          Ctl({"ip", "get", "127.0.0.99"}), kNetActionBound);
    for (auto& r : runs) r.get();
}

// Streams that are dropped or refused, a camera busy with another program's
// login, and discovery answers that are malformed or late.
TEST(CliFaults, StreamsBusyCamerasAndDiscovery) {
    Camsim drop(
        {"--net", "1", "--net-first", "127.0.0.121", "--no-discovery", "--net-drop-after", "1"});
    Camsim refuse(
        {"--net", "1", "--net-first", "127.0.0.122", "--no-discovery", "--net-max-streams", "0"});
    Camsim busy(
        {"--net", "1", "--net-first", "127.0.0.123", "--no-discovery", "--net-max-logins", "1"});
    ASSERT_TRUE(drop.Ok() && refuse.Ok() && busy.Ok());
    Check({"--net-drop-after 1 (disconnect mid-stream)",
           {},
           1,
           "the stream from 127.0.0.121 stopped after "},
          "strevoctl ip stream --seconds 4", Ctl({"ip", "stream", "127.0.0.121", "--seconds", "4"}),
          4 + kNetActionBound);
    Check({"--net-max-streams 0 (stream refused)",
           {},
           1,
           "stream request to 127.0.0.122 failed (code -10)"},
          "strevoctl ip stream", Ctl({"ip", "stream", "127.0.0.122", "--seconds", "2"}),
          kNetActionBound);

    // This program holds the one login the camera allows.
    PELION_Init(0);
    const int32_t held = PELION_Login(strevo::ProgramLoginInfo("127.0.0.123"), nullptr, 0, 0, 0, 0);
    ASSERT_GE(held, 0);
    Check({"--net-max-logins 1 (busy: another program logged in)",
           {},
           1,
           "login to 127.0.0.123 failed (code -10)"},
          "strevoctl ip get", Ctl({"ip", "get", "127.0.0.123"}), kNetActionBound);
    PELION_LogOut(held);
    PELION_Cleanup();
    ProcessResult r;
    for (int i = 0; i < 100 && r.status != 0; ++i) {  // free once the camera has seen it go
        r = Ctl({"ip", "get", "127.0.0.123"});
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(r.status, 0) << r.err;

    // Discovery: every faulty kind of answer before each real one; only faulty answers.
    struct DiscoveryCase {
        const char* fault;
        std::vector<std::string> args;
        int lines;
    } cases[] = {
        {"--discovery-malformed mixed", {"--discovery-malformed", "mixed"}, 3},
        {"--discovery-malformed oversized", {"--discovery-malformed", "oversized"}, 0},
        // Every text the same run of "N" up to the record's end: one camera
        // by its identity, its texts cut to their fields.
        {"--discovery-malformed noterm", {"--discovery-malformed", "noterm"}, 1},
        {"--discovery-delay 1500 (slow, in time)", {"--discovery-delay", "1500"}, 3},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--net", "3", "--net-first", "127.0.0.131"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Camsim cams(args);
        ASSERT_TRUE(cams.Ok()) << c.fault;
        r = Ctl({"ip", "discover", "--seconds", "3"});
        int lines = 0;
        for (char ch : r.out) lines += ch == '\n';
        Row(c.fault, "strevoctl ip discover --seconds 3",
            "exit " + std::to_string(r.status) + ", " + std::to_string(lines) + " cameras listed",
            r.seconds);
        EXPECT_EQ(r.status, 0) << c.fault << r.err;
        EXPECT_EQ(lines, c.lines) << c.fault << ": " << r.out;
        EXPECT_LT(r.seconds, 3 + kNetActionBound);
        if (c.lines == 3) {
            EXPECT_EQ(r.out.rfind("127.0.0.131\t", 0), 0u) << r.out;
        }
    }
}
