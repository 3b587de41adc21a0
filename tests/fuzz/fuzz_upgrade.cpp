// The upgrade worker against a camera whose answers come from the input:
// texts with result codes, time-outs and failed reads, one answer per
// request; once they run out the camera is silent. Whatever it answers, the
// run ends; the row ends upgraded or failed, ticked, with one of the known
// texts; it is upgraded only after an answer to this package's data or polls
// said UpdateStatus 2; and the requests carry the announcement and then the
// package in order.
//
// Input: Byte report length (18 + n), U16 package size (mod 5000), then
// answers until the input ends: Byte kind (mod 4: 0 time-out, 1 failed read,
// else a text answer: Byte result (0 unless the high bit is set: then minus
// the low bits), Piece text).
#include <cJSON.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CUSBDevice.h"
#include "FuzzHid.h"
#include "FuzzInput.h"
#include "FuzzQuiet.h"
#include "FuzzTempDir.h"
#include "UpgradeEngine.h"

namespace {

bool SaysDone(const std::string& text) {
    cJSON* root = cJSON_Parse(text.c_str());
    const cJSON* status = cJSON_GetObjectItem(root, "UpdateStatus");
    const bool done = cJSON_IsNumber(status) && status->valueint == strevo::kUpdateStatusDone;
    cJSON_Delete(root);
    return done;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietOperatorMessages();
    fuzz::Input in(data, size);
    const size_t L = 18 + in.Byte();
    std::string package(in.U16() % 5000, '\0');
    for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>(i * 31 + 7);
    const std::string path = fuzz::TempPath("package.dat");
    std::ofstream(path, std::ios::binary)
        .write(package.data(), static_cast<std::streamsize>(package.size()));

    auto backend = std::make_shared<fuzz::ScriptedBackend>();
    auto script = backend->Add(static_cast<int>(L));
    bool doneSaid = false;  // by an answer the worker reads (not the request's)
    while (!in.Empty()) {
        const uint8_t kind = in.Byte() % 4;
        if (kind == 0) {
            script->batches.push_back({{fuzz::ScriptedRead::kTimeout, {}}});
        } else if (kind == 1) {
            script->batches.push_back({{fuzz::ScriptedRead::kFailed, {}}});
        } else {
            const uint8_t r = in.Byte();
            const std::string text = in.Piece();
            const size_t nul = text.find('\0');
            if (!script->batches.empty() && SaysDone(text.substr(0, nul)))
                doneSaid = true;
            script->batches.push_back(fuzz::AnswerReports(L, text, (r & 0x80) ? -(r & 0x7F) : 0));
        }
    }

    strevo::CUSBDevice usb(backend);
    fuzz::Check(usb.DeviceOpen() == 1, "device not opened");
    {
        strevo::UpgradeEngine engine;
        engine.pollIntervalMs = 0;
        engine.AddRow(usb.GetEntry(0).handle);
        engine.SetPackagePaths({path});
        fuzz::Check(engine.Start() == 0, "package not read");
        engine.Join();

        const strevo::UpgradeRow row = engine.Rows().at(0);
        fuzz::Check(row.ticked, "row left unticked");
        fuzz::Check(row.state == strevo::kRowUpgraded || row.state == strevo::kRowFailed,
                    "row state at the end", row.state);
        fuzz::Check(row.status == "升级成功." || StartsWith(row.status, "升级[") ||
                        StartsWith(row.status, "请求升级失败:") ||
                        StartsWith(row.status, "升级返回失败:"),
                    "status text");
        if (row.state == strevo::kRowUpgraded)
            fuzz::Check(doneSaid, "upgraded without the camera saying so");
    }

    // The requests as the camera got them: the announcement with its zero
    // byte, then only data that is the package's next bytes.
    std::string payload, sent;
    uint32_t cmd = 0;
    int requests = 0;
    for (const std::string& r : script->written) {
        fuzz::Check(r.size() == L, "request report length", static_cast<long>(r.size()));
        cmd = fuzz::GetLe(r, 5, 4);
        payload.append(r, 13, fuzz::GetLe(r, 9, 2));
        if (fuzz::GetLe(r, 11, 2) != 1)
            continue;
        if (requests++ == 0) {
            fuzz::Check(cmd == strevo::kCmdUpgradeRequest, "first request", cmd);
            const std::string text =
                strevo::BuildUpgradeRequest(static_cast<uint32_t>(package.size()));
            fuzz::Check(payload == text + std::string(1, '\0'), "announcement text");
        } else if (cmd == strevo::kCmdUpgradeData) {
            sent += payload;
        } else {
            fuzz::Check(cmd == strevo::kCmdUpgradeStatus, "unknown request", cmd);
        }
        payload.clear();
    }
    fuzz::Check(sent.size() <= package.size() && package.compare(0, sent.size(), sent) == 0,
                "data is not the package in order");
    return 0;
}
