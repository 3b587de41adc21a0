#include "CameraModel.h"

#include <cJSON.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace camsim {
namespace {

enum class Width { U8, I8, I32 };

struct ParamDef {
    const char* key;
    Width width;
    int32_t def;  // factory default, inside the editor's ranges
};

// Answer order of the read command.
constexpr ParamDef kParams[] = {
    {"Luminance", Width::U8, 50},
    {"Contrast", Width::U8, 50},
    {"Saturation", Width::U8, 50},
    {"ucHue", Width::U8, 50},
    {"Hue", Width::U8, 50},  // sharpness
    {"eExposureMode", Width::U8, 0},
    {"BExpCPS", Width::I8, 0},
    {"ucAEWeightLevel", Width::U8, 1},
    {"uiMShutterSpeed", Width::I32, 3333},  // 1/30 s
    {"ucManualIris", Width::U8, 254},       // off
    {"ucAutoGainLimit", Width::U8, 128},
    {"ucManualGain", Width::U8, 32},
    {"bBacklightCompensation", Width::U8, 0},
    {"ucAntiFlicker", Width::U8, 1},
    {"eWDMode", Width::U8, 0},
    {"ucWDRStrength", Width::U8, 50},
    {"eWBMode", Width::U8, 1},
    {"uAwbTolerance", Width::U8, 1},
    {"u32CTNum", Width::I32, 5000},
    {"ucRGGain", Width::U8, 50},
    {"ucBGGain", Width::U8, 50},
    {"u8RgainTuning", Width::U8, 50},
    {"u8GgainTuning", Width::U8, 50},
    {"u8BgainTuning", Width::U8, 50},
    {"ucFocusMode", Width::U8, 1},
    {"ucAFScene", Width::U8, 0},
    {"ucAFArea", Width::U8, 0},
    {"ucFocusDistanceMin", Width::U8, 1},
    {"ucAFSen", Width::U8, 1},
    {"eNightMode", Width::U8, 0},
    {"ucNightDayChnSensity", Width::U8, 1},
    {"uc2DNR", Width::U8, 30},
    {"uc3DNR", Width::U8, 40},
    {"uDpSlope", Width::U8, 20},
    {"ucDefogMode", Width::U8, 0},
    {"ucDelFogClass", Width::U8, 50},
    {"ucGammaVal", Width::U8, 0},
    {"u32AIFocus", Width::U8, 0},
    {"u32AIAe", Width::U8, 0},
    {"bHorzInvert", Width::U8, 0},
    {"bVertInvert", Width::U8, 0},
    {"ucRotation", Width::U8, 0},
    {"eSceneMode", Width::U8, 1},
    {"u32Lut", Width::I32, 0},
    {"ucDigitalZoom", Width::U8, 0},
};
constexpr int kParamCount = static_cast<int>(sizeof kParams / sizeof kParams[0]);
static_assert(kParamCount == 45);  // every field of the record, eSceneMode once

// Focus near limit in mm for each ucFocusDistanceMin choice.
constexpr int kFocusNearMm[] = {10, 300, 500, 750, 1000, 1500, 2000, 3000, 5000, 10000, 21000};

constexpr uint32_t kJsonCodes[] = {40001089, 40001090, 40001093, 40001119, 40001006};

int FindParam(const char* key) {
    if (!key)
        return -1;
    for (int i = 0; i < kParamCount; ++i)
        if (strcasecmp(kParams[i].key, key) == 0)
            return i;
    return -1;
}

// Truncates toward zero and keeps the field's width, as the camera's firmware
// stores into its record.
int32_t Store(Width w, double d) {
    if (std::isnan(d))
        d = 0;
    d = std::clamp(d, -9.2e18, 9.2e18);
    auto wide = static_cast<int64_t>(d);
    auto low = static_cast<uint32_t>(static_cast<uint64_t>(wide));
    switch (w) {
        case Width::U8:
            return static_cast<int32_t>(low & 0xFF);
        case Width::I8:
            return static_cast<int8_t>(low & 0xFF);
        case Width::I32:
            break;
    }
    return static_cast<int32_t>(low);
}

struct JsonDeleter {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

std::string Print(cJSON* j) {
    char* text = cJSON_PrintUnformatted(j);
    if (!text)
        return "{}";
    std::string s = text;
    cJSON_free(text);
    return s;
}

// {"Cmd":cmd,"Content":{"nResult":result}}; content (if any) receives the
// answer's data.
Json Answer(const std::string& cmd, int result, cJSON** content) {
    Json root(cJSON_CreateObject());
    cJSON_AddStringToObject(root.get(), "Cmd", cmd.c_str());
    cJSON* c = cJSON_AddObjectToObject(root.get(), "Content");
    cJSON_AddNumberToObject(c, "nResult", result);
    if (content)
        *content = c;
    return root;
}

int ResultOf(const std::string& answer) {
    Json j(cJSON_Parse(answer.c_str()));
    const cJSON* c = cJSON_GetObjectItemCaseSensitive(j.get(), "Content");
    const cJSON* r = cJSON_GetObjectItemCaseSensitive(c, "nResult");
    return cJSON_IsNumber(r) ? r->valueint : kResultMalformed;
}

int ParamInt(const cJSON* content, const char* key) {
    const cJSON* v = cJSON_GetObjectItem(content, key);
    return cJSON_IsNumber(v) ? static_cast<int>(std::clamp(v->valuedouble, -1e6, 1e6)) : 0;
}

}  // namespace

double CameraModel::Axis::At(Clock::time_point now) const {
    double dt = std::chrono::duration<double>(now - t0).count();
    if (dt < 0)
        dt = 0;
    return std::clamp(base + velocity * dt, min, max);
}

void CameraModel::Axis::Move(Clock::time_point now, double v) {
    base = At(now);
    t0 = now;
    velocity = v;
}

CameraModel::CameraModel(std::string name) : name_(std::move(name)) {
    RestoreDefaults();
    pan_.min = kPanMin;
    pan_.max = kPanMax;
    tilt_.min = kTiltMin;
    tilt_.max = kTiltMax;
    zoom_.max = kZoomMax;
    focus_.max = kFocusMax;
    focus_.base = kFocusMax / 2;
    iris_.max = kIrisMax;
    iris_.base = kIrisMax / 2;
}

int CameraModel::ParamCount() {
    return kParamCount;
}

const char* CameraModel::ParamKey(int index) {
    return index >= 0 && index < kParamCount ? kParams[index].key : nullptr;
}

void CameraModel::RestoreDefaults() {
    for (int i = 0; i < kParamCount; ++i) values_[i] = kParams[i].def;
}

void CameraModel::SetClock(std::function<Clock::time_point()> now) {
    std::lock_guard<std::mutex> lock(mu_);
    now_ = std::move(now);
}

CameraModel::Clock::time_point CameraModel::Now() const {
    return now_ ? now_() : Clock::now();
}

bool CameraModel::GetParam(const std::string& key, int32_t* value) const {
    int i = FindParam(key.c_str());
    if (i < 0)
        return false;
    std::lock_guard<std::mutex> lock(mu_);
    *value = values_[i];
    return true;
}

int CameraModel::FocusNearMm() const {
    int i = FindParam("ucFocusDistanceMin");
    std::lock_guard<std::mutex> lock(mu_);
    int choice = std::clamp(values_[i], 0, static_cast<int>(std::size(kFocusNearMm)) - 1);
    return kFocusNearMm[choice];
}

CameraSnapshot CameraModel::Snapshot() const {
    std::lock_guard<std::mutex> lock(mu_);
    auto v = [this](const char* key) { return values_[FindParam(key)]; };
    CameraSnapshot s;
    s.luminance = static_cast<uint8_t>(v("Luminance"));
    s.contrast = static_cast<uint8_t>(v("Contrast"));
    s.saturation = static_cast<uint8_t>(v("Saturation"));
    s.mirror = v("bHorzInvert") != 0;
    s.flip = v("bVertInvert") != 0;
    s.rotation = v("ucRotation");
    s.sceneMode = v("eSceneMode");
    Clock::time_point now = Now();
    s.pan = static_cast<int>(std::lround(pan_.At(now)));
    s.tilt = static_cast<int>(std::lround(tilt_.At(now)));
    s.zoom = static_cast<int>(std::lround(zoom_.At(now)));
    s.focus = static_cast<int>(std::lround(focus_.At(now)));
    s.iris = static_cast<int>(std::lround(iris_.At(now)));
    for (const Axis* a : {&pan_, &tilt_, &zoom_, &focus_, &iris_}) {
        double p = a->At(now);
        if ((a->velocity > 0 && p < a->max) || (a->velocity < 0 && p > a->min))
            s.moving = true;
    }
    return s;
}

std::string CameraModel::HandleJson(const std::string& request) {
    size_t len = request.size();
    while (len > 0 && request[len - 1] == '\0') --len;
    Json root(cJSON_ParseWithLength(request.data(), len));
    const cJSON* cmd = cJSON_GetObjectItem(root.get(), "Cmd");
    if (!cJSON_IsObject(root.get()) || !cJSON_IsString(cmd)) {
        return Print(Answer("", kResultMalformed, nullptr).get());
    }
    std::lock_guard<std::mutex> lock(mu_);
    return Dispatch(cmd->valuestring, cJSON_GetObjectItem(root.get(), "Content"));
}

int32_t CameraModel::HandleUsbCommand(uint32_t cmd, const std::string& payload,
                                      std::string* answer) {
    if (std::find(std::begin(kJsonCodes), std::end(kJsonCodes), cmd) == std::end(kJsonCodes)) {
        answer->clear();
        return kResultUnknownCmd;
    }
    *answer = HandleJson(payload);
    int result = ResultOf(*answer);
    return result < 0 ? result : 0;
}

std::string CameraModel::Dispatch(const std::string& cmd, const void* contentPtr) {
    const auto* content = static_cast<const cJSON*>(contentPtr);
    if (cmd == "ReqGetVideoParam")
        return GetVideoParamAnswer();
    if (cmd == "ReqSetVideoParam") {
        const cJSON* vp = cJSON_GetObjectItem(content, "VideoParam");
        return Print(Answer(cmd, ApplyVideoParam(vp), nullptr).get());
    }
    if (cmd == "ReqSetDefaultParam") {
        RestoreDefaults();
        return Print(Answer(cmd, 0, nullptr).get());
    }
    if (cmd == "ReqGetFocusNear") {
        int i = FindParam("ucFocusDistanceMin");
        int choice = std::clamp(values_[i], 0, static_cast<int>(std::size(kFocusNearMm)) - 1);
        cJSON* c = nullptr;
        Json a = Answer(cmd, 0, &c);
        cJSON_AddNumberToObject(c, "FocusNear", kFocusNearMm[choice]);
        return Print(a.get());
    }
    if (cmd == "ReqPtzCtrl") {
        const cJSON* action = cJSON_GetObjectItem(content, "PtzCmd");
        if (!cJSON_IsString(action))
            return Print(Answer(cmd, kResultBadContent, nullptr).get());
        static const char* const kActions[] = {
            "Up",       "Down",      "Left",     "Right",    "LeftUp",    "RightUp",
            "LeftDown", "RightDown", "ZoomTele", "ZoomWide", "FocusNear", "FocusFar",
            "IrisOpen", "IrisClose", "Stop",     "ZoomStop", "FocusStop"};
        std::string name = action->valuestring;
        if (std::find(std::begin(kActions), std::end(kActions), name) == std::end(kActions))
            return Print(Answer(cmd, kResultBadContent, nullptr).get());
        Ptz(name, ParamInt(content, "ParamH"), ParamInt(content, "ParamV"));
        return Print(Answer(cmd, 0, nullptr).get());
    }
    return Print(Answer(cmd, kResultUnknownCmd, nullptr).get());
}

std::string CameraModel::GetVideoParamAnswer() const {
    cJSON* c = nullptr;
    Json a = Answer("ReqGetVideoParam", 0, &c);
    cJSON* vp = cJSON_AddObjectToObject(c, "VideoParam");
    for (int i = 0; i < kParamCount; ++i) cJSON_AddNumberToObject(vp, kParams[i].key, values_[i]);
    return Print(a.get());
}

int CameraModel::ApplyVideoParam(const void* videoParam) {
    const auto* vp = static_cast<const cJSON*>(videoParam);
    if (!cJSON_IsObject(vp))
        return kResultBadContent;
    // All or nothing: a bad value refuses the whole request.
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, vp) {
        if (FindParam(item->string) >= 0 && !cJSON_IsNumber(item))
            return kResultBadContent;
    }
    cJSON_ArrayForEach(item, vp) {
        int i = FindParam(item->string);
        if (i >= 0)
            values_[i] = Store(kParams[i].width, item->valuedouble);
    }
    return 0;
}

