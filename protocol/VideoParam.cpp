#include "VideoParam.h"

#include <cJSON.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "OperatorMessages.h"

namespace strevo {
namespace {

#define VP_FIELD(name, isSigned, written)                                              \
    VideoParamField {                                                                  \
#name, offsetof(VideoParam, name), sizeof(VideoParam::name), isSigned, written \
    }

const std::vector<VideoParamField> kFields = {
    VP_FIELD(Luminance, false, true),
    VP_FIELD(Contrast, false, true),
    VP_FIELD(Saturation, false, true),
    VP_FIELD(ucHue, false, true),
    VP_FIELD(Hue, false, true),
    VP_FIELD(eExposureMode, false, true),
    VP_FIELD(BExpCPS, true, true),
    VP_FIELD(ucAEWeightLevel, false, false),
    VP_FIELD(uiMShutterSpeed, true, true),
    VP_FIELD(ucManualIris, false, true),
    VP_FIELD(ucAutoGainLimit, false, true),
    VP_FIELD(ucManualGain, false, true),
    VP_FIELD(bBacklightCompensation, false, true),
    VP_FIELD(ucAntiFlicker, false, true),
    VP_FIELD(eWDMode, false, true),
    VP_FIELD(ucWDRStrength, false, true),
    VP_FIELD(eWBMode, false, true),
    VP_FIELD(uAwbTolerance, false, true),
    VP_FIELD(u32CTNum, true, true),
    VP_FIELD(ucRGGain, false, true),
    VP_FIELD(ucBGGain, false, true),
    VP_FIELD(u8RgainTuning, false, true),
    VP_FIELD(u8GgainTuning, false, true),
    VP_FIELD(u8BgainTuning, false, true),
    VP_FIELD(ucFocusMode, false, true),
    VP_FIELD(ucAFScene, false, true),
    VP_FIELD(ucAFArea, false, true),
    VP_FIELD(ucFocusDistanceMin, false, true),
    VP_FIELD(ucAFSen, false, true),
    VP_FIELD(eNightMode, false, true),
    VP_FIELD(ucNightDayChnSensity, false, true),
    VP_FIELD(uc2DNR, false, true),
    VP_FIELD(uc3DNR, false, true),
    VP_FIELD(uDpSlope, false, true),
    VP_FIELD(ucDefogMode, false, true),
    VP_FIELD(ucDelFogClass, false, true),
    VP_FIELD(ucGammaVal, false, true),
    VP_FIELD(u32AIFocus, false, true),
    VP_FIELD(u32AIAe, false, true),
    VP_FIELD(bHorzInvert, false, true),
    VP_FIELD(bVertInvert, false, true),
    VP_FIELD(ucRotation, false, true),
    VP_FIELD(eSceneMode, false, true),
    VP_FIELD(u32Lut, true, true),
    VP_FIELD(ucDigitalZoom, false, true),
};
#undef VP_FIELD

constexpr char kSetItemTemplate[] =
    "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
    "\"VideoParam\":{%s}}}";
constexpr char kPtzTemplate[] =
    "{\"Cmd\":\"ReqPtzCtrl\",\"Content\":{\"PtzCmd\":\"%s\",\"ParamH\":%d,\"ParamV\":%d}}";

// Pan/tilt speed for slider positions 1 to 8.
constexpr uint8_t kPanTiltSpeed[8] = {0, 4, 8, 15, 26, 46, 52, 63};

struct JsonDeleter {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

// A JSON number truncated toward zero, without the undefined behaviour of
// converting an out-of-range double.
int64_t Truncate(double d) {
    if (std::isnan(d))
        return 0;
    return static_cast<int64_t>(std::clamp(d, -9.2e18, 9.2e18));
}

Json ParseAnswer(const char* answer, size_t length) {
    if (!answer)
        return nullptr;
    length = strnlen(answer, length);
    return Json(cJSON_ParseWithLength(answer, length));
}

}  // namespace

const std::vector<VideoParamField>& VideoParamFields() {
    return kFields;
}

const std::vector<VideoParamField>& VideoParamFieldsByOffset() {
    static const std::vector<VideoParamField> byOffset = [] {
        std::vector<VideoParamField> v = kFields;
        std::sort(v.begin(), v.end(),
                  [](const auto& a, const auto& b) { return a.offset < b.offset; });
        return v;
    }();
    return byOffset;
}

const VideoParamField* FindVideoParamField(const std::string& key) {
    for (const auto& f : kFields)
        if (strcasecmp(f.key, key.c_str()) == 0)
            return &f;
    return nullptr;
}

int32_t GetFieldValue(const VideoParam& p, const VideoParamField& f) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&p) + f.offset;
    if (f.width == 4) {
        int32_t v;
        std::memcpy(&v, bytes, 4);
        return v;
    }
    return f.isSigned ? static_cast<int8_t>(*bytes) : *bytes;
}

void SetFieldValue(VideoParam* p, const VideoParamField& f, int64_t value) {
    auto* bytes = reinterpret_cast<uint8_t*>(p) + f.offset;
    auto low = static_cast<uint32_t>(static_cast<uint64_t>(value));
    if (f.width == 4) {
        std::memcpy(bytes, &low, 4);
        return;
    }
    *bytes = static_cast<uint8_t>(low & 0xFF);
    if (f.offset == offsetof(VideoParam, eSceneMode))
        p->eSceneMode2 = *bytes;
}

