// The simulated camera's answers, which the transport tests rely on.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <string>

#include "CameraModel.h"

using camsim::CameraModel;

namespace {

struct Answer {
    explicit Answer(const std::string& text) : root(cJSON_Parse(text.c_str())) {}
    ~Answer() { cJSON_Delete(root); }
    const cJSON* Content() const { return cJSON_GetObjectItemCaseSensitive(root, "Content"); }
    int Result() const {
        const cJSON* r = cJSON_GetObjectItemCaseSensitive(Content(), "nResult");
        return cJSON_IsNumber(r) ? r->valueint : 999999;
    }
    const cJSON* Param(const char* key) const {
        return cJSON_GetObjectItemCaseSensitive(
            cJSON_GetObjectItemCaseSensitive(Content(), "VideoParam"), key);
    }
    cJSON* root;
};

int32_t Param(CameraModel& m, const char* key) {
    int32_t v = -99999;
    EXPECT_TRUE(m.GetParam(key, &v)) << key;
    return v;
}

std::string Set(const std::string& items) {
    return "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
           "\"VideoParam\":{" +
           items + "}}}";
}

std::string Ptz(const std::string& action, int h, int v) {
    return "{\"Cmd\":\"ReqPtzCtrl\",\"Content\":{\"PtzCmd\":\"" + action +
           "\",\"ParamH\":" + std::to_string(h) + ",\"ParamV\":" + std::to_string(v) + "}}";
}

}  // namespace

TEST(CameraModel, ReadAnswersEveryKeyWithDefaults) {
    CameraModel m("cam");
    Answer a(m.HandleJson("{\"Cmd\": \"ReqGetVideoParam\", \"wCmdId\": 40001089}"));
    ASSERT_NE(a.root, nullptr);
    EXPECT_EQ(a.Result(), 0);
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(a.Content(), "VideoParam")), 45);
    for (int i = 0; i < CameraModel::ParamCount(); ++i)
        EXPECT_TRUE(cJSON_IsNumber(a.Param(CameraModel::ParamKey(i)))) << CameraModel::ParamKey(i);
    // Defaults the editor can show: gain sliders start at 1, the scene list has no 0.
    EXPECT_GE(a.Param("ucManualGain")->valueint, 1);
    EXPECT_GE(a.Param("ucAEWeightLevel")->valueint, 1);
    EXPECT_EQ(a.Param("eSceneMode")->valueint, 1);
    EXPECT_EQ(a.Param("uiMShutterSpeed")->valueint, 3333);
}

TEST(CameraModel, SetAndDefaults) {
    CameraModel m("cam");
    Answer ok(m.HandleJson(Set("\"luminance\":77,\"BExpCPS\":-2,\"u32CTNum\":6500,\"Unknown\":1")));
    EXPECT_EQ(ok.Result(), 0);
    EXPECT_EQ(Param(m, "Luminance"), 77);
    EXPECT_EQ(Param(m, "BExpCPS"), -2);
    EXPECT_EQ(Param(m, "u32CTNum"), 6500);
    EXPECT_EQ(m.Snapshot().luminance, 77);

    // One bad value refuses the whole request.
    Answer bad(m.HandleJson(Set("\"Contrast\":10,\"Luminance\":\"x\"")));
    EXPECT_EQ(bad.Result(), camsim::kResultBadContent);
    EXPECT_EQ(Param(m, "Contrast"), 50);
    EXPECT_EQ(Answer(m.HandleJson("{\"Cmd\":\"ReqSetVideoParam\"}")).Result(),
              camsim::kResultBadContent);

    Answer def(m.HandleJson(
        "{\"Cmd\":\"ReqSetDefaultParam\",\"wCmdId\":40001093,\"Content\":{\"ChanNum\":0,"
        "\"eDefaultParamCfg\":1}}"));
    EXPECT_EQ(def.Result(), 0);
    EXPECT_EQ(Param(m, "Luminance"), 50);
}

