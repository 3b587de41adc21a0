#include "OnvifChannel.h"

#include <cJSON.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "KLogLibrary.h"
#include "OnvifParamMap.h"
#include "VideoParam.h"

namespace strevo {

namespace {

constexpr unsigned kLogLevel = 2;

bool IsVideo(const onvif::Profile& p) {
    return p.encoding == "H264" || p.encoding == "H265";
}

}  // namespace

const onvif::Profile* ChooseOnvifProfile(const std::vector<onvif::Profile>& profiles,
                                         int streamType) {
    const onvif::Profile* first = nullptr;
    for (const onvif::Profile& p : profiles) {
        if (!IsVideo(p))
            continue;
        if (first && streamType == 1)
            return &p;
        if (!first)
            first = &p;
    }
    return first;
}

uint32_t OnvifCaps(onvif::Client& client, const onvif::Profile& profile) {
    uint32_t caps = kCapStream | kCapReboot;
    const onvif::Services& s = client.ServiceAddresses();
    const bool imaging = !s.imaging.empty() && !profile.videoSourceToken.empty();
    if (imaging)
        caps |= kCapParams;
    if (!s.ptz.empty() && !profile.ptzConfigurationToken.empty()) {
        caps |= kCapPtz | kCapPresets;
    } else if (imaging) {
        // A camera that only moves its focus still needs the panel.
        onvif::FocusMoveOptions fo;
        if (client.GetFocusMoveOptions(profile.videoSourceToken, &fo) == onvif::kOk &&
            fo.continuousSpeed)
            caps |= kCapPtz;
    }
    return caps;
}

onvif::Options OnvifOptions(const std::string& address, const Credentials& credentials) {
    onvif::Options o;
    o.address = address;
    o.user = credentials.user;
    o.password = credentials.password;
    o.connectLimitMs = 2000;
    o.readLimitMs = 4000;
    return o;
}

OnvifSession::OnvifSession(std::string address, Credentials credentials,
                           std::atomic<uint32_t>* caps)
    : address_(std::move(address)), credentials_(std::move(credentials)), caps_(caps) {}

OnvifSession::~OnvifSession() {
    std::fill(credentials_.password.begin(), credentials_.password.end(), '\0');
}

const onvif::Error& OnvifSession::LastError() const {
    return client_.LastError();
}

void OnvifSession::LogFailure(const char* what, int32_t rc) const {
    ProgramLog().Log(kLogLevel, "onvif", "%s %s: %d %s", address_.c_str(), what, rc,
                     client_.LastError().text.c_str());
}

int32_t OnvifSession::Ensure() {
    if (ready_)
        return onvif::kOk;
    int32_t rc = client_.Connect(OnvifOptions(address_, credentials_));
    if (rc != onvif::kOk) {
        LogFailure("connect", rc);
        return rc;
    }
    if (!profilesRead_) {
        std::vector<onvif::Profile> profiles;
        rc = client_.GetProfiles(&profiles);
        if (rc != onvif::kOk) {
            LogFailure("GetProfiles", rc);
            return rc;
        }
        const onvif::Profile* p = ChooseOnvifProfile(profiles, 0);
        if (!p) {
            ProgramLog().Log(kLogLevel, "onvif", "%s: no H.264/H.265 profile", address_.c_str());
            return onvif::kErrUnsupported;
        }
        profile_ = *p;
        // Options the camera will not give leave those settings without a range.
        const std::string& vs = profile_.videoSourceToken;
        if (!vs.empty() && !client_.ServiceAddresses().imaging.empty()) {
            if (client_.GetImagingOptions(vs, &imagingOptions_) != onvif::kOk)
                LogFailure("GetOptions", client_.LastError().code);
            client_.GetFocusMoveOptions(vs, &focusOptions_);
        }
        if (!profile_.ptzConfigurationToken.empty() && !client_.ServiceAddresses().ptz.empty())
            client_.GetPtzOptions(profile_.ptzConfigurationToken, &ptzOptions_);
        if (caps_)
            caps_->store(OnvifCaps(client_, profile_));
        profilesRead_ = true;
    }
    ready_ = true;
    return onvif::kOk;
}

// ---- parameters

bool OnvifParamChannel::ParseItems(const char* items,
                                   std::vector<std::pair<std::string, int64_t>>* out) {
    out->clear();
    if (!items)
        return false;
    cJSON* root = cJSON_Parse(("{" + std::string(items) + "}").c_str());
    bool ok = root != nullptr;
    for (cJSON* item = root ? root->child : nullptr; ok && item; item = item->next) {
        const VideoParamField* f = item->string ? FindVideoParamField(item->string) : nullptr;
        ok = f && cJSON_IsNumber(item) && item->valuedouble >= INT32_MIN &&
             item->valuedouble <= INT32_MAX;
        if (ok)
            out->emplace_back(f->key, static_cast<int64_t>(item->valuedouble));
    }
    cJSON_Delete(root);
    return ok && !out->empty();
}

int32_t OnvifParamChannel::ReadCurrent() {
    int32_t rc = session_->Run([&](onvif::Client& c) {
        return session_->Profile().videoSourceToken.empty()
                   ? onvif::kErrUnsupported
                   : c.GetImagingSettings(session_->Profile().videoSourceToken, &current_);
    });
    if (rc != onvif::kOk) {
        session_->LogFailure("GetImagingSettings", rc);
        return rc;
    }
    read_ = true;
    return onvif::kOk;
}

int32_t OnvifParamChannel::GetVideoParam(VideoParam* param) {
    lastReadAnswered_ = false;
    if (!param)
        return kRequestBuildFailed;
    if (const int32_t rc = ReadCurrent(); rc != onvif::kOk)
        return ReportIfFailed(rc);
    lastReadAnswered_ = true;
    std::memset(param, 0, sizeof *param);
    onvifmap::ReadSettings(current_, session_->ImagingOptions(), param);
    return 0;
}

int32_t OnvifParamChannel::Write(const std::vector<std::pair<std::string, int64_t>>& values) {
    if (!read_)
        if (const int32_t rc = ReadCurrent(); rc != onvif::kOk)
            return ReportIfFailed(rc);
    onvif::ImagingSettings out;
    for (const auto& [key, value] : values) {
        const int32_t rc =
            onvifmap::WriteValue(key, value, session_->ImagingOptions(), current_, &out);
        if (rc != onvif::kOk) {
            ProgramLog().Log(kLogLevel, "onvif", "%s=%lld: %s; nothing sent", key.c_str(),
                             static_cast<long long>(value),
                             rc == onvif::kErrUnsupported ? "the camera has no such setting"
                                                          : "not a value the camera takes");
            return ReportIfFailed(rc);
        }
    }
    const int32_t rc = session_->Run([&](onvif::Client& c) {
        return c.SetImagingSettings(session_->Profile().videoSourceToken, out);
    });
    if (rc != onvif::kOk) {
        session_->LogFailure("SetImagingSettings", rc);
        return ReportIfFailed(rc);
    }
    // What the camera has now: the written fields are set in its settings.
    for (int i = 0; i < onvif::ImagingFieldCount(); ++i) {
        const char* name = onvif::ImagingFieldAt(i)->name;
        if (const auto text = onvif::GetImagingField(out, name))
            onvif::SetImagingField(&current_, name, *text);
    }
    return 0;
}

int32_t OnvifParamChannel::SetVideoParamItem(const char* items) {
    std::vector<std::pair<std::string, int64_t>> values;
    if (!ParseItems(items, &values)) {
        ProgramLog().Log(kLogLevel, "onvif", "item write not understood: %s",
                         items ? items : "(null)");
        return ReportIfFailed(kRequestBuildFailed);
    }
    return Write(values);
}

int32_t OnvifParamChannel::SetVideoParam(const VideoParam* param) {
    if (!param)
        return ReportIfFailed(kRequestBuildFailed);
    if (!read_)
        if (const int32_t rc = ReadCurrent(); rc != onvif::kOk)
            return ReportIfFailed(rc);
    // A whole record (a parameter file, perhaps from one of our own cameras)
    // gives what this camera can take: a value it cannot express (shutter
    // priority, a white balance preset) is left out and logged, not a reason
    // to refuse the rest.
    std::vector<std::pair<std::string, int64_t>> values;
    for (const std::string& key : onvifmap::MappedKeys()) {
        if (!onvifmap::CameraHas(key, session_->ImagingOptions(), current_))
            continue;
        const int64_t value = GetFieldValue(*param, *FindVideoParamField(key));
        onvif::ImagingSettings probe;
        if (onvifmap::WriteValue(key, value, session_->ImagingOptions(), current_, &probe) !=
            onvif::kOk) {
            ProgramLog().Log(kLogLevel, "onvif", "%s=%lld left out: not a value the camera takes",
                             key.c_str(), static_cast<long long>(value));
            continue;
        }
        values.emplace_back(key, value);
    }
    return values.empty() ? 0 : Write(values);
}

int32_t OnvifParamChannel::GetFocusNear() {
    return ReportIfFailed(onvif::kErrUnsupported);
}

int32_t OnvifParamChannel::SetDefaultParam() {
    return ReportIfFailed(onvif::kErrUnsupported);
}

bool OnvifParamChannel::HasSetting(const std::string& key) const {
    if (!read_)
        return onvifmap::IsMapped(key);
    return onvifmap::CameraHas(key, session_->ImagingOptions(), current_);
}

// ---- PTZ

int32_t OnvifPtzControl::Fail(int32_t rc, const std::string& text) {
    lastError_ = text;
    return rc;
}

int32_t OnvifPtzControl::Result(const char* what, int32_t rc) {
    if (rc == onvif::kOk) {
        lastError_.clear();
        return rc;
    }
    session_->LogFailure(what, rc);
    lastError_ = session_->LastError().text;
    return rc;
}

int32_t OnvifPtzControl::Move(const std::string& action, int speed) {
    if (const int32_t rc = session_->Ensure(); rc != onvif::kOk)
        return Result("connect", rc);
    const onvif::Profile& p = session_->Profile();
    if (action == "IrisOpen" || action == "IrisClose") {
        const auto& range = session_->ImagingOptions().iris;
        if (!range)
            return Fail(onvif::kErrUnsupported, "the camera has no iris setting");
        onvif::ImagingSettings now;
        int32_t rc = session_->Run(
            [&](onvif::Client& c) { return c.GetImagingSettings(p.videoSourceToken, &now); });
        if (rc != onvif::kOk)
            return Result("GetImagingSettings", rc);
        onvif::ImagingSettings step;
        step.iris = onvifmap::IrisStep(now.iris.value_or(range->max),
                                       action == "IrisOpen" ? 1 : -1, *range);
        rc = session_->Run(
            [&](onvif::Client& c) { return c.SetImagingSettings(p.videoSourceToken, step); });
        return Result("SetImagingSettings", rc);
    }
    onvifmap::Move move;
    if (!onvifmap::FindMove(action, &move))
        return Fail(onvif::kErrArgument, "unknown PTZ action " + action);
    if (move.focus) {
        const auto& range = session_->FocusOptions().continuousSpeed;
        if (!range)
            return Fail(onvif::kErrUnsupported, "the camera cannot move its focus continuously");
        const double v = onvifmap::FocusSpeed(move.focus, speed, *range);
        return Result("FocusMove", session_->Run([&](onvif::Client& c) {
            return c.FocusMove(p.videoSourceToken, v);
        }));
    }
    if (p.ptzConfigurationToken.empty())
        return Fail(onvif::kErrUnsupported, "the camera's profile has no PTZ");
    const onvif::PtzVelocity v = onvifmap::MoveVelocity(move, speed, session_->PtzOptions());
    return Result("ContinuousMove",
                  session_->Run([&](onvif::Client& c) { return c.ContinuousMove(p.token, v); }));
}

int32_t OnvifPtzControl::StopMove(const std::string& action) {
    if (action == "IrisOpen" || action == "IrisClose")
        return onvif::kOk;  // a step: nothing is moving
    onvifmap::Move move;
    if (!onvifmap::FindMove(action, &move))
        return Fail(onvif::kErrArgument, "unknown PTZ action " + action);
    if (const int32_t rc = session_->Ensure(); rc != onvif::kOk)
        return Result("connect", rc);
    const onvif::Profile& p = session_->Profile();
    if (move.focus)
        return Result("FocusStop", session_->Run([&](onvif::Client& c) {
            return c.FocusStop(p.videoSourceToken);
        }));
    return Result("Stop", session_->Run([&](onvif::Client& c) { return c.Stop(p.token); }));
}

bool OnvifPtzControl::HasPresets() const {
    // Until the camera has been asked, as its capabilities say.
    return !session_->Ready() || !session_->Profile().ptzConfigurationToken.empty();
}

int32_t OnvifPtzControl::GetPresets(std::vector<PtzPreset>* out) {
    std::vector<onvif::Preset> presets;
    const int32_t rc = Result("GetPresets", session_->Run([&](onvif::Client& c) {
        return c.GetPresets(session_->Profile().token, &presets);
    }));
    if (rc == onvif::kOk && out) {
        out->clear();
        for (const auto& p : presets) out->push_back(PtzPreset{p.token, p.name});
    }
    return rc;
}

int32_t OnvifPtzControl::GotoPreset(const std::string& token) {
    return Result("GotoPreset", session_->Run([&](onvif::Client& c) {
        return c.GotoPreset(session_->Profile().token, token);
    }));
}

int32_t OnvifPtzControl::SetPreset(const std::string& token, const std::string& name,
                                   std::string* tokenOut) {
    std::string got;
    const int32_t rc = Result("SetPreset", session_->Run([&](onvif::Client& c) {
        return c.SetPreset(session_->Profile().token, name, token, &got);
    }));
    if (rc == onvif::kOk && tokenOut)
        *tokenOut = got;
    return rc;
}

int32_t OnvifPtzControl::RemovePreset(const std::string& token) {
    return Result("RemovePreset", session_->Run([&](onvif::Client& c) {
        return c.RemovePreset(session_->Profile().token, token);
    }));
}

std::string OnvifPtzControl::LastErrorText() const {
    return lastError_;
}

}  // namespace strevo
