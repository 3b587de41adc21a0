// usb import FILE --devices LIST|all: one parameter file into the chosen
// cameras at once, one line per camera, then a summary.
#include <cstdio>
#include <set>
#include <string>

#include "CUSBDevice.h"
#include "CameraCommands.h"
#include "Commands.h"
#include "ParamFile.h"
#include "ParamImportEngine.h"

namespace strevoctl {

int RunUsbImportMany(const Args& args) {
    std::string file;
    bool all = false;
    std::set<int> chosen;
    bool devicesGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--devices") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "strevoctl: --devices needs a value\n");
                return 2;
            }
            if (!ParseDevices(args[++i], &all, &chosen))
                return 2;
            devicesGiven = true;
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            std::fprintf(stderr, "strevoctl: unknown argument '%s' (see --help)\n",
                         args[i].c_str());
            return 2;
        }
    }
    if (file.empty() || !devicesGiven) {
        std::fprintf(stderr, "strevoctl: usb import FILE --devices LIST|all\n");
        return 2;
    }
    InstallStderrMessages();
    strevo::VideoParam record{};
    if (int32_t rc = strevo::LoadParamFile(file, &record); rc != 0)
        return Fail("cannot use " + file, rc);
    if (!HidSimLinkReachable())
        return 1;
    strevo::CUSBDevice usb;
    const int count = usb.RefreshDevices();
    for (int index : chosen) {
        if (index >= count) {
            std::fprintf(stderr, "strevoctl: no USB camera with index %d (%d found)\n", index,
                         count);
            return 1;
        }
    }
    strevo::ParamImportEngine engine;
    for (int i = 0; i < count; ++i)
        engine.AddRow(usb.GetEntry(i).handle, all || chosen.count(i) > 0);  // ids are the indices
    if (engine.Start(record) < 0) {
        std::fprintf(stderr, "strevoctl: no USB camera to import into\n");
        return 1;
    }
    engine.Join();

    int total = 0, failed = 0;
    for (const strevo::ImportRow& row : engine.Rows()) {
        if (!row.ticked)
            continue;
        ++total;
        failed += row.code != 0 ? 1 : 0;
        if (row.code != 0)
            std::printf("usb %d: failed (code %d)\n", row.id, row.code);
        else
            std::printf("usb %d: ok\n", row.id);
    }
    std::printf("imported into %d of %d camera%s\n", total - failed, total, total == 1 ? "" : "s");
    return failed == 0 ? 0 : 1;
}

}  // namespace strevoctl