TEST(CameraModel, FocusNearFollowsTheNearLimitChoice) {
    CameraModel m("cam");
    m.HandleJson(Set("\"ucFocusDistanceMin\":3"));
    Answer a(m.HandleJson("{\"Cmd\":\"ReqGetFocusNear\",\"Content\":{}}"));
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(a.Content(), "FocusNear")->valueint, 750);
    m.HandleJson(Set("\"ucFocusDistanceMin\":200"));
    EXPECT_EQ(m.FocusNearMm(), 21000);
}

TEST(CameraModel, MalformedAndUnknownRequests) {
    CameraModel m("cam");
    for (const char* bad :
         {"", "not json", "[1,2]", "{\"Cmd\":5}", "{\"Cmd\":\"ReqGetVideo", "{\"Content\":{}}"}) {
        Answer a(m.HandleJson(bad));
        ASSERT_NE(a.root, nullptr) << bad;
        EXPECT_EQ(a.Result(), camsim::kResultMalformed) << bad;
    }
    EXPECT_EQ(Answer(m.HandleJson("{\"Cmd\":\"ReqReboot\"}")).Result(), camsim::kResultUnknownCmd);
    EXPECT_EQ(Answer(m.HandleJson(Ptz("Spin", 1, 1))).Result(), camsim::kResultBadContent);

    std::string answer;
    EXPECT_EQ(m.HandleUsbCommand(12345, "{}", &answer), camsim::kResultUnknownCmd);
    // USB payloads carry their NUL; a refusal becomes the frame's result code.
    std::string get = std::string("{\"Cmd\": \"ReqGetVideoParam\", \"wCmdId\": 40001089}") + '\0';
    EXPECT_EQ(m.HandleUsbCommand(40001089, get, &answer), 0);
    EXPECT_EQ(Answer(answer).Result(), 0);
    EXPECT_EQ(m.HandleUsbCommand(40001090, Set("\"Hue\":[]"), &answer), camsim::kResultBadContent);
}

TEST(CameraModel, PtzMovesWithTimeAndStops) {
    CameraModel m("cam");
    auto now = CameraModel::Clock::now();
    m.SetClock([&now] { return now; });
    int zoom0 = m.Snapshot().zoom;

    m.HandleJson(Ptz("Right", 26, 0));
    now += std::chrono::seconds(2);
    camsim::CameraSnapshot s = m.Snapshot();
    EXPECT_EQ(s.pan, 2 * (200 + 150 * 26));
    EXPECT_EQ(s.tilt, 0);
    EXPECT_TRUE(s.moving);
    m.HandleJson(Ptz("Stop", 0, 0));
    now += std::chrono::seconds(5);
    EXPECT_EQ(m.Snapshot().pan, 2 * (200 + 150 * 26));
    EXPECT_FALSE(m.Snapshot().moving);

    m.HandleJson(Ptz("LeftDown", 63, 63));
    now += std::chrono::minutes(10);
    EXPECT_EQ(m.Snapshot().pan, camsim::kPanMin);  // clamped at the end stops
    EXPECT_EQ(m.Snapshot().tilt, camsim::kTiltMin);
    EXPECT_FALSE(m.Snapshot().moving);

    m.HandleJson(Ptz("ZoomTele", 7, 7));
    now += std::chrono::milliseconds(500);
    m.HandleJson(Ptz("ZoomStop", 0, 0));
    now += std::chrono::seconds(3);
    EXPECT_EQ(m.Snapshot().zoom, zoom0 + 240);
}

TEST(CameraModel, SnapshotShowsOrientation) {
    CameraModel m("cam");
    m.HandleJson(Set("\"bHorzInvert\":1,\"bVertInvert\":1,\"ucRotation\":3"));
    camsim::CameraSnapshot s = m.Snapshot();
    EXPECT_TRUE(s.mirror);
    EXPECT_TRUE(s.flip);
    EXPECT_EQ(s.rotation, 3);
}
