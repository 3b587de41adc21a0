// An ONVIF camera: the stream of its video profile through the RTSP camera,
// its imaging settings, PTZ and presets on a connection of their own, reboot.
#include <algorithm>
#include <atomic>
#include <memory>

#include "Camera.h"
#include "KLogLibrary.h"
#include "OnvifChannel.h"
#include "OnvifClient.h"

namespace strevo {

namespace {

constexpr uint32_t kCapsUntilKnown = kCapStream | kCapParams | kCapPtz | kCapReboot | kCapPresets;

class OnvifCamera final : public ICamera {
  public:
    OnvifCamera(const std::string& address, const Credentials& credentials)
        : address_(address),
          credentials_(credentials),
          session_(address, credentials, &caps_),
          params_(&session_),
          ptz_(&session_) {}
    ~OnvifCamera() override {
        CloseStream();
        std::fill(credentials_.password.begin(), credentials_.password.end(), '\0');
    }

    CameraKind Kind() const override { return CameraKind::kOnvif; }
    uint32_t Caps() const override { return caps_.load(); }
    const std::string& Address() const override { return address_; }

    StreamOpenResult OpenStream(int streamType, IStreamSink* sink,
                                const std::atomic<bool>* stop) override {
        CloseStream();
        StreamOpenResult result;
        auto stopped = [stop] { return stop && stop->load(); };
        std::string uri;
        {
            onvif::Client client;
            auto failed = [&](const char* what, int32_t rc) {
                ProgramLog().Log(2, "onvif", "%s %s: %d %s", address_.c_str(), what, rc,
                                 client.LastError().text.c_str());
                result.code = rc;
                result.loginRefused = rc == onvif::kErrAuth;
                return result;
            };
            if (const int32_t rc = client.Connect(OnvifOptions(address_, credentials_)))
                return failed("connect", rc);
            if (stopped())
                return failed("stopped", onvif::kErrTimeout);
            std::vector<onvif::Profile> profiles;
            if (const int32_t rc = client.GetProfiles(&profiles))
                return failed("GetProfiles", rc);
            const onvif::Profile* profile = ChooseOnvifProfile(profiles, streamType);
            if (!profile)
                return failed("no H.264/H.265 profile", onvif::kErrUnsupported);
            if (stopped())
                return failed("stopped", onvif::kErrTimeout);
            if (const int32_t rc = client.GetStreamUri(profile->token, &uri))
                return failed("GetStreamUri", rc);
            caps_.store(OnvifCaps(client, *profile));
        }
        if (stopped()) {
            result.code = onvif::kErrTimeout;
            return result;
        }
        stream_ = MakeRtspCamera(uri, credentials_);
        return stream_->OpenStream(0, sink, stop);
    }

    bool StreamEnded() const override { return stream_ && stream_->StreamEnded(); }

    void CloseStream() override {
        if (stream_)
            stream_->CloseStream();
        stream_.reset();
    }

    IParamChannel* Params() override { return &params_; }
    IPtzControl* Ptz() override { return &ptz_; }

    int32_t Reboot(std::string* why) override {
        onvif::Client client;
        int32_t rc = client.Connect(OnvifOptions(address_, credentials_));
        std::string message;
        if (rc == onvif::kOk)
            rc = client.SystemReboot(&message);
        if (why)
            *why = rc == onvif::kOk ? message : client.LastError().text;
        ProgramLog().Log(2, "onvif", "%s reboot: %d %s", address_.c_str(), rc,
                         rc == onvif::kOk ? message.c_str() : client.LastError().text.c_str());
        return rc;
    }

  private:
    std::string address_;
    Credentials credentials_;
    std::atomic<uint32_t> caps_{kCapsUntilKnown};
    OnvifSession session_;
    OnvifParamChannel params_;
    OnvifPtzControl ptz_;
    std::unique_ptr<ICamera> stream_;
};

}  // namespace

std::unique_ptr<ICamera> MakeOnvifCamera(const std::string& address,
                                         const Credentials& credentials) {
    return std::make_unique<OnvifCamera>(address, credentials);
}

}  // namespace strevo
