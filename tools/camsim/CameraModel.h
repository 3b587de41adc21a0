// The state of one simulated camera and its answers to the JSON command set.
// One model may serve several transports at once; every member is thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace camsim {

// What the test picture shows; taken at one instant.
struct CameraSnapshot {
    uint8_t luminance = 0;
    uint8_t contrast = 0;
    uint8_t saturation = 0;
    bool mirror = false;  // bHorzInvert
    bool flip = false;    // bVertInvert
    int rotation = 0;     // ucRotation (3: portrait)
    int sceneMode = 0;    // eSceneMode
    // PTZ position: pan and tilt in hundredths of a degree, zoom and focus 0 to
    // 1000 (wide/near to tele/far), iris 0 to 100 (closed to open).
    int pan = 0;
    int tilt = 0;
    int zoom = 0;
    int focus = 0;
    int iris = 0;
    bool moving = false;  // any axis in motion
};

// One PTZ command as the camera took it.
struct PtzCommand {
    std::string action;  // PtzCmd
    int paramH = 0;
    int paramV = 0;
};
constexpr size_t kPtzLogMax = 256;  // most recent commands kept

// Ranges of the PTZ state.
constexpr int kPanMin = -17000, kPanMax = 17000;
constexpr int kTiltMin = -3000, kTiltMax = 9000;
constexpr int kZoomMax = 1000, kFocusMax = 1000, kIrisMax = 100;

// nResult values of the simulated camera's refusals.
constexpr int kResultMalformed = -100;   // request is not a JSON object with a Cmd
constexpr int kResultUnknownCmd = -101;  // Cmd (or USB command code) not known
constexpr int kResultBadContent = -102;  // Content missing or of the wrong shape

class CameraModel {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CameraModel(std::string name);

    const std::string& Name() const { return name_; }

    // One JSON text command (as received over the network or in a USB frame);
    // trailing NULs are ignored. Returns the answer text; never throws.
    std::string HandleJson(const std::string& request);

    // A USB command (any code but the identity query). Fills answer (may stay
    // empty) and returns the result code for the answer frame.
    int32_t HandleUsbCommand(uint32_t cmd, const std::string& payload, std::string* answer);

    CameraSnapshot Snapshot() const;
    // The PTZ commands taken so far, oldest first (at most kPtzLogMax), for tests.
    std::vector<PtzCommand> PtzLog() const;

    // Current value of a parameter by its JSON key (case-insensitive); false
    // when the key is unknown. For tests and the picture.
    bool GetParam(const std::string& key, int32_t* value) const;
    // Focus near limit in millimetres for the current ucFocusDistanceMin.
    int FocusNearMm() const;

    // ONVIF's continuous move: velocities in its normalised space (-1 to 1)
    // for pan, tilt and zoom (full speed: the SDK's fastest); all zero halts.
    void MoveVelocity(double pan, double tilt, double zoom);
    // Focus at a normalised speed (-1 near to 1 far); 0 halts it.
    void MoveFocus(double speed);
    // Pan, tilt and zoom set at once (presets, the home position); halts them.
    void SetPosition(int pan, int tilt, int zoom);

    // Replaces the time source of the PTZ motion (tests).
    void SetClock(std::function<Clock::time_point()> now);

    // Number of parameter keys and their names in answer order.
    static int ParamCount();
    static const char* ParamKey(int index);

  private:
    struct Axis {
        double base = 0;      // position at t0
        double velocity = 0;  // units per second
        Clock::time_point t0{};
        double min = 0, max = 0;
        double At(Clock::time_point now) const;
        void Move(Clock::time_point now, double v);
    };

    std::string Dispatch(const std::string& cmd, const void* content);
    std::string GetVideoParamAnswer() const;
    int ApplyVideoParam(const void* videoParam);
    void Ptz(const std::string& action, int h, int v);
    void RestoreDefaults();
    Clock::time_point Now() const;

    mutable std::mutex mu_;
    std::string name_;
    int32_t values_[45];
    Axis pan_, tilt_, zoom_, focus_, iris_;
    std::vector<PtzCommand> ptzLog_;
    std::function<Clock::time_point()> now_;
};

}  // namespace camsim
