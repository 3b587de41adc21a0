// Command texts, the whole-record write and answer parsing.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "VideoParam.h"

using namespace strevo;

namespace {

std::vector<std::string> Keys(const cJSON* obj) {
    std::vector<std::string> keys;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, obj) keys.push_back(item->string);
    return keys;
}

// A record whose every field holds a different value.
VideoParam DistinctRecord() {
    VideoParam p{};
    int n = 1;
    for (const auto& f : VideoParamFields())
        SetFieldValue(&p, f, f.width == 4 ? -100000 * n++ : n++);
    return p;
}

std::string AnswerFor(const VideoParam& p, int result = 0) {
    std::string body;
    for (const auto& f : VideoParamFields()) {
        if (!body.empty())
            body += ",";
        body += MakeVideoParamItem(f.key, GetFieldValue(p, f));
    }
    return "{\"Cmd\":\"ReqGetVideoParam\",\"Content\":{\"nResult\":" + std::to_string(result) +
           ",\"VideoParam\":{" + body + "}}}";
}

int32_t Parse(const std::string& text, VideoParam* p) {
    return ParseVideoParamAnswer(text.c_str(), text.size(), p);
}

}  // namespace

TEST(CommandTexts, ExactBytes) {
    EXPECT_STREQ(kUsbGetVideoParamText, "{\"Cmd\": \"ReqGetVideoParam\", \"wCmdId\": 40001089}");
    EXPECT_STREQ(kNetGetVideoParamText,
                 "{\"Cmd\":\"ReqGetVideoParam\",\"wCmdId\":40001089,\"Content\":{}}");
    EXPECT_EQ(sizeof kNetGetVideoParamText, 58u);  // 57 characters and the NUL that is sent
    EXPECT_STREQ(kGetFocusNearText, "{\"Cmd\":\"ReqGetFocusNear\",\"Content\":{}}");
    EXPECT_STREQ(kSetDefaultParamText,
                 "{\"Cmd\":\"ReqSetDefaultParam\",\"wCmdId\":40001093,\"Content\":{\"ChanNum\":0,"
                 "\"eDefaultParamCfg\":1}}");

    std::string text;
    std::string items =
        MakeVideoParamItem("Luminance", 50) + "," + MakeVideoParamItem("BExpCPS", -3);
    EXPECT_EQ(items, "\"Luminance\":50,\"BExpCPS\":-3");
    ASSERT_EQ(BuildSetItemText(items.c_str(), &text), 0);
    EXPECT_EQ(text,
              "{\"Cmd\":\"ReqSetVideoParam\",\"wCmdId\":40001090,\"Content\":{\"ChanNum\":0,"
              "\"VideoParam\":{\"Luminance\":50,\"BExpCPS\":-3}}}");

    ASSERT_EQ(BuildPtzText("RightUp", 26, 26, &text), 0);
    EXPECT_EQ(text,
              "{\"Cmd\":\"ReqPtzCtrl\",\"Content\":{\"PtzCmd\":\"RightUp\",\"ParamH\":26,"
              "\"ParamV\":26}}");
}

TEST(CommandTexts, ItemWriteNeverTruncated) {
    std::string text;
    std::string probe;
    ASSERT_EQ(BuildSetItemText("", &probe), 0);
    const size_t room = 1023 - probe.size();  // the request holds 1023 characters and the NUL
    std::string fits(room, ' ');
    ASSERT_EQ(BuildSetItemText(fits.c_str(), &text), 0);
    EXPECT_EQ(text.size(), 1023u);

    std::string tooLong(room + 1, ' ');
    text = "untouched";
    EXPECT_EQ(BuildSetItemText(tooLong.c_str(), &text), kRequestTooLong);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(BuildSetItemText(nullptr, &text), kRequestBuildFailed);
}

