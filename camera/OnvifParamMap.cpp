#include "OnvifParamMap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <strings.h>

#include "VideoParam.h"

namespace strevo::onvifmap {

namespace {

using onvif::ImagingOptions;
using onvif::ImagingSettings;
using onvif::Range;

enum class Kind { kSlider, kModes, kShutter, kIris };

// One record key with an ONVIF setting. Sliders and the shutter and iris use
// the number members, modes the text members; modes[v] is the camera's name
// for record value v.
struct Row {
    const char* key;
    Kind kind;
    int pageMin, pageMax;
    std::optional<double> ImagingSettings::*number;
    std::optional<Range> ImagingOptions::*range;
    std::optional<std::string> ImagingSettings::*mode;
    std::vector<std::string> ImagingOptions::*modeChoices;
    const char* modes[2];
};

constexpr int kIrisSteps = 10;  // list entries 0 (F1.5, open) to 10 (F9.6)

Row Slider(const char* key, int lo, int hi, std::optional<double> ImagingSettings::*n,
           std::optional<Range> ImagingOptions::*r) {
    return Row{key, Kind::kSlider, lo, hi, n, r, nullptr, nullptr, {nullptr, nullptr}};
}
Row Modes(const char* key, std::optional<std::string> ImagingSettings::*m,
          std::vector<std::string> ImagingOptions::*c, const char* zero, const char* one) {
    return Row{key, Kind::kModes, 0, 1, nullptr, nullptr, m, c, {zero, one}};
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        Slider("Luminance", 0, 100, &ImagingSettings::brightness, &ImagingOptions::brightness),
        Slider("Contrast", 0, 100, &ImagingSettings::contrast, &ImagingOptions::contrast),
        Slider("Saturation", 0, 100, &ImagingSettings::colorSaturation,
               &ImagingOptions::colorSaturation),
        Slider("Hue", 0, 100, &ImagingSettings::sharpness, &ImagingOptions::sharpness),
        Slider("ucManualGain", 1, 255, &ImagingSettings::gain, &ImagingOptions::gain),
        Slider("ucWDRStrength", 0, 100, &ImagingSettings::wdrLevel, &ImagingOptions::wdrLevel),
        Slider("ucRGGain", 0, 100, &ImagingSettings::crGain, &ImagingOptions::crGain),
        Slider("ucBGGain", 0, 100, &ImagingSettings::cbGain, &ImagingOptions::cbGain),
        Modes("eExposureMode", &ImagingSettings::exposureMode, &ImagingOptions::exposureModes,
              "AUTO", "MANUAL"),
        Modes("ucFocusMode", &ImagingSettings::focusMode, &ImagingOptions::focusModes, "MANUAL",
              "AUTO"),
        Modes("eWBMode", &ImagingSettings::whiteBalanceMode, &ImagingOptions::whiteBalanceModes,
              "MANUAL", "AUTO"),
        Modes("eWDMode", &ImagingSettings::wdrMode, &ImagingOptions::wdrModes, "OFF", "ON"),
        Modes("bBacklightCompensation", &ImagingSettings::backlightMode,
              &ImagingOptions::backlightModes, "OFF", "ON"),
        Row{"uiMShutterSpeed", Kind::kShutter, 0, std::numeric_limits<int32_t>::max() / 10,
            &ImagingSettings::exposureTime, &ImagingOptions::exposureTime, nullptr, nullptr,
            {nullptr, nullptr}},
        Row{"ucManualIris", Kind::kIris, 0, kIrisSteps, &ImagingSettings::iris,
            &ImagingOptions::iris, nullptr, nullptr, {nullptr, nullptr}},
    };
    return rows;
}

const Row* FindRow(const std::string& key) {
    for (const Row& r : Rows())
        if (strcasecmp(r.key, key.c_str()) == 0)
            return &r;
    return nullptr;
}

bool SameMode(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// The camera's range for a slider; the page's own when the camera gave none.
Range SliderRange(const Row& r, const ImagingOptions& o) {
    if (const auto& range = o.*r.range)
        return *range;
    return Range{static_cast<double>(r.pageMin), static_cast<double>(r.pageMax)};
}

double ToCamera(const Row& r, int64_t page, const Range& c) {
    const double width = c.max - c.min;
    if (width <= 0)
        return c.min;
    double v = c.min + static_cast<double>(page - r.pageMin) * width / (r.pageMax - r.pageMin);
    // Cameras with whole-number ranges at least as fine as the page keep whole
    // numbers; the read back still rounds to the page value written.
    if (std::floor(c.min) == c.min && std::floor(c.max) == c.max && width >= r.pageMax - r.pageMin)
        v = std::round(v);
    return std::clamp(v, c.min, c.max);
}

int64_t ToPage(const Row& r, double v, const Range& c) {
    const double width = c.max - c.min;
    if (width <= 0 || !std::isfinite(v))
        return r.pageMin;
    const double page = r.pageMin + (v - c.min) * (r.pageMax - r.pageMin) / width;
    return std::clamp<int64_t>(std::llround(std::clamp(page, -1e9, 1e9)), r.pageMin, r.pageMax);
}

}  // namespace

bool IsMapped(const std::string& key) {
    return FindRow(key) != nullptr;
}

const std::vector<std::string>& MappedKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (const VideoParamField& f : VideoParamFieldsByOffset())
            if (FindRow(f.key))
                k.emplace_back(f.key);
        return k;
    }();
    return keys;
}

