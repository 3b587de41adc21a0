// One camera as the windows see it, whatever protocol it speaks: its live
// stream into a player, and what else it can do (its capabilities). One
// implementation per protocol; the windows never ask which one they have.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace strevo {

class IParamChannel;
class IPtzControl;

enum class CameraKind { kSdk, kRtsp, kOnvif };

// What a camera offers beyond its stream.
enum CameraCaps : uint32_t {
    kCapStream = 1u << 0,
    kCapParams = 1u << 1,  // the image parameter record and items
    kCapPtz = 1u << 2,
    kCapReboot = 1u << 3,
    kCapPresets = 1u << 4,
};

// Where a camera's stream goes: called on the stream's own thread.
class IStreamSink {
  public:
    virtual ~IStreamSink() = default;
    // Before the first data of every opening (MV_CODEC_*).
    virtual void OnCodec(int32_t codec) = 0;
    // One piece of the stream, Annex B; valid only during the call.
    virtual void OnData(const uint8_t* data, uint32_t length) = 0;
};

struct StreamOpenResult {
    int32_t code = 0;           // 0: playing; otherwise the protocol's code
    bool loginRefused = false;  // the camera refused the user name or password
    bool loggedIn = false;      // SDK: the login stands although the stream did not start
};

class ICamera {
  public:
    virtual ~ICamera() = default;
    virtual CameraKind Kind() const = 0;
    virtual uint32_t Caps() const = 0;
    // The camera's address as the operator knows it (an IP, or a URL without
    // credentials).
    virtual const std::string& Address() const = 0;

    // Opens the live stream (0 main, 1 sub) into sink; blocks until it plays or
    // fails, each step within the protocol's limit, and returns early once *stop
    // is set. Not called again before CloseStream.
    virtual StreamOpenResult OpenStream(int streamType, IStreamSink* sink,
                                        const std::atomic<bool>* stop) = 0;
    // True once an open stream has ended on its own (a stall is for the caller
    // to notice: no data).
    virtual bool StreamEnded() const = 0;
    // Stops the stream and whatever login it holds; once it returns the sink is
    // not called any more. Safe when nothing is open.
    virtual void CloseStream() = 0;

    // The SDK login of the open stream, through which parameters and PTZ go
    // (kCapParams, kCapPtz); -1 when there is none.
    virtual int32_t ControlHandle() const { return -1; }
    // The TCP port of the control channel, 0 when none.
    virtual int ControlPort() const { return 0; }

    // Cameras whose parameters and PTZ go through their own protocol rather
    // than the SDK login (ONVIF). Used on the GUI thread, apart from the
    // stream; null when the camera has none. Owned by the camera.
    virtual IParamChannel* Params() { return nullptr; }
    virtual IPtzControl* Ptz() { return nullptr; }
    // Restarts the camera (kCapReboot): 0, or a negative code with *why
    // (for the operator and the log, never a password).
    virtual int32_t Reboot(std::string* why) {
        if (why)
            *why = "not supported";
        return -1;
    }
};

struct Credentials {
    std::string user;
    std::string password;
};

// Our SDK camera at an address (port 36666), with the program's login unless
// other credentials are given.
std::unique_ptr<ICamera> MakeSdkCamera(const std::string& address,
                                       const Credentials* credentials = nullptr);
// A camera known only by its RTSP URL (credentials in the URL or given here).
std::unique_ptr<ICamera> MakeRtspCamera(const std::string& url, const Credentials& credentials,
                                        bool udp = false);
// An ONVIF camera by its device service (host, host:port or http://...): the
// stream of its first H.264/H.265 profile over RTSP, imaging settings, PTZ
// with presets, reboot. Null when the program is built without ONVIF.
std::unique_ptr<ICamera> MakeOnvifCamera(const std::string& address,
                                         const Credentials& credentials);

}  // namespace strevo