TEST(PtzSpeeds, FromSliderPosition) {
    int h = -1, v = -1;
    ASSERT_TRUE(PtzActionParams("RightUp", 5, &h, &v));
    EXPECT_EQ(h, 26);
    EXPECT_EQ(v, 26);
    ASSERT_TRUE(PtzActionParams("Up", 1, &h, &v));
    EXPECT_EQ(h, 0);
    EXPECT_EQ(v, 0);
    ASSERT_TRUE(PtzActionParams("Left", 8, &h, &v));
    EXPECT_EQ(h, 63);
    EXPECT_EQ(v, 0);
    ASSERT_TRUE(PtzActionParams("ZoomTele", 8, &h, &v));
    EXPECT_EQ(h, 7);
    EXPECT_EQ(v, 7);
    ASSERT_TRUE(PtzActionParams("IrisOpen", 8, &h, &v));
    EXPECT_EQ(h, 0);
    EXPECT_FALSE(PtzActionParams("Sideways", 5, &h, &v));
}

TEST(WholeRecordWrite, KeysOrderAndSignedness) {
    VideoParam p = DistinctRecord();
    p.ucAEWeightLevel = 7;
    p.BExpCPS = static_cast<int8_t>(0xFE);
    p.ucManualGain = 0xFE;
    p.eSceneMode = 3;
    p.eSceneMode2 = 9;  // the second copy is never sent
    p.u32Lut = -5;
    std::string text;
    ASSERT_EQ(BuildSetVideoParamText(p, &text), 0);
    EXPECT_NE(text.find("\n\t"), std::string::npos) << "formatted printer expected";

    cJSON* root = cJSON_Parse(text.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(root, "Cmd")->valuestring, "ReqSetVideoParam");
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(root, "wCmdId")->valueint, 40001090);
    const cJSON* content = cJSON_GetObjectItemCaseSensitive(root, "Content");
    EXPECT_EQ(Keys(content), (std::vector<std::string>{"ChanNum", "VideoParam"}));
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(content, "ChanNum")->valueint, 0);
    const cJSON* vp = cJSON_GetObjectItemCaseSensitive(content, "VideoParam");

    std::vector<std::string> expected;
    for (const auto& f : VideoParamFields())
        if (std::strcmp(f.key, "ucAEWeightLevel") != 0)
            expected.push_back(f.key);
    EXPECT_EQ(Keys(vp), expected);
    EXPECT_EQ(expected.size(), 44u);
    auto num = [vp](const char* k) { return cJSON_GetObjectItemCaseSensitive(vp, k)->valuedouble; };
    EXPECT_EQ(num("BExpCPS"), -2);
    EXPECT_EQ(num("ucManualGain"), 254);
    EXPECT_EQ(num("eSceneMode"), 3);
    EXPECT_EQ(num("u32Lut"), -5);
    EXPECT_EQ(num("uiMShutterSpeed"), int32_t{p.uiMShutterSpeed});
    cJSON_Delete(root);
}

TEST(ReadAnswer, FillsEveryFieldAndCopiesScene) {
    VideoParam sent = DistinctRecord();
    VideoParam got{};
    ASSERT_EQ(Parse(AnswerFor(sent), &got), 0);
    sent.eSceneMode2 = sent.eSceneMode;
    EXPECT_EQ(std::memcmp(&sent, &got, sizeof sent), 0);
    EXPECT_EQ(got.eSceneMode, got.eSceneMode2);
}

