// The JSON command set over USB: the same texts and parsing as the network
// side, carried by CUSBDevice::Transact.
#include <cstring>
#include <string>

#include "CUSBDevice.h"
#include "VideoParam.h"

namespace strevo {
namespace {

constexpr uint32_t kWriteTimeoutSec = 5;

// Sends text with its terminating NUL and no answer buffer.
int32_t SendText(UsbHandle handle, uint32_t cmd, const std::string& text) {
    return CUSBDevice::Transact(handle, cmd, text.c_str(), static_cast<uint32_t>(text.size() + 1),
                                nullptr, 0, nullptr, kWriteTimeoutSec);
}

}  // namespace

int32_t CUSBDevice::GetVideoParam(UsbHandle handle, VideoParam* param) {
    if (!param)
        return kRequestBuildFailed;
    char answer[kGetVideoParamAnswerSize] = {};
    uint32_t answerLen = 0;
    int32_t rc =
        Transact(handle, kCmdGetVideoParam, kUsbGetVideoParamText, sizeof kUsbGetVideoParamText,
                 answer, sizeof answer, &answerLen, kWriteTimeoutSec);
    // Callers report a failed read themselves.
    if (rc != 0)
        return rc;
    return ParseVideoParamAnswer(answer, sizeof answer, param);
}

int32_t CUSBDevice::SendVideoParam(UsbHandle handle, const VideoParam* param) {
    std::string text;
    int32_t rc = param ? BuildSetVideoParamText(*param, &text) : kRequestBuildFailed;
    if (rc == 0)
        rc = SendText(handle, kCmdSetVideoParam, text);
    return rc;
}

int32_t CUSBDevice::SetVideoParam(UsbHandle handle, const VideoParam* param) {
    return ReportIfFailed(SendVideoParam(handle, param));
}

int32_t CUSBDevice::SetVideoParamItem(UsbHandle handle, const char* items) {
    std::string text;
    int32_t rc = BuildSetItemText(items, &text);
    if (rc == 0)
        rc = SendText(handle, kCmdSetVideoParam, text);
    return ReportIfFailed(rc);
}

int32_t CUSBDevice::GetFocusNear(UsbHandle handle) {
    char answer[kFocusNearAnswerSize] = {};
    uint32_t answerLen = 0;
    int32_t rc = Transact(handle, kCmdGetFocusNear, kGetFocusNearText, sizeof kGetFocusNearText,
                          answer, sizeof answer, &answerLen, kWriteTimeoutSec);
    if (rc < 0)
        return ReportIfFailed(rc);
    return ParseFocusNearAnswer(answer, sizeof answer);
}

int32_t CUSBDevice::SetDefaultParam(UsbHandle handle) {
    return ReportIfFailed(SendText(handle, kCmdSetDefaultParam, kSetDefaultParamText));
}

}  // namespace strevo
