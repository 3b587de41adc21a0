// The translation between the image pages' record and ONVIF imaging settings,
// and the PTZ panel's speeds as ONVIF velocities.
#include <gtest/gtest.h>

#include <cmath>

#include "OnvifParamMap.h"
#include "VideoParam.h"

using namespace strevo;
using onvif::ImagingOptions;
using onvif::ImagingSettings;
using onvif::Range;

namespace {

struct Slider {
    const char* key;
    int lo, hi;
    std::optional<double> ImagingSettings::*setting;
    std::optional<Range> ImagingOptions::*range;
};

const Slider kSliders[] = {
    {"Luminance", 0, 100, &ImagingSettings::brightness, &ImagingOptions::brightness},
    {"Contrast", 0, 100, &ImagingSettings::contrast, &ImagingOptions::contrast},
    {"Saturation", 0, 100, &ImagingSettings::colorSaturation, &ImagingOptions::colorSaturation},
    {"Hue", 0, 100, &ImagingSettings::sharpness, &ImagingOptions::sharpness},
    {"ucManualGain", 1, 255, &ImagingSettings::gain, &ImagingOptions::gain},
    {"ucWDRStrength", 0, 100, &ImagingSettings::wdrLevel, &ImagingOptions::wdrLevel},
    {"ucRGGain", 0, 100, &ImagingSettings::crGain, &ImagingOptions::crGain},
    {"ucBGGain", 0, 100, &ImagingSettings::cbGain, &ImagingOptions::cbGain},
};

int Field(const VideoParam& p, const char* key) {
    return GetFieldValue(p, *FindVideoParamField(key));
}

// Writes one value, then reads what the camera would answer with it.
int RoundTrip(const char* key, int64_t page, const ImagingOptions& o, ImagingSettings* sent) {
    *sent = {};
    EXPECT_EQ(onvifmap::WriteValue(key, page, o, {}, sent), onvif::kOk) << key << "=" << page;
    VideoParam p{};
    onvifmap::ReadSettings(*sent, o, &p);
    return Field(p, key);
}

}  // namespace

TEST(OnvifParamMap, EverySliderValueReadsBackAsWrittenOnOddRanges) {
    const Range ranges[] = {{0, 255}, {-100, 100}, {0, 1}, {1, 15}, {0, 100}, {-2.5, 7.25}};
    for (const Slider& s : kSliders)
        for (const Range& r : ranges) {
            ImagingOptions o;
            o.*s.range = r;
            for (int v = s.lo; v <= s.hi; ++v) {
                ImagingSettings sent;
                ASSERT_EQ(RoundTrip(s.key, v, o, &sent), v) << s.key << " " << r.min << ".." << r.max;
                const double c = *(sent.*s.setting);
                ASSERT_TRUE(c >= r.min && c <= r.max) << s.key << "=" << v << " sent " << c;
            }
            // The ends of the ranges meet.
            ImagingSettings sent;
            RoundTrip(s.key, s.hi, o, &sent);
            EXPECT_EQ(*(sent.*s.setting), r.max) << s.key;
            // A camera value outside its own range is clamped into the page's.
            ImagingSettings odd;
            odd.*s.setting = r.max + 1000;
            VideoParam p{};
            onvifmap::ReadSettings(odd, o, &p);
            EXPECT_EQ(Field(p, s.key), s.hi) << s.key;
            odd.*s.setting = r.min - 1000;
            onvifmap::ReadSettings(odd, o, &p);
            EXPECT_EQ(Field(p, s.key), s.lo) << s.key;
        }
    // A page value outside the page is refused, nothing set.
    ImagingOptions o;
    o.brightness = Range{0, 255};
    o.gain = Range{0, 48};
    ImagingSettings out;
    EXPECT_EQ(onvifmap::WriteValue("Luminance", 101, o, {}, &out), onvif::kErrArgument);
    EXPECT_EQ(onvifmap::WriteValue("ucManualGain", 0, o, {}, &out), onvif::kErrArgument);
    EXPECT_FALSE(out.brightness || out.gain);
}

TEST(OnvifParamMap, ModesMapByValueAndRefuseWhatCannotBeSaid) {
    struct Mode {
        const char* key;
        std::optional<std::string> ImagingSettings::*setting;
        std::vector<std::string> ImagingOptions::*choices;
        const char* zero;
        const char* one;
        std::vector<int> refused;
    };
    const Mode modes[] = {
        {"eExposureMode", &ImagingSettings::exposureMode, &ImagingOptions::exposureModes, "AUTO",
         "MANUAL", {2, 3}},
        {"ucFocusMode", &ImagingSettings::focusMode, &ImagingOptions::focusModes, "MANUAL", "AUTO",
         {2, 3}},
        {"eWBMode", &ImagingSettings::whiteBalanceMode, &ImagingOptions::whiteBalanceModes,
         "MANUAL", "AUTO", {3, 4, 30}},
        {"eWDMode", &ImagingSettings::wdrMode, &ImagingOptions::wdrModes, "OFF", "ON", {2}},
        {"bBacklightCompensation", &ImagingSettings::backlightMode,
         &ImagingOptions::backlightModes, "OFF", "ON", {2}},
    };
    for (const Mode& m : modes) {
        ImagingOptions o;
        o.*m.choices = {m.zero, m.one};
        ImagingSettings sent;
        EXPECT_EQ(RoundTrip(m.key, 0, o, &sent), 0) << m.key;
        EXPECT_EQ(*(sent.*m.setting), m.zero);
        EXPECT_EQ(RoundTrip(m.key, 1, o, &sent), 1) << m.key;
        EXPECT_EQ(*(sent.*m.setting), m.one);
        for (int v : m.refused) {
            ImagingSettings out;
            EXPECT_EQ(onvifmap::WriteValue(m.key, v, o, {}, &out), onvif::kErrArgument) << m.key;
            EXPECT_FALSE(out.*m.setting);
        }
        // A mode the camera does not list is refused.
        o.*m.choices = {m.zero};
        ImagingSettings out;
        EXPECT_EQ(onvifmap::WriteValue(m.key, 1, o, {}, &out), onvif::kErrArgument) << m.key;
        // A camera mode the map does not know leaves the field alone.
        ImagingSettings odd;
        odd.*m.setting = "SOMETHING_ELSE";
        VideoParam p{};
        SetFieldValue(&p, *FindVideoParamField(m.key), 1);
        onvifmap::ReadSettings(odd, o, &p);
        EXPECT_EQ(Field(p, m.key), 1) << m.key;
    }
}