std::vector<PtzCommand> CameraModel::PtzLog() const {
    std::lock_guard<std::mutex> lock(mu_);
    return ptzLog_;
}

void CameraModel::MoveVelocity(double pan, double tilt, double zoom) {
    std::lock_guard<std::mutex> lock(mu_);
    if (ptzLog_.size() >= kPtzLogMax)
        ptzLog_.erase(ptzLog_.begin());
    const bool halt = pan == 0 && tilt == 0 && zoom == 0;
    ptzLog_.push_back({halt ? "Stop" : "ContinuousMove", static_cast<int>(std::lround(pan * 1000)),
                       static_cast<int>(std::lround(tilt * 1000))});
    const Clock::time_point now = Now();
    const double fastPan = 200.0 + 150.0 * 63, fastLens = 60.0 * 8;
    pan_.Move(now, std::clamp(pan, -1.0, 1.0) * fastPan);
    tilt_.Move(now, std::clamp(tilt, -1.0, 1.0) * fastPan);
    zoom_.Move(now, std::clamp(zoom, -1.0, 1.0) * fastLens);
}

void CameraModel::MoveFocus(double speed) {
    std::lock_guard<std::mutex> lock(mu_);
    focus_.Move(Now(), std::clamp(speed, -1.0, 1.0) * 60.0 * 8);
}

