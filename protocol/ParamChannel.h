// What the image parameter dialog reads and writes a camera's parameters
// through, whatever protocol the camera speaks: our JSON commands on an SDK
// login, or a translation to another protocol's settings. Results are those
// of the command layer (VideoParam.h): 0 or more success, negative failure,
// already shown to the operator by the channel.
#pragma once

#include <cstdint>
#include <string>

namespace strevo {

struct VideoParam;

class IParamChannel {
  public:
    virtual ~IParamChannel() = default;

    virtual int32_t GetVideoParam(VideoParam* param) = 0;
    // The whole record; a channel that carries only some fields writes only those.
    virtual int32_t SetVideoParam(const VideoParam* param) = 0;
    // One or more "key":value items.
    virtual int32_t SetVideoParamItem(const char* items) = 0;
    virtual int32_t GetFocusNear() = 0;
    virtual int32_t SetDefaultParam() = 0;
    // Whether the camera answered the last record read, whatever the answer
    // held (failures of an answered read have not been shown yet).
    virtual bool LastReadAnswered() const = 0;

    // What the camera has. A record key without a setting behind it: its row
    // is disabled and the key is never written.
    virtual bool HasSetting(const std::string& key) const {
        (void)key;
        return true;
    }
    // A factory-defaults command ("恢复默认").
    virtual bool HasDefaults() const { return true; }
    // The focus near limit ("刷新" on the focus page).
    virtual bool HasFocusNear() const { return true; }
};

}  // namespace strevo
