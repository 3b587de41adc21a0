// The identity answer of a USB camera, carried in well-formed answer reports,
// through the device refresh that fills the device table and through the name
// conversion to GBK. Every text must end inside its field, and a cut must not
// leave half a character behind.
//
// Input: Byte report length (18 + n), Byte result code (0 unless the high
// bit is set: then minus the low bits), then the answer text.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "CUSBDevice.h"
#include "FuzzHid.h"
#include "FuzzInput.h"
#include "TextConv.h"
#include "TextCut.h"

namespace {

#define CHECK_FIELD(s, f) \
    fuzz::Check(fuzz::Terminated((s).f, sizeof(s).f), "unterminated " #s "." #f)

void CheckInfo(const strevo::UsbDeviceInfo& info) {
    CHECK_FIELD(info, name);
    CHECK_FIELD(info, model);
    CHECK_FIELD(info, serial);
    CHECK_FIELD(info, buildDate);
    CHECK_FIELD(info, biosVersion);
    if (info.biosVersion[0]) {
        unsigned hi = 0, lo = 0;
        char tail = 0;
        fuzz::Check(std::sscanf(info.biosVersion, "%x.%2x%c", &hi, &lo, &tail) == 2 && hi <= 0xFF,
                    "BIOS version text");
    }
}

// A field cut from a well-formed text is still well-formed.
void CheckCut(const char* from, const char* field, const char* what) {
    if (fuzz::ValidUtf8(from))
        fuzz::Check(fuzz::ValidUtf8(field), what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    size_t L = 18 + in.Byte();
    uint8_t r = in.Byte();
    int32_t result = (r & 0x80) ? -(r & 0x7F) : 0;
    std::string text = in.Rest();

    auto backend = std::make_shared<fuzz::ScriptedBackend>();
    auto script = backend->Add(static_cast<int>(L));
    script->repeat = true;  // every identity query gets the same answer
    script->batches.push_back(fuzz::AnswerReports(L, text, result));

    strevo::CUSBDevice usb(backend);
    usb.refreshSettleMs = 0;
    usb.identityRetryMs = 0;
    fuzz::Check(usb.RefreshDevices() == 1, "device not found");
    const strevo::UsbDeviceEntry& entry = usb.GetEntry(0);
    CHECK_FIELD(entry, name);
    CHECK_FIELD(entry, model);
    CHECK_FIELD(entry, serial);
    CHECK_FIELD(entry, buildDate);
    CHECK_FIELD(entry, biosVersion);

    strevo::UsbDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    int32_t rc = usb.GetDeviceInfo(entry.handle, &info);
    CheckInfo(info);
    if (rc != 0) {
        fuzz::Check(entry.name[0] == 0 && entry.model[0] == 0 && entry.serial[0] == 0,
                    "texts kept from a failed identity query");
        return 0;
    }
    if (strevo::AnsiIsUtf8())
        fuzz::Check(fuzz::ValidUtf8(entry.name), "device name cut inside a character");
    CheckCut(info.model, entry.model, "model cut inside a character");
    CheckCut(info.serial, entry.serial, "serial cut inside a character");
    CheckCut(info.buildDate, entry.buildDate, "build date cut inside a character");

    // The name as a GBK system stores it.
    char gbk[64];
    int capacity = sizeof gbk;
    if (strevo::Utf8ToAnsi(info.name, gbk, &capacity, "GBK")) {
        fuzz::Check(fuzz::Terminated(gbk, sizeof gbk), "GBK name unterminated");
        char field[32];
        strevo::CutText(gbk, field, sizeof field, false);
        fuzz::Check(fuzz::WholeDoubleByte(field), "GBK name cut inside a character");
    }
    return 0;
}
