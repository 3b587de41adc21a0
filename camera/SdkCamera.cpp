// Our SDK's network camera: the stream through a login and a real play.
#include <algorithm>
#include <cstring>

#include "Camera.h"
#include "NetCommands.h"
#include "PELION_SDK.h"
#include "movra.h"

namespace strevo {

namespace {

template <size_t N>
void CopyField(char (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

class SdkCamera final : public ICamera {
  public:
    SdkCamera(std::string address, const Credentials* credentials)
        : address_(std::move(address)), info_(ProgramLoginInfo(address_.c_str())) {
        if (credentials && !credentials->user.empty()) {
            CopyField(info_.user, credentials->user);
            CopyField(info_.password, credentials->password);
        }
    }
    ~SdkCamera() override {
        CloseStream();
        std::memset(&info_, 0, sizeof info_);
    }

    CameraKind Kind() const override { return CameraKind::kSdk; }
    uint32_t Caps() const override { return kCapStream | kCapParams | kCapPtz; }
    const std::string& Address() const override { return address_; }

    StreamOpenResult OpenStream(int streamType, IStreamSink* sink,
                                const std::atomic<bool>*) override {
        StreamOpenResult result;
        char deviceInfo[PELION_DEVICE_INFO_SIZE] = {};
        const int32_t login = PELION_Login(info_, deviceInfo, 0, 0, 0, 0);
        if (login < 0) {
            result.code = PELION_GetLastError();
            result.loginRefused = result.code == PELION_ERR_PASSWORD;
            return result;
        }
        login_.store(login);
        result.loggedIn = true;
        sink_ = sink;
        sink->OnCodec(MV_CODEC_H264);
        realPlay_ = PELION_StartRealPlay(login, 0, streamType, &SdkCamera::OnStream, this);
        if (realPlay_ < 0)
            result.code = PELION_GetLastError();  // logged in, not playing
        return result;
    }

    bool StreamEnded() const override { return false; }

    void CloseStream() override {
        if (realPlay_ >= 0) {
            PELION_StopRealPlay(realPlay_);
            realPlay_ = -1;
        }
        sink_ = nullptr;
        const int32_t login = login_.exchange(-1);
        if (login >= 0)
            PELION_LogOut(login);
    }

    int32_t ControlHandle() const override { return login_.load(); }
    int ControlPort() const override { return info_.port; }

  private:
    // The SDK's stream thread.
    static void PELION_API OnStream(int32_t, const uint8_t* data, uint32_t length, uint32_t,
                                    void* user) {
        if (IStreamSink* sink = static_cast<SdkCamera*>(user)->sink_)
            sink->OnData(data, length);
    }

    std::string address_;
    LoginInfo info_;
    std::atomic<int32_t> login_{-1};
    int32_t realPlay_ = -1;
    IStreamSink* sink_ = nullptr;
};

}  // namespace

std::unique_ptr<ICamera> MakeSdkCamera(const std::string& address, const Credentials* credentials) {
    return std::make_unique<SdkCamera>(address, credentials);
}

}  // namespace strevo