std::string MakeVideoParamItem(const char* key, int value) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, "\"%s\":%d", key ? key : "", value);
    return n >= 0 && static_cast<size_t>(n) < sizeof buf ? std::string(buf, static_cast<size_t>(n))
                                                         : std::string();
}

int32_t BuildSetItemText(const char* items, std::string* text) {
    if (!items || !text)
        return kRequestBuildFailed;
    char buf[kItemRequestSize] = {};
    int n = std::snprintf(buf, sizeof buf, kSetItemTemplate, items);
    // A cut-off JSON text would reach the camera as garbage; refuse instead.
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
        return kRequestTooLong;
    text->assign(buf, static_cast<size_t>(n));
    return 0;
}

int32_t BuildSetVideoParamText(const VideoParam& p, std::string* text) {
    if (!text)
        return kRequestBuildFailed;
    Json root(cJSON_CreateObject());
    cJSON* content = nullptr;
    cJSON* vp = nullptr;
    bool ok = root && cJSON_AddStringToObject(root.get(), "Cmd", "ReqSetVideoParam") &&
              cJSON_AddNumberToObject(root.get(), "wCmdId", 40001090) &&
              (content = cJSON_AddObjectToObject(root.get(), "Content")) &&
              cJSON_AddNumberToObject(content, "ChanNum", 0) &&
              (vp = cJSON_AddObjectToObject(content, "VideoParam"));
    for (const auto& f : kFields) {
        if (!ok)
            break;
        if (f.written)
            ok = cJSON_AddNumberToObject(vp, f.key, GetFieldValue(p, f)) != nullptr;
    }
    if (!ok)
        return kRequestBuildFailed;
    char* printed = cJSON_Print(root.get());
    if (!printed)
        return kRequestBuildFailed;
    text->assign(printed);
    cJSON_free(printed);
    return 0;
}

int32_t BuildPtzText(const char* action, int paramH, int paramV, std::string* text) {
    if (!action || !text)
        return kRequestBuildFailed;
    char buf[kPtzRequestSize] = {};
    int n = std::snprintf(buf, sizeof buf, kPtzTemplate, action, paramH, paramV);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
        return kRequestTooLong;
    text->assign(buf, static_cast<size_t>(n));
    return 0;
}

bool PtzActionParams(const std::string& action, int speed, int* paramH, int* paramV) {
    int p = std::clamp(speed, 1, 8);
    int s = kPanTiltSpeed[p - 1];
    int h = 0, v = 0;
    if (action == "Up" || action == "Down") {
        v = s;
    } else if (action == "Left" || action == "Right") {
        h = s;
    } else if (action == "LeftUp" || action == "RightUp" || action == "LeftDown" ||
               action == "RightDown") {
        h = v = s;
    } else if (action == "ZoomTele" || action == "ZoomWide" || action == "FocusNear" ||
               action == "FocusFar") {
        h = v = p - 1;
    } else if (action != "IrisOpen" && action != "IrisClose" && action != "Stop" &&
               action != "ZoomStop" && action != "FocusStop") {
        return false;
    }
    *paramH = h;
    *paramV = v;
    return true;
}

int32_t ParseVideoParamAnswer(const char* answer, size_t length, VideoParam* p) {
    if (!p)
        return kRequestBuildFailed;
    Json root = ParseAnswer(answer, length);
    if (!root)
        return kAnswerNotJson;
    const cJSON* content = cJSON_GetObjectItem(root.get(), "Content");
    const cJSON* result = cJSON_GetObjectItem(content, "nResult");
    if (!cJSON_IsObject(content) || !cJSON_IsNumber(result))
        return kAnswerIncomplete;
    int64_t r = Truncate(result->valuedouble);
    if (r < 0)
        return static_cast<int32_t>(std::max<int64_t>(r, INT32_MIN));
    // Success without the data would hand the caller an all-zero record.
    const cJSON* vp = cJSON_GetObjectItem(content, "VideoParam");
    if (!cJSON_IsObject(vp))
        return kAnswerIncomplete;
    for (const auto& f : kFields) {
        const cJSON* item = cJSON_GetObjectItem(vp, f.key);
        if (cJSON_IsNumber(item))
            SetFieldValue(p, f, Truncate(item->valuedouble));
    }
    return 0;
}

int32_t ParseFocusNearAnswer(const char* answer, size_t length) {
    Json root = ParseAnswer(answer, length);
    const cJSON* content = cJSON_GetObjectItem(root.get(), "Content");
    const cJSON* near = cJSON_GetObjectItem(content, "FocusNear");
    if (!cJSON_IsNumber(near))
        return kFocusNearIncomplete;
    return static_cast<int32_t>(
        std::clamp<int64_t>(Truncate(near->valuedouble), INT32_MIN, INT32_MAX));
}

int32_t ReportIfFailed(int32_t result) {
    if (result < 0)
        ShowMessage("返回错误码: %d", result);
    return result;
}

}  // namespace strevo
