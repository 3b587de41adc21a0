// usb upgrade PACKAGE... / usb reboot: the upgrade engine over the chosen
// cameras, one line per camera and change of its status, then a summary.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "CameraCommands.h"
#include "Commands.h"
#include "UpgradeEngine.h"

namespace strevoctl {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
    g_interrupted = 1;
}

// Prints every new status text of a row as "usb INDEX: TEXT".
class StatusPrinter final : public strevo::IUpgradeListener {
  public:
    void OnUpgradeEvent(const strevo::UpgradeEvent& e) override {
        if (e.kind == strevo::UpgradeEvent::kRebootFinished || e.row.status.empty())
            return;
        std::string& last = last_[e.row.id];
        if (last == e.row.status)
            return;
        last = e.row.status;
        std::printf("usb %d: %s\n", e.row.id, e.row.status.c_str());
        std::fflush(stdout);
    }

  private:
    std::map<int, std::string> last_;
};

struct Options {
    std::vector<std::string> packages;
    bool all = true;
    std::set<int> chosen;
};

// Returns 0 when parsed, else the exit status of a usage error.
int ParseOptions(const Args& args, bool packages, Options* out) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--devices") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "strevoctl: --devices needs a value\n");
                return 2;
            }
            if (!ParseDevices(args[++i], &out->all, &out->chosen))
                return 2;
        } else if (packages && args[i].rfind("--", 0) != 0) {
            out->packages.push_back(args[i]);
        } else {
            std::fprintf(stderr, "strevoctl: unknown argument '%s' (see --help)\n",
                         args[i].c_str());
            return 2;
        }
    }
    if (packages && out->packages.empty()) {
        std::fprintf(stderr, "strevoctl: usb upgrade needs at least one PACKAGE\n");
        return 2;
    }
    return 0;
}

// Runs the engine's work on the chosen cameras and waits for it; Ctrl-C stops it.
int Run(const Args& args, bool upgrade) {
    Options opt;
    if (int rc = ParseOptions(args, upgrade, &opt))
        return rc;
    InstallStderrMessages();
    if (!HidSimLinkReachable())
        return 1;
    strevo::CUSBDevice usb;
    const int count = usb.RefreshDevices();
    for (int index : opt.chosen) {
        if (index >= count) {
            std::fprintf(stderr, "strevoctl: no USB camera with index %d (%d found)\n", index,
                         count);
            return 1;
        }
    }

    StatusPrinter printer;
    strevo::UpgradeEngine engine(&printer);
    int chosen = 0;
    for (int i = 0; i < count; ++i) {
        const bool tick = opt.all || opt.chosen.count(i) > 0;
        engine.AddRow(usb.GetEntry(i).handle, tick);  // row ids are the indices
        chosen += tick ? 1 : 0;
    }
    if (upgrade) {
        engine.SetPackagePaths(opt.packages);
        if (engine.Start() < 0)
            return 1;  // the reason is on stderr
    } else {
        engine.StartReboot();
    }

    auto previous = std::signal(SIGINT, OnInterrupt);
    bool stopped = false;
    while (engine.WorkersRunning()) {
        if (g_interrupted && !stopped) {
            engine.Stop();
            stopped = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    engine.Join();
    std::signal(SIGINT, previous);

    int failed = 0;
    std::string failedList;
    const std::vector<strevo::UpgradeRow> rows = engine.Rows();
    for (const strevo::UpgradeRow& row : rows) {
        if (!opt.all && opt.chosen.count(row.id) == 0)
            continue;
        // Rebooted rows are gone from the list; an upgraded row ends in state 0.
        if (!upgrade || row.state != strevo::kRowUpgraded) {
            ++failed;
            failedList += (failedList.empty() ? "" : ",") + std::to_string(row.id);
        }
    }
    std::printf("%s %d of %d camera%s", upgrade ? "upgraded" : "rebooted", chosen - failed, chosen,
                chosen == 1 ? "" : "s");
    if (failed)
        std::printf("; failed: %s", failedList.c_str());
    std::printf("\n");
    if (!upgrade && chosen - failed > 0)
        std::printf("rebooted cameras come back with new handles: run usb list again later\n");
    return failed == 0 && !stopped ? 0 : 1;
}

}  // namespace

bool ParseDevices(const std::string& text, bool* all, std::set<int>* chosen) {
    if (text == "all") {
        *all = true;
        return true;
    }
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string part = text.substr(pos, comma - pos);
        char* end = nullptr;
        long index = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || index < 0 || index > 1000) {
            std::fprintf(stderr,
                         "strevoctl: --devices takes all or indices as in usb list (0,2)\n");
            return false;
        }
        chosen->insert(static_cast<int>(index));
        pos = comma + 1;
    }
    *all = false;
    return true;
}

int RunUsbUpgrade(const Args& args) {
    return Run(args, true);
}

int RunUsbReboot(const Args& args) {
    return Run(args, false);
}

}  // namespace strevoctl
