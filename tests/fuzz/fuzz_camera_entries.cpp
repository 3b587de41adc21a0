// The added cameras as toolscfg.ini holds them, and addresses as the operator
// types them. Whatever the text: an entry that is accepted carries no
// credentials in its address and formats back to a value that parses to the
// same camera; an accepted typed address keeps no credentials and survives the
// file; a refusal always says why.
//
// Input: Byte kind, then the text (an entry value and a typed address at once).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CameraList.h"
#include "RtspSource.h"

using namespace strevo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const CameraKind kind = data[0] & 1 ? CameraKind::kRtsp : CameraKind::kSdk;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    AddedCamera camera;
    if (ParseAddedCamera(text, &camera)) {
        rtsp::UrlParts parts;
        if (camera.kind == CameraKind::kRtsp &&
            (!rtsp::ParseUrl(camera.address, &parts) || parts.hasCredentials))
            std::abort();
        AddedCamera again;
        if (!ParseAddedCamera(FormatAddedCamera(camera), &again) || again.kind != camera.kind ||
            again.address != camera.address || again.user != camera.user)
            std::abort();
    }

    AddedCamera typed;
    std::string password, why;
    if (NormaliseAddress(kind, text, &typed, &password, &why)) {
        rtsp::UrlParts parts;
        if (typed.kind == CameraKind::kRtsp &&
            (!rtsp::ParseUrl(typed.address, &parts) || parts.hasCredentials))
            std::abort();
        AddedCamera stored;
        if (!ParseAddedCamera(FormatAddedCamera(typed), &stored))
            std::abort();  // what the dialog accepts must survive the file
    } else if (why.empty()) {
        std::abort();  // a refusal always says why
    }
    return 0;
}
