// PTZ through a camera's own protocol, for cameras the panel cannot drive with
// our PTZ texts (ONVIF): the panel's press and release actions, and presets.
// Used on one thread (the GUI's). Results: 0 success, negative failure (the
// protocol's code; LastErrorText says more, never a password).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strevo {

struct PtzPreset {
    std::string token;  // the camera's own name for it
    std::string name;
};

class IPtzControl {
  public:
    virtual ~IPtzControl() = default;

    // A press: action is one of the panel's (Up, Down, Left, Right, LeftUp,
    // RightUp, LeftDown, RightDown, ZoomTele, ZoomWide, FocusNear, FocusFar,
    // IrisOpen, IrisClose), speed the panel's position 1 to 8, scaled into the
    // camera's own velocity range.
    virtual int32_t Move(const std::string& action, int speed) = 0;
    // The release of that action's press: pan, tilt and zoom stop, focus stops;
    // nothing for a step action (iris).
    virtual int32_t StopMove(const std::string& action) = 0;

    // Presets, in the order the camera lists them.
    virtual bool HasPresets() const = 0;
    virtual int32_t GetPresets(std::vector<PtzPreset>* out) = 0;
    virtual int32_t GotoPreset(const std::string& token) = 0;
    // token empty: a new preset named name; the camera's token in *tokenOut.
    virtual int32_t SetPreset(const std::string& token, const std::string& name,
                              std::string* tokenOut) = 0;
    virtual int32_t RemovePreset(const std::string& token) = 0;

    virtual std::string LastErrorText() const = 0;
};

}  // namespace strevo