TEST(OnvifParamMap, ShutterAndIrisUseTheirOwnUnits) {
    ImagingOptions o;
    o.exposureTime = Range{100, 40000};
    o.iris = Range{-22, 0};
    ImagingSettings sent;
    EXPECT_EQ(RoundTrip("uiMShutterSpeed", 2000, o, &sent), 2000);
    EXPECT_EQ(*sent.exposureTime, 20000);  // 10 µs units
    EXPECT_EQ(RoundTrip("uiMShutterSpeed", 5, o, &sent), 10);  // clamped to the camera's 100 µs
    EXPECT_EQ(RoundTrip("uiMShutterSpeed", 100000, o, &sent), 4000);
    sent.exposureTime = 1234.6;
    VideoParam p{};
    onvifmap::ReadSettings(sent, o, &p);
    EXPECT_EQ(Field(p, "uiMShutterSpeed"), 123);

    for (int v = 0; v <= 10; ++v) EXPECT_EQ(RoundTrip("ucManualIris", v, o, &sent), v);
    RoundTrip("ucManualIris", 0, o, &sent);
    EXPECT_EQ(*sent.iris, 0);  // F1.5: open
    RoundTrip("ucManualIris", 10, o, &sent);
    EXPECT_EQ(*sent.iris, -22);
    ImagingSettings out;
    EXPECT_EQ(onvifmap::WriteValue("ucManualIris", 254, o, {}, &out), onvif::kErrArgument);
    EXPECT_FALSE(out.iris);
}

TEST(OnvifParamMap, WhatTheCameraDidNotReportHasNoSetting) {
    ImagingOptions o;
    ImagingSettings now;
    o.brightness = Range{0, 100};
    now.contrast = 40;  // a value without a range: the page's range
    for (const char* key : {"Luminance", "Contrast"})
        EXPECT_TRUE(onvifmap::CameraHas(key, o, now)) << key;
    for (const char* key : {"Saturation", "ucManualIris", "eWBMode", "ucHue", "eNightMode", "x"}) {
        EXPECT_FALSE(onvifmap::CameraHas(key, o, now)) << key;
        ImagingSettings out;
        EXPECT_EQ(onvifmap::WriteValue(key, 1, o, now, &out), onvif::kErrUnsupported) << key;
    }
    // Unmapped record keys: the map knows them as such, whatever the camera has.
    EXPECT_FALSE(onvifmap::IsMapped("u32CTNum"));
    EXPECT_TRUE(onvifmap::IsMapped("luminance"));
    EXPECT_EQ(onvifmap::MappedKeys().size(), 15u);
    // A read fills only what the settings hold.
    VideoParam p{};
    p.Saturation = 7;
    onvifmap::ReadSettings(now, o, &p);
    EXPECT_EQ(p.Contrast, 40);
    EXPECT_EQ(p.Saturation, 7);
}

TEST(OnvifPtzMap, SpeedsScaleIntoTheCamerasVelocityRange) {
    onvif::PtzOptions po;
    po.panTiltX = Range{-2, 1};
    po.panTiltY = Range{-1, 1};
    po.zoom = Range{-0.5, 0.5};
    onvifmap::Move m;
    ASSERT_TRUE(onvifmap::FindMove("LeftUp", &m));
    auto v = onvifmap::MoveVelocity(m, 4, po);
    EXPECT_DOUBLE_EQ(*v.panX, -1);  // half of the reach leftwards
    EXPECT_DOUBLE_EQ(*v.panY, 0.5);
    EXPECT_FALSE(v.zoom);
    ASSERT_TRUE(onvifmap::FindMove("Right", &m));
    EXPECT_DOUBLE_EQ(*onvifmap::MoveVelocity(m, 99, po).panX, 1);  // speed clamped to 8
    EXPECT_DOUBLE_EQ(*onvifmap::MoveVelocity(m, 0, po).panX, 1.0 / 8);
    ASSERT_TRUE(onvifmap::FindMove("ZoomWide", &m));
    v = onvifmap::MoveVelocity(m, 8, po);
    EXPECT_DOUBLE_EQ(*v.zoom, -0.5);
    EXPECT_FALSE(v.panX || v.panY);
    EXPECT_DOUBLE_EQ(*onvifmap::MoveVelocity(m, 8, {}).zoom, -1);  // generic space
    ASSERT_TRUE(onvifmap::FindMove("FocusNear", &m));
    EXPECT_EQ(m.focus, -1);
    EXPECT_DOUBLE_EQ(onvifmap::FocusSpeed(m.focus, 2, Range{-4, 4}), -1);
    EXPECT_FALSE(onvifmap::FindMove("IrisOpen", &m));
    EXPECT_FALSE(onvifmap::FindMove("Sideways", &m));
    EXPECT_DOUBLE_EQ(onvifmap::IrisStep(-21, -1, Range{-22, 0}), -22);
    EXPECT_DOUBLE_EQ(onvifmap::IrisStep(-11, 1, Range{-22, 0}), -8.8);
}