TEST(ReadAnswer, ConversionRules) {
    VideoParam p{};
    p.uAwbTolerance = 0;
    p.Contrast = 33;
    const std::string text =
        "{\"content\":{\"NRESULT\":0,\"videoparam\":{\"luminance\":3.9,\"BExpCPS\":-2.7,"
        "\"ucManualGain\":300,\"u32CTNum\":4294967295,\"uiMShutterSpeed\":-16667,"
        "\"Saturation\":\"12\",\"eSceneMode\":4}}}";
    ASSERT_EQ(Parse(text, &p), 0);
    EXPECT_EQ(p.Luminance, 3);           // truncated, case-insensitive key
    EXPECT_EQ(p.BExpCPS, -2);            // toward zero
    EXPECT_EQ(p.ucManualGain, 44);       // low 8 bits
    EXPECT_EQ(int32_t{p.u32CTNum}, -1);  // all 32 bits
    EXPECT_EQ(int32_t{p.uiMShutterSpeed}, -16667);
    EXPECT_EQ(p.Saturation, 0);  // not a number: left as it was
    EXPECT_EQ(p.Contrast, 33);   // absent: left as it was
    EXPECT_EQ(p.eSceneMode, 4);
    EXPECT_EQ(p.eSceneMode2, 4);
}

TEST(ReadAnswer, Failures) {
    VideoParam p{};
    p.Luminance = 9;
    VideoParam before = p;
    VideoParam sent = DistinctRecord();
    EXPECT_EQ(Parse(AnswerFor(sent, -5), &p), -5);
    EXPECT_EQ(Parse("<html>busy</html>", &p), kAnswerNotJson);
    EXPECT_EQ(Parse("", &p), kAnswerNotJson);
    EXPECT_EQ(Parse("{\"Cmd\":\"ReqGetVideoParam\"}", &p), kAnswerIncomplete);
    EXPECT_EQ(Parse("{\"Content\":{\"VideoParam\":{\"Luminance\":1}}}", &p), kAnswerIncomplete);
    EXPECT_EQ(Parse("{\"Content\":{\"nResult\":\"0\",\"VideoParam\":{}}}", &p), kAnswerIncomplete);
    EXPECT_EQ(Parse("{\"Content\":{\"nResult\":0}}", &p), kAnswerIncomplete);
    EXPECT_EQ(Parse("{\"Content\":5}", &p), kAnswerIncomplete);
    EXPECT_EQ(std::memcmp(&before, &p, sizeof p), 0) << "a failed read must not touch the record";

    // A full buffer without a terminating NUL is parsed within its length only.
    std::string answer = AnswerFor(sent);
    std::vector<char> buf(answer.begin(), answer.end());
    buf.push_back('x');
    EXPECT_EQ(ParseVideoParamAnswer(buf.data(), answer.size(), &p), 0);
}

TEST(FocusNearAnswer, ValueOrIncomplete) {
    auto parse = [](const std::string& s) { return ParseFocusNearAnswer(s.c_str(), s.size()); };
    EXPECT_EQ(parse("{\"Content\":{\"nResult\":0,\"FocusNear\":350}}"), 350);
    EXPECT_EQ(parse("{\"Content\":{\"focusnear\":750.8}}"), 750);
    EXPECT_EQ(parse("{\"Content\":{\"nResult\":0}}"), kFocusNearIncomplete);
    EXPECT_EQ(parse("{\"FocusNear\":350}"), kFocusNearIncomplete);
    EXPECT_EQ(parse("not json"), kFocusNearIncomplete);
}

TEST(FieldTable, CoversTheRecord) {
    // Every byte of the record belongs to exactly one field, except the second scene copy.
    std::vector<int> owner(sizeof(VideoParam), 0);
    for (const auto& f : VideoParamFields())
        for (int i = 0; i < f.width; ++i) ++owner[f.offset + i];
    for (size_t i = 0; i < owner.size(); ++i)
        EXPECT_EQ(owner[i], i == offsetof(VideoParam, eSceneMode2) ? 0 : 1) << "offset " << i;
    EXPECT_EQ(VideoParamFieldsByOffset().front().offset, 0);
    EXPECT_STREQ(VideoParamFieldsByOffset().back().key, "u32Lut");
    ASSERT_NE(FindVideoParamField("UCHUE"), nullptr);
    EXPECT_STREQ(FindVideoParamField("UCHUE")->key, "ucHue");
    EXPECT_EQ(FindVideoParamField("eSceneMode2"), nullptr);
}
