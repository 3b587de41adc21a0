// Parameter-file import: whatever the file holds, only an exact 55-byte record
// reaches the pages and the camera, byte for byte, and the whole-record write
// built from it carries every written field with its value.
//
// Input: the file's content.
#include <cJSON.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "FuzzInput.h"
#include "FuzzQuiet.h"
#include "FuzzTempDir.h"
#include "ParamFile.h"
#include "VideoParam.h"

namespace {

void CheckWriteText(const strevo::VideoParam& p) {
    std::string text;
    fuzz::Check(strevo::BuildSetVideoParamText(p, &text) == 0, "whole-record write not built");
    cJSON* root = cJSON_Parse(text.c_str());
    const cJSON* vp = cJSON_GetObjectItem(cJSON_GetObjectItem(root, "Content"), "VideoParam");
    fuzz::Check(cJSON_IsObject(vp), "whole-record write without its record");
    int keys = 0;
    for (const strevo::VideoParamField& f : strevo::VideoParamFields()) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(vp, f.key);
        if (!f.written) {
            fuzz::Check(item == nullptr, "unwritten field sent", f.offset);
            continue;
        }
        fuzz::Check(cJSON_IsNumber(item) && item->valuedouble == strevo::GetFieldValue(p, f),
                    "field sent with another value", f.offset);
        ++keys;
    }
    fuzz::Check(cJSON_GetArraySize(vp) == keys, "extra keys sent", cJSON_GetArraySize(vp), keys);
    cJSON_Delete(root);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietOperatorMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::TempPath("video_params.dat");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    int shown = 0, sent = 0;
    strevo::VideoParam showed{}, sentRecord{};
    strevo::ParamFileTarget target;
    target.show = [&](const strevo::VideoParam& p) {
        ++shown;
        showed = p;
    };
    target.setVideoParam = [&](const strevo::VideoParam* p) {
        ++sent;
        sentRecord = *p;
        CheckWriteText(*p);
        return 0;
    };
    int32_t rc = strevo::ImportParams(target, path);
    if (size != sizeof(strevo::VideoParam)) {
        fuzz::Check(rc == strevo::kFileSizeMismatch, "wrong size not refused", rc,
                    static_cast<long>(size));
        fuzz::Check(shown == 0 && sent == 0, "record of a wrong-size file used");
    } else {
        fuzz::Check(rc == 0 && shown == 1 && sent == 1, "exact record not imported", rc);
        fuzz::Check(
            std::memcmp(&showed, data, size) == 0 && std::memcmp(&sentRecord, data, size) == 0,
            "record differs from the file");
        // Written back, the file is the same bytes.
        const std::string copy = fuzz::TempPath("copy.dat");
        fuzz::Check(strevo::WriteParamFile(copy, sentRecord) == 0, "record not written");
        strevo::VideoParam again{};
        fuzz::Check(
            strevo::ReadParamFile(copy, &again) == 0 && std::memcmp(&again, data, size) == 0,
            "written record reads back different");
        std::remove(copy.c_str());
    }
    std::remove(path.c_str());
    return 0;
}
