// The camera's image parameter record and the JSON texts that read and write
// it. Both transports (USB and network) build and parse through this file.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace strevo {

// All image parameters, one field per JSON key. Also the parameter file's
// content byte for byte, so the layout is fixed: packed, little-endian.
#pragma pack(push, 1)
struct VideoParam {
    uint8_t Luminance;
    uint8_t Contrast;
    uint8_t Saturation;
    uint8_t ucHue;
    uint8_t Hue;  // sharpness; hue itself is ucHue
    uint8_t eExposureMode;
    uint8_t ucAEWeightLevel;
    int8_t BExpCPS;
    uint8_t ucManualGain;
    uint8_t ucAutoGainLimit;
    uint8_t ucManualIris;
    int32_t uiMShutterSpeed;
    uint8_t eWDMode;
    uint8_t ucWDRStrength;
    uint8_t bBacklightCompensation;
    uint8_t ucAntiFlicker;
    uint8_t eWBMode;
    uint8_t uAwbTolerance;
    uint8_t ucRGGain;
    uint8_t ucBGGain;
    int32_t u32CTNum;
    uint8_t u8RgainTuning;
    uint8_t u8GgainTuning;
    uint8_t u8BgainTuning;
    uint8_t ucFocusMode;
    uint8_t ucAFScene;
    uint8_t ucAFArea;
    uint8_t ucFocusDistanceMin;
    uint8_t ucAFSen;
    uint8_t eNightMode;
    uint8_t ucNightDayChnSensity;
    uint8_t uc2DNR;
    uint8_t uc3DNR;
    uint8_t uDpSlope;
    uint8_t ucDefogMode;
    uint8_t ucDelFogClass;
    uint8_t ucGammaVal;
    uint8_t u32AIAe;     // one byte despite the prefix
    uint8_t u32AIFocus;  // one byte despite the prefix
    uint8_t bHorzInvert;
    uint8_t bVertInvert;
    uint8_t ucRotation;
    uint8_t eSceneMode;
    uint8_t eSceneMode2;  // copy of eSceneMode, filled by reads, never sent
    uint8_t ucDigitalZoom;
    int32_t u32Lut;
};
#pragma pack(pop)

static_assert(std::endian::native == std::endian::little, "the record is stored little-endian");
static_assert(sizeof(VideoParam) == 55);
static_assert(offsetof(VideoParam, Luminance) == 0);
static_assert(offsetof(VideoParam, Contrast) == 1);
static_assert(offsetof(VideoParam, Saturation) == 2);
static_assert(offsetof(VideoParam, ucHue) == 3);
static_assert(offsetof(VideoParam, Hue) == 4);
static_assert(offsetof(VideoParam, eExposureMode) == 5);
static_assert(offsetof(VideoParam, ucAEWeightLevel) == 6);
static_assert(offsetof(VideoParam, BExpCPS) == 7);
static_assert(offsetof(VideoParam, ucManualGain) == 8);
static_assert(offsetof(VideoParam, ucAutoGainLimit) == 9);
static_assert(offsetof(VideoParam, ucManualIris) == 10);
static_assert(offsetof(VideoParam, uiMShutterSpeed) == 11);
static_assert(offsetof(VideoParam, eWDMode) == 15);
static_assert(offsetof(VideoParam, ucWDRStrength) == 16);
static_assert(offsetof(VideoParam, bBacklightCompensation) == 17);
static_assert(offsetof(VideoParam, ucAntiFlicker) == 18);
static_assert(offsetof(VideoParam, eWBMode) == 19);
static_assert(offsetof(VideoParam, uAwbTolerance) == 20);
static_assert(offsetof(VideoParam, ucRGGain) == 21);
static_assert(offsetof(VideoParam, ucBGGain) == 22);
static_assert(offsetof(VideoParam, u32CTNum) == 23);
static_assert(offsetof(VideoParam, u8RgainTuning) == 27);
static_assert(offsetof(VideoParam, u8GgainTuning) == 28);
static_assert(offsetof(VideoParam, u8BgainTuning) == 29);
static_assert(offsetof(VideoParam, ucFocusMode) == 30);
static_assert(offsetof(VideoParam, ucAFScene) == 31);
static_assert(offsetof(VideoParam, ucAFArea) == 32);
static_assert(offsetof(VideoParam, ucFocusDistanceMin) == 33);
static_assert(offsetof(VideoParam, ucAFSen) == 34);
static_assert(offsetof(VideoParam, eNightMode) == 35);
static_assert(offsetof(VideoParam, ucNightDayChnSensity) == 36);
static_assert(offsetof(VideoParam, uc2DNR) == 37);
static_assert(offsetof(VideoParam, uc3DNR) == 38);
static_assert(offsetof(VideoParam, uDpSlope) == 39);
static_assert(offsetof(VideoParam, ucDefogMode) == 40);
static_assert(offsetof(VideoParam, ucDelFogClass) == 41);
static_assert(offsetof(VideoParam, ucGammaVal) == 42);
static_assert(offsetof(VideoParam, u32AIAe) == 43);
static_assert(offsetof(VideoParam, u32AIFocus) == 44);
static_assert(offsetof(VideoParam, bHorzInvert) == 45);
static_assert(offsetof(VideoParam, bVertInvert) == 46);
static_assert(offsetof(VideoParam, ucRotation) == 47);
static_assert(offsetof(VideoParam, eSceneMode) == 48);
static_assert(offsetof(VideoParam, eSceneMode2) == 49);
static_assert(offsetof(VideoParam, ucDigitalZoom) == 50);
static_assert(offsetof(VideoParam, u32Lut) == 51);

