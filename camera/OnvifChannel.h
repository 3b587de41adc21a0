// An ONVIF camera's parameters and PTZ for the windows: one connection of
// their own (apart from the stream's), connected on first use, the profiles
// read once, reconnected once when the connection fails. The image pages go
// through the record translation of OnvifParamMap.h. Used on one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Camera.h"
#include "OnvifClient.h"
#include "ParamChannel.h"
#include "PtzControl.h"

namespace strevo {

// The first H.264/H.265 profile (the second such for streamType 1, when there
// is one); null when the camera has no video profile.
const onvif::Profile* ChooseOnvifProfile(const std::vector<onvif::Profile>& profiles,
                                         int streamType);
// What the camera offers as ICamera capabilities, from a connected client and
// the chosen profile (reads the focus move options when there is no PTZ).
uint32_t OnvifCaps(onvif::Client& client, const onvif::Profile& profile);
// The connection options for a camera; limits for interactive use.
onvif::Options OnvifOptions(const std::string& address, const Credentials& credentials);

class OnvifSession {
  public:
    // caps (may be null) is updated once the camera has said what it has.
    OnvifSession(std::string address, Credentials credentials,
                 std::atomic<uint32_t>* caps = nullptr);
    ~OnvifSession();

    // Runs call on the connected client, connecting first when needed and once
    // more when the connection is lost. The result of call, or of Connect.
    template <class Call>
    int32_t Run(Call&& call) {
        int32_t rc = Ensure();
        if (rc == onvif::kOk) {
            rc = call(client_);
            if (rc == onvif::kErrConnect || rc == onvif::kErrNotConnected) {
                ready_ = false;
                rc = Ensure();
                if (rc == onvif::kOk)
                    rc = call(client_);
            }
        }
        return rc;
    }
    int32_t Ensure();
    bool Ready() const { return ready_; }
    const onvif::Profile& Profile() const { return profile_; }
    onvif::Client& Client() { return client_; }
    const onvif::Error& LastError() const;
    // The imaging options and focus move options, read at the first connect.
    const onvif::ImagingOptions& ImagingOptions() const { return imagingOptions_; }
    const onvif::FocusMoveOptions& FocusOptions() const { return focusOptions_; }
    const onvif::PtzOptions& PtzOptions() const { return ptzOptions_; }
    // Logs a failed call (what, the client's error text; never a password).
    void LogFailure(const char* what, int32_t rc) const;

  private:
    std::string address_;
    Credentials credentials_;
    std::atomic<uint32_t>* caps_;
    onvif::Client client_;
    onvif::Profile profile_;
    bool ready_ = false;
    bool profilesRead_ = false;
    onvif::Error connectError_;
    onvif::ImagingOptions imagingOptions_;
    onvif::FocusMoveOptions focusOptions_;
    onvif::PtzOptions ptzOptions_;
};

// The image parameter record through ONVIF imaging settings.
class OnvifParamChannel final : public IParamChannel {
  public:
    explicit OnvifParamChannel(OnvifSession* session) : session_(session) {}

    int32_t GetVideoParam(VideoParam* param) override;
    int32_t SetVideoParam(const VideoParam* param) override;
    int32_t SetVideoParamItem(const char* items) override;
    int32_t GetFocusNear() override;
    int32_t SetDefaultParam() override;
    bool LastReadAnswered() const override { return lastReadAnswered_; }
    // Before the first read: whether the map has the key at all.
    bool HasSetting(const std::string& key) const override;
    bool HasDefaults() const override { return false; }
    bool HasFocusNear() const override { return false; }

    // Parses "key":value items (record keys, one or more, comma-joined) into
    // keys and values; false for text that is not such items or a key that is
    // not a record field.
    static bool ParseItems(const char* items, std::vector<std::pair<std::string, int64_t>>* out);

  private:
    // The camera's current settings (for what it has) and the write of the
    // given record values; nothing is sent when one cannot be expressed.
    int32_t Write(const std::vector<std::pair<std::string, int64_t>>& values);
    int32_t ReadCurrent();

    OnvifSession* session_;
    onvif::ImagingSettings current_;
    bool read_ = false;
    bool lastReadAnswered_ = false;
};

// The PTZ panel through ONVIF PTZ and imaging focus moves.
class OnvifPtzControl final : public IPtzControl {
  public:
    explicit OnvifPtzControl(OnvifSession* session) : session_(session) {}

    int32_t Move(const std::string& action, int speed) override;
    int32_t StopMove(const std::string& action) override;
    bool HasPresets() const override;
    int32_t GetPresets(std::vector<PtzPreset>* out) override;
    int32_t GotoPreset(const std::string& token) override;
    int32_t SetPreset(const std::string& token, const std::string& name,
                      std::string* tokenOut) override;
    int32_t RemovePreset(const std::string& token) override;
    std::string LastErrorText() const override;

  private:
    int32_t Fail(int32_t rc, const std::string& text);
    int32_t Result(const char* what, int32_t rc);

    OnvifSession* session_;
    std::string lastError_;
};

}  // namespace strevo
