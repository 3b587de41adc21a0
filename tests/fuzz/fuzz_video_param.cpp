// Answers to the parameter read and the focus near limit read, parsed directly
// (the network side hands the SDK's answer buffer over as it is) and through
// the USB transport. A failed read leaves the record untouched, a successful
// one keeps the two scene copies equal, and a record that was read goes out in
// the whole-record write and comes back unchanged.
//
// Input: Byte mode (mod 4: 0 read answer, 1 focus answer, 2 read over USB,
// 3 focus over USB), Byte report length for USB (18 + n), then the answer.
#include <cJSON.h>

#include <cstring>
#include <memory>
#include <string>

#include "CUSBDevice.h"
#include "FuzzHid.h"
#include "FuzzInput.h"
#include "FuzzQuiet.h"
#include "VideoParam.h"

namespace {

strevo::VideoParam Canary() {
    strevo::VideoParam p;
    auto* b = reinterpret_cast<uint8_t*>(&p);
    for (size_t i = 0; i < sizeof p; ++i) b[i] = static_cast<uint8_t>(0x5A + 13 * i);
    p.eSceneMode2 = p.eSceneMode;
    return p;
}

// What the camera would answer with the record the whole-record write sends.
std::string EchoAnswer(const strevo::VideoParam& p) {
    std::string text;
    fuzz::Check(strevo::BuildSetVideoParamText(p, &text) == 0, "whole-record write not built");
    cJSON* root = cJSON_Parse(text.c_str());
    fuzz::Check(root != nullptr, "whole-record write is not JSON");
    cJSON_AddNumberToObject(cJSON_GetObjectItem(root, "Content"), "nResult", 0);
    char* printed = cJSON_PrintUnformatted(root);
    std::string answer = printed;
    cJSON_free(printed);
    cJSON_Delete(root);
    return answer;
}

void CheckRead(int32_t rc, const strevo::VideoParam& p) {
    const strevo::VideoParam before = Canary();
    if (rc != 0) {
        fuzz::Check(std::memcmp(&p, &before, sizeof p) == 0, "failed read changed the record", rc);
        return;
    }
    fuzz::Check(p.eSceneMode == p.eSceneMode2, "scene copies differ");
    // Every written field survives the trip out and back; ucAEWeightLevel is not
    // sent and so keeps what the record held.
    strevo::VideoParam back = p;
    std::string echo = EchoAnswer(p);
    fuzz::Check(strevo::ParseVideoParamAnswer(echo.data(), echo.size(), &back) == 0,
                "echo not read");
    fuzz::Check(std::memcmp(&p, &back, sizeof p) == 0, "record changed on its way out and back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietOperatorMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    int mode = in.Byte() % 4;
    size_t L = 18 + in.Byte();
    std::string text = in.Rest();
    strevo::VideoParam p = Canary();

    if (mode == 0) {
        // Exactly the answer's bytes, unterminated, as a full network buffer would be.
        std::unique_ptr<char[]> answer(new char[text.size()]);
        std::memcpy(answer.get(), text.data(), text.size());
        CheckRead(strevo::ParseVideoParamAnswer(answer.get(), text.size(), &p), p);
        return 0;
    }
    if (mode == 1) {
        std::unique_ptr<char[]> answer(new char[text.size()]);
        std::memcpy(answer.get(), text.data(), text.size());
        strevo::ParseFocusNearAnswer(answer.get(), text.size());
        return 0;
    }

    auto backend = std::make_shared<fuzz::ScriptedBackend>();
    auto script = backend->Add(static_cast<int>(L));
    script->batches.push_back(fuzz::AnswerReports(L, text, 0));
    strevo::CUSBDevice usb(backend);
    fuzz::Check(usb.DeviceOpen() == 1, "device not opened");
    strevo::UsbHandle h = usb.GetEntry(0).handle;
    if (mode == 2) {
        int32_t rc = usb.GetVideoParam(h, &p);
        if (text.size() + 1 > strevo::kGetVideoParamAnswerSize)
            fuzz::Check(rc == strevo::kUsbAnswerTooLarge, "oversized answer accepted", rc);
        CheckRead(rc, p);
    } else {
        int32_t rc = usb.GetFocusNear(h);
        if (text.size() + 1 > strevo::kFocusNearAnswerSize)
            fuzz::Check(rc == strevo::kUsbAnswerTooLarge, "oversized answer accepted", rc);
    }
    return 0;
}