// Result codes of the command layer (transport codes pass through unchanged).
enum : int32_t {
    kInvalidLoginHandle = -1,    // network read without a logged-in camera
    kFocusNearIncomplete = -10,  // focus answer unparsable or without FocusNear
    kAnswerNotJson = -310,       // read answer is not JSON
    kAnswerIncomplete = -311,    // read answer without Content, nResult or VideoParam
    kRequestTooLong = -312,      // item text does not fit the request; nothing sent
    kRequestBuildFailed = -313,  // null argument or the JSON could not be built
};

// Request texts. Lengths handed to a transport include the terminating NUL.
inline constexpr char kNetGetVideoParamText[] =
    "{\"Cmd\":\"ReqGetVideoParam\",\"wCmdId\":40001089,\"Content\":{}}";
inline constexpr char kUsbGetVideoParamText[] =
    "{\"Cmd\": \"ReqGetVideoParam\", \"wCmdId\": 40001089}";
inline constexpr char kGetFocusNearText[] = "{\"Cmd\":\"ReqGetFocusNear\",\"Content\":{}}";
inline constexpr char kSetDefaultParamText[] =
    "{\"Cmd\":\"ReqSetDefaultParam\",\"wCmdId\":40001093,\"Content\":{\"ChanNum\":0,"
    "\"eDefaultParamCfg\":1}}";

// Answer buffer sizes.
constexpr size_t kGetVideoParamAnswerSize = 3072;
constexpr size_t kSetAnswerSize = 1024;  // item write, whole-record write, defaults
constexpr size_t kFocusNearAnswerSize = 512;
constexpr size_t kPtzAnswerSize = 512;
constexpr size_t kItemRequestSize = 1024;  // the item write is built in this much
constexpr size_t kPtzRequestSize = 512;

// One record field as the protocol sees it.
struct VideoParamField {
    const char* key;
    uint16_t offset;
    uint8_t width;  // 1 or 4
    bool isSigned;  // BExpCPS and the four-byte fields
    bool written;   // carried by the whole-record write (all but ucAEWeightLevel)
};

// The 45 keys in the order the read takes them (also the write's order).
const std::vector<VideoParamField>& VideoParamFields();
// The same fields by offset, as the record lays them out.
const std::vector<VideoParamField>& VideoParamFieldsByOffset();
// Case-insensitive; null when the key is not a record field.
const VideoParamField* FindVideoParamField(const std::string& key);
int32_t GetFieldValue(const VideoParam& p, const VideoParamField& f);
// Stores the low bits of value as the field's width; eSceneMode fills both copies.
void SetFieldValue(VideoParam* p, const VideoParamField& f, int64_t value);

// "\"key\":value", the unit of an item write. Several are joined with commas.
std::string MakeVideoParamItem(const char* key, int value);

// Item write: the template filled with items. kRequestTooLong when the text
// would not fit the 1024-byte request (it is never truncated).
int32_t BuildSetItemText(const char* items, std::string* text);
// Whole-record write, printed by cJSON's formatted printer.
int32_t BuildSetVideoParamText(const VideoParam& p, std::string* text);
// PTZ action text.
int32_t BuildPtzText(const char* action, int paramH, int paramV, std::string* text);

// PTZ speeds for an action at slider position speed (1 to 8, clamped): pan and
// tilt use the speed table, zoom and focus speed - 1, the rest 0. False when
// the action name is unknown.
bool PtzActionParams(const std::string& action, int speed, int* paramH, int* paramV);

// Read answer: 0 and the record's fields filled (absent keys untouched), a
// negative nResult unchanged, kAnswerNotJson or kAnswerIncomplete. The answer
// need not be NUL-terminated within length.
int32_t ParseVideoParamAnswer(const char* answer, size_t length, VideoParam* p);
// Focus answer: FocusNear (truncated toward zero) or kFocusNearIncomplete.
int32_t ParseFocusNearAnswer(const char* answer, size_t length);

// Shows "返回错误码: %d" when result is negative; returns result.
int32_t ReportIfFailed(int32_t result);

}  // namespace strevo
