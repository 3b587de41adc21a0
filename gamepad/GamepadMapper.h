// A game controller's sticks, triggers and buttons turned into PTZ commands:
// the left stick pans and tilts with a speed step from its deflection, the
// triggers zoom, the D-pad focuses, the shoulder buttons pick the pane and
// A, B, X, Y call presets 1 to 4.
// Pure logic, fed with the values SDL reports, so it is tested on its own.
#pragma once

#include <vector>

namespace strevo {

struct GamepadSettings {
    int deadZonePercent = 15;  // of the stick's travel, 0 to 90
    bool invertY = false;      // stick forward tilts down
};

// toolscfg.ini section GAMEPAD: DeadZone (percent) and InvertY (0 or 1).
GamepadSettings LoadGamepadSettings(const char* configPath);

enum class PadDirection { kUp, kDown, kLeft, kRight, kLeftUp, kRightUp, kLeftDown, kRightDown };

enum class PadAction {
    kMove,  // direction and step (1 to 8, the panel's speed positions)
    kStop,
    kZoomIn,
    kZoomOut,
    kZoomStop,
    kFocusNear,
    kFocusFar,
    kFocusStop,
    kPreviousPane,
    kNextPane,
    kPreset,  // step: the preset to call, 1 to 4 (A, B, X, Y)
};

struct PadCommand {
    PadAction action = PadAction::kStop;
    PadDirection direction = PadDirection::kUp;
    int step = 0;
    bool operator==(const PadCommand&) const = default;
};

enum class PadAxis { kLeftX, kLeftY, kLeftTrigger, kRightTrigger };
enum class PadButton { kDpadUp, kDpadDown, kLeftShoulder, kRightShoulder, kA, kB, kX, kY };

class GamepadMapper {
  public:
    static constexpr int kSteps = 8;
    static constexpr int kAxisMax = 32767;  // SDL's axis range is -32768 to 32767

    explicit GamepadMapper(const GamepadSettings& settings = {});

    // Each call appends the commands the change calls for; most changes call
    // for none (a new command only when the step or the direction changes).
    // The stick's two axes arrive one by one: they take effect at Settle, once
    // everything read together has been given, so a diagonal is one command.
    void Axis(PadAxis axis, int value, std::vector<PadCommand>* out);
    void Settle(std::vector<PadCommand>* out);
    void Button(PadButton button, bool down, std::vector<PadCommand>* out);
    // The controller is gone: whatever it was doing stops.
    void Reset(std::vector<PadCommand>* out);

  private:
    void UpdateZoom(std::vector<PadCommand>* out);
    void UpdateFocus(std::vector<PadCommand>* out);
    // A zoom or focus release stops the pan too; a stick still held resumes it.
    void ResumeMove(std::vector<PadCommand>* out);

    double deadZone_;
    bool invertY_;
    int x_ = 0, y_ = 0;
    bool moving_ = false;
    PadDirection direction_ = PadDirection::kUp;
    int step_ = 0;
    bool triggerDown_[2] = {};  // left, right
    int zoom_ = 0;              // -1 out, 0 none, 1 in
    bool dpad_[2] = {};         // up, down
    int focus_ = 0;             // -1 near, 0 none, 1 far
};

}  // namespace strevo