void CameraModel::SetPosition(int pan, int tilt, int zoom) {
    std::lock_guard<std::mutex> lock(mu_);
    const Clock::time_point now = Now();
    for (Axis* a : {&pan_, &tilt_, &zoom_}) a->Move(now, 0);
    pan_.base = std::clamp<double>(pan, pan_.min, pan_.max);
    tilt_.base = std::clamp<double>(tilt, tilt_.min, tilt_.max);
    zoom_.base = std::clamp<double>(zoom, zoom_.min, zoom_.max);
}

void CameraModel::Ptz(const std::string& action, int h, int v) {
    if (ptzLog_.size() >= kPtzLogMax)
        ptzLog_.erase(ptzLog_.begin());
    ptzLog_.push_back({action, h, v});
    Clock::time_point now = Now();
    // Pan/tilt speeds 0..63 map to 2..96.5 degrees per second; zoom and focus
    // speeds 0..7 cover their range in 16 to 2 seconds.
    auto panRate = [](int s) { return 200.0 + 150.0 * std::clamp(s, 0, 63); };
    auto lensRate = [](int s) { return 60.0 * (std::clamp(s, 0, 7) + 1); };
    int dx = 0, dy = 0;
    if (action == "Up")
        dy = 1;
    if (action == "Down")
        dy = -1;
    if (action == "Left")
        dx = -1;
    if (action == "Right")
        dx = 1;
    if (action == "LeftUp")
        dx = -1, dy = 1;
    if (action == "RightUp")
        dx = 1, dy = 1;
    if (action == "LeftDown")
        dx = -1, dy = -1;
    if (action == "RightDown")
        dx = 1, dy = -1;
    if (dx || dy) {
        pan_.Move(now, dx * panRate(h));
        tilt_.Move(now, dy * panRate(v));
    } else if (action == "ZoomTele" || action == "ZoomWide") {
        zoom_.Move(now, (action == "ZoomTele" ? 1 : -1) * lensRate(h));
    } else if (action == "FocusFar" || action == "FocusNear") {
        focus_.Move(now, (action == "FocusFar" ? 1 : -1) * lensRate(h));
    } else if (action == "IrisOpen" || action == "IrisClose") {
        iris_.Move(now, action == "IrisOpen" ? 25.0 : -25.0);
    } else if (action == "ZoomStop") {
        zoom_.Move(now, 0);
    } else if (action == "FocusStop") {
        focus_.Move(now, 0);
    } else if (action == "Stop") {
        // The panel sends Stop on every release; it halts whatever moves.
        for (Axis* a : {&pan_, &tilt_, &zoom_, &focus_, &iris_}) a->Move(now, 0);
    }
}

}  // namespace camsim
