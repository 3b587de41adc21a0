// The JSON command set for a network camera, sent through the SDK's text
// command call on a login handle. The image parameter dialog delegates to it.
#pragma once

#include <cstdint>

#include "PELION_SDK.h"
#include "ParamChannel.h"

namespace strevo {

struct VideoParam;

// The login the program uses for every network camera: the address text (cut
// to the record's 19 characters), port 36666, "admin" / "quolt".
LoginInfo ProgramLoginInfo(const char* ip);

class NetCommandChannel final : public IParamChannel {
  public:
    // The login handle of the camera to command; negative means none.
    void SetDeviceHandle(int32_t loginHandle) { login_ = loginHandle; }
    int32_t DeviceHandle() const { return login_; }

    // Results as for the USB side (VideoParam.h); a negative channel result is
    // shown with "返回错误码: %d" and returned unchanged.
    int32_t GetVideoParam(VideoParam* param) override;
    int32_t SetVideoParam(const VideoParam* param) override;
    int32_t SetVideoParamItem(const char* items) override;
    int32_t GetFocusNear() override;
    int32_t SetDefaultParam() override;
    // One ReqPtzCtrl text; the result is the channel's.
    int32_t SendPtz(const char* action, int paramH, int paramV);

    // Whether the camera answered the last record read, whatever the answer
    // held: its failures (a refusal, an answer without a record) have not been
    // shown, unlike those of the call itself.
    bool LastReadAnswered() const override { return lastReadAnswered_; }

  private:
    int32_t login_ = -1;
    bool lastReadAnswered_ = false;
};

}  // namespace strevo