bool CameraHas(const std::string& key, const ImagingOptions& o, const ImagingSettings& s) {
    const Row* r = FindRow(key);
    if (!r)
        return false;
    switch (r->kind) {
        case Kind::kModes:
            return !(o.*r->modeChoices).empty() || (s.*r->mode).has_value();
        case Kind::kIris:
            // The list means nothing without the camera's range to spread it on.
            return (o.*r->range).has_value();
        default:
            return (o.*r->range).has_value() || (s.*r->number).has_value();
    }
}

void ReadSettings(const ImagingSettings& s, const ImagingOptions& o, VideoParam* param) {
    for (const Row& r : Rows()) {
        const VideoParamField* f = FindVideoParamField(r.key);
        if (!f || !CameraHas(r.key, o, s))
            continue;
        if (r.kind == Kind::kModes) {
            const auto& mode = s.*r.mode;
            for (int v = 0; mode && v < 2; ++v)
                if (SameMode(*mode, r.modes[v]))
                    SetFieldValue(param, *f, v);
            continue;
        }
        const auto& number = s.*r.number;
        if (!number || !std::isfinite(*number))
            continue;
        int64_t page = 0;
        if (r.kind == Kind::kSlider) {
            page = ToPage(r, *number, SliderRange(r, o));
        } else if (r.kind == Kind::kShutter) {
            page = std::clamp<int64_t>(std::llround(std::clamp(*number / 10, 0.0, 1e10)),
                                       r.pageMin, r.pageMax);
        } else {
            const Range& c = *(o.*r.range);
            const double width = c.max - c.min;
            page = width <= 0 ? 0
                              : std::clamp<int64_t>(std::llround((c.max - *number) * kIrisSteps /
                                                                 width),
                                                    0, kIrisSteps);
        }
        SetFieldValue(param, *f, page);
    }
}

int32_t WriteValue(const std::string& key, int64_t value, const ImagingOptions& o,
                   const ImagingSettings& current, ImagingSettings* out) {
    const Row* r = FindRow(key);
    if (!r || !CameraHas(key, o, current))
        return onvif::kErrUnsupported;
    if (value < r->pageMin || value > r->pageMax)
        return onvif::kErrArgument;
    switch (r->kind) {
        case Kind::kModes: {
            const char* mode = r->modes[value];
            const auto& listed = o.*r->modeChoices;
            if (!listed.empty() &&
                std::none_of(listed.begin(), listed.end(),
                             [&](const std::string& m) { return SameMode(m, mode); }))
                return onvif::kErrArgument;
            out->*r->mode = mode;
            return onvif::kOk;
        }
        case Kind::kSlider:
            out->*r->number = ToCamera(*r, value, SliderRange(*r, o));
            return onvif::kOk;
        case Kind::kShutter: {
            double us = static_cast<double>(value) * 10;
            if (const auto& c = o.*r->range)
                us = std::clamp(us, c->min, c->max);
            out->*r->number = us;
            return onvif::kOk;
        }
        case Kind::kIris: {
            const Range& c = *(o.*r->range);
            out->*r->number = c.max - static_cast<double>(value) * (c.max - c.min) / kIrisSteps;
            return onvif::kOk;
        }
    }
    return onvif::kErrUnsupported;
}

bool FindMove(const std::string& action, Move* move) {
    struct Named {
        const char* name;
        Move move;
    };
    static const Named kMoves[] = {
        {"Up", {0, 1, 0, 0}},         {"Down", {0, -1, 0, 0}},      {"Left", {-1, 0, 0, 0}},
        {"Right", {1, 0, 0, 0}},      {"LeftUp", {-1, 1, 0, 0}},    {"RightUp", {1, 1, 0, 0}},
        {"LeftDown", {-1, -1, 0, 0}}, {"RightDown", {1, -1, 0, 0}}, {"ZoomTele", {0, 0, 1, 0}},
        {"ZoomWide", {0, 0, -1, 0}},  {"FocusNear", {0, 0, 0, -1}}, {"FocusFar", {0, 0, 0, 1}}};
    for (const Named& m : kMoves)
        if (action == m.name) {
            *move = m.move;
            return true;
        }
    return false;
}

namespace {

// dir at speed (1 to 8) of the range's reach that way; the generic 1 without one.
double Scale(int dir, int speed, const std::optional<Range>& r) {
    const double share = std::clamp(speed, 1, 8) / 8.0;
    const double top = r ? (dir > 0 ? r->max : -r->min) : 1.0;
    return dir * share * std::fabs(top);
}

}  // namespace

onvif::PtzVelocity MoveVelocity(const Move& move, int speed, const onvif::PtzOptions& options) {
    onvif::PtzVelocity v;
    if (move.zoom) {
        v.zoom = Scale(move.zoom, speed, options.zoom);
    } else {
        v.panX = Scale(move.x, speed, options.panTiltX);
        v.panY = Scale(move.y, speed, options.panTiltY);
    }
    return v;
}

double FocusSpeed(int direction, int speed, const Range& range) {
    return Scale(direction, speed, range);
}

double IrisStep(double current, int direction, const Range& range) {
    const double step = (range.max - range.min) / kIrisSteps;
    return std::clamp(current + direction * step, range.min, range.max);
}

}  // namespace strevo::onvifmap
