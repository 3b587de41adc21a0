#include "NetCommands.h"

#include <cstring>
#include <string>
#include <vector>

#include "OperatorMessages.h"
#include "PELION_SDK.h"
#include "VideoParam.h"

namespace strevo {
namespace {

// One call of the SDK with a zero-filled answer buffer of the command's size.
// The buffer keeps one byte more than announced so the answer stays terminated.
int32_t Send(int32_t login, const std::string& text, std::vector<char>* answer, size_t size) {
    answer->assign(size + 1, 0);
    auto len = static_cast<int32_t>(size);
    return PELION_SendRobotText(login, text.c_str(), static_cast<int32_t>(text.size() + 1),
                                answer->data(), &len);
}

}  // namespace

LoginInfo ProgramLoginInfo(const char* ip) {
    LoginInfo info;
    std::memset(&info, 0, sizeof info);
    if (ip)
        std::strncpy(info.ip, ip, sizeof info.ip - 1);
    info.port = PELION_DEFAULT_PORT;
    std::memcpy(info.user, "admin", sizeof "admin");
    std::memcpy(info.password, "quolt", sizeof "quolt");
    return info;
}

int32_t NetCommandChannel::GetVideoParam(VideoParam* param) {
    lastReadAnswered_ = false;
    if (login_ < 0) {
        ShowMessage("无效的设备句柄!");
        return kInvalidLoginHandle;
    }
    if (!param)
        return kRequestBuildFailed;
    std::vector<char> answer;
    int32_t rc = Send(login_, kNetGetVideoParamText, &answer, kGetVideoParamAnswerSize);
    if (rc < 0)
        return ReportIfFailed(rc);
    lastReadAnswered_ = true;
    return ParseVideoParamAnswer(answer.data(), kGetVideoParamAnswerSize, param);
}

int32_t NetCommandChannel::SetVideoParam(const VideoParam* param) {
    std::string text;
    int32_t rc = param ? BuildSetVideoParamText(*param, &text) : kRequestBuildFailed;
    std::vector<char> answer;
    if (rc == 0)
        rc = Send(login_, text, &answer, kSetAnswerSize);
    return ReportIfFailed(rc);
}

int32_t NetCommandChannel::SetVideoParamItem(const char* items) {
    std::string text;
    int32_t rc = BuildSetItemText(items, &text);
    std::vector<char> answer;
    if (rc == 0)
        rc = Send(login_, text, &answer, kSetAnswerSize);
    return ReportIfFailed(rc);
}

int32_t NetCommandChannel::GetFocusNear() {
    std::vector<char> answer;
    int32_t rc = Send(login_, kGetFocusNearText, &answer, kFocusNearAnswerSize);
    if (rc < 0)
        return ReportIfFailed(rc);
    return ParseFocusNearAnswer(answer.data(), kFocusNearAnswerSize);
}

int32_t NetCommandChannel::SetDefaultParam() {
    std::vector<char> answer;
    return ReportIfFailed(Send(login_, kSetDefaultParamText, &answer, kSetAnswerSize));
}

int32_t NetCommandChannel::SendPtz(const char* action, int paramH, int paramV) {
    std::string text;
    int32_t rc = BuildPtzText(action, paramH, paramV, &text);
    std::vector<char> answer;
    if (rc == 0)
        rc = Send(login_, text, &answer, kPtzAnswerSize);
    return rc;
}

}  // namespace strevo
