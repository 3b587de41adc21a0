#include "GamepadMapper.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "IniStore.h"

namespace strevo {

namespace {

// Margins against a stick or trigger that rests on a threshold and jitters
// by a few counts: without them every jitter would be a camera command.
constexpr double kStepMargin = 0.15;      // of one step
constexpr double kAngleMarginDeg = 5.0;   // beyond a direction's 22.5 degrees
constexpr double kDeadZoneMargin = 0.02;  // of the travel, inside the dead zone
constexpr double kTriggerDown = 0.5, kTriggerUp = 0.25;

// Direction sectors counter-clockwise from the right, 45 degrees each.
constexpr PadDirection kSectors[8] = {
    PadDirection::kRight, PadDirection::kRightUp,  PadDirection::kUp,   PadDirection::kLeftUp,
    PadDirection::kLeft,  PadDirection::kLeftDown, PadDirection::kDown, PadDirection::kRightDown,
};

int SectorOf(PadDirection d) {
    return static_cast<int>(std::find(std::begin(kSectors), std::end(kSectors), d) -
                            std::begin(kSectors));
}

double Normalised(int value) {
    return std::clamp(static_cast<double>(value) / GamepadMapper::kAxisMax, -1.0, 1.0);
}

PadCommand Command(PadAction action) {
    PadCommand c;
    c.action = action;
    return c;
}

}  // namespace

GamepadSettings LoadGamepadSettings(const char* configPath) {
    GamepadSettings s;
    s.deadZonePercent =
        std::clamp<int>(IniGetInt("GAMEPAD", "DeadZone", s.deadZonePercent, configPath), 0, 90);
    s.invertY = IniGetInt("GAMEPAD", "InvertY", 0, configPath) != 0;
    return s;
}

GamepadMapper::GamepadMapper(const GamepadSettings& settings)
    : deadZone_(std::clamp(settings.deadZonePercent, 0, 90) / 100.0), invertY_(settings.invertY) {}

void GamepadMapper::Axis(PadAxis axis, int value, std::vector<PadCommand>* out) {
    switch (axis) {
        case PadAxis::kLeftX:
            x_ = value;
            break;
        case PadAxis::kLeftY:
            y_ = value;
            break;
        case PadAxis::kLeftTrigger:
        case PadAxis::kRightTrigger: {
            bool& down = triggerDown_[axis == PadAxis::kRightTrigger ? 1 : 0];
            const double t = Normalised(value);
            down = down ? t >= kTriggerUp : t > kTriggerDown;
            UpdateZoom(out);
            break;
        }
    }
}

void GamepadMapper::Button(PadButton button, bool down, std::vector<PadCommand>* out) {
    switch (button) {
        case PadButton::kDpadUp:
        case PadButton::kDpadDown:
            dpad_[button == PadButton::kDpadDown ? 1 : 0] = down;
            UpdateFocus(out);
            break;
        case PadButton::kLeftShoulder:
            if (down)
                out->push_back(Command(PadAction::kPreviousPane));
            break;
        case PadButton::kRightShoulder:
            if (down)
                out->push_back(Command(PadAction::kNextPane));
            break;
        case PadButton::kA:
        case PadButton::kB:
        case PadButton::kX:
        case PadButton::kY:
            if (down) {
                PadCommand c = Command(PadAction::kPreset);
                c.step = 1 + static_cast<int>(button) - static_cast<int>(PadButton::kA);
                out->push_back(c);
            }
            break;
    }
}

void GamepadMapper::Settle(std::vector<PadCommand>* out) {
    const double right = Normalised(x_);
    // SDL reports a stick pushed forward as negative.
    const double up = invertY_ ? Normalised(y_) : -Normalised(y_);
    const double magnitude = std::min(1.0, std::hypot(right, up));

    if (moving_ ? magnitude <= std::max(0.0, deadZone_ - kDeadZoneMargin)
                : magnitude <= deadZone_) {
        if (moving_)
            out->push_back(Command(PadAction::kStop));
        moving_ = false;
        return;
    }

    // Steps 1 to 8 share the travel beyond the dead zone evenly.
    const double f = (magnitude - deadZone_) / (1.0 - deadZone_) * kSteps;
    int step = std::clamp(static_cast<int>(std::floor(f)) + 1, 1, kSteps);
    if (moving_ && step != step_) {
        const bool farEnough =
            step > step_ ? f >= step_ + kStepMargin : f < step_ - 1 - kStepMargin;
        if (!farEnough)
            step = step_;
    }

    double angle = std::atan2(up, right) * 180.0 / std::numbers::pi;
    if (angle < 0)
        angle += 360.0;
    PadDirection direction = kSectors[static_cast<int>(std::lround(angle / 45.0)) % 8];
    if (moving_ && direction != direction_) {
        double off = std::fabs(angle - SectorOf(direction_) * 45.0);
        off = std::min(off, 360.0 - off);
        if (off < 22.5 + kAngleMarginDeg)
            direction = direction_;
    }

    if (moving_ && step == step_ && direction == direction_)
        return;
    moving_ = true;
    step_ = step;
    direction_ = direction;
    out->push_back({PadAction::kMove, direction_, step_});
}

void GamepadMapper::UpdateZoom(std::vector<PadCommand>* out) {
    const int zoom = (triggerDown_[1] ? 1 : 0) - (triggerDown_[0] ? 1 : 0);
    if (zoom == zoom_)
        return;
    zoom_ = zoom;
    if (zoom == 0) {
        out->push_back(Command(PadAction::kZoomStop));
        ResumeMove(out);
    } else {
        out->push_back(Command(zoom > 0 ? PadAction::kZoomIn : PadAction::kZoomOut));
    }
}

void GamepadMapper::UpdateFocus(std::vector<PadCommand>* out) {
    const int focus = (dpad_[0] ? 1 : 0) - (dpad_[1] ? 1 : 0);
    if (focus == focus_)
        return;
    focus_ = focus;
    if (focus == 0) {
        out->push_back(Command(PadAction::kFocusStop));
        ResumeMove(out);
    } else {
        out->push_back(Command(focus > 0 ? PadAction::kFocusFar : PadAction::kFocusNear));
    }
}

void GamepadMapper::ResumeMove(std::vector<PadCommand>* out) {
    if (moving_)
        out->push_back({PadAction::kMove, direction_, step_});
}

void GamepadMapper::Reset(std::vector<PadCommand>* out) {
    if (moving_)
        out->push_back(Command(PadAction::kStop));
    if (zoom_ != 0)
        out->push_back(Command(PadAction::kZoomStop));
    if (focus_ != 0)
        out->push_back(Command(PadAction::kFocusStop));
    x_ = y_ = 0;
    moving_ = false;
    step_ = 0;
    triggerDown_[0] = triggerDown_[1] = false;
    zoom_ = 0;
    dpad_[0] = dpad_[1] = false;
    focus_ = 0;
}

}  // namespace strevo
