// The gamepad's mapping from stick, trigger and button values to PTZ commands.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <ostream>
#include <vector>

#include "GamepadMapper.h"

using namespace strevo;

namespace strevo {
void PrintTo(const PadCommand& c, std::ostream* os) {
    *os << "{action " << static_cast<int>(c.action) << " direction "
        << static_cast<int>(c.direction) << " step " << c.step << "}";
}
}  // namespace strevo

namespace {

constexpr int kMax = GamepadMapper::kAxisMax;

PadCommand Move(PadDirection d, int step) {
    return {PadAction::kMove, d, step};
}
PadCommand Just(PadAction a) {
    PadCommand c;
    c.action = a;
    return c;
}

// The stick's value at a fraction of the travel beyond a dead zone.
int Beyond(double deadZone, double fraction) {
    return static_cast<int>((deadZone + (1 - deadZone) * fraction) * kMax);
}

struct Pad {
    GamepadMapper mapper;
    std::vector<PadCommand> out;
    explicit Pad(GamepadSettings s = {}) : mapper(s) {}
    std::vector<PadCommand> Stick(int x, int y) {
        out.clear();
        mapper.Axis(PadAxis::kLeftX, x, &out);
        mapper.Axis(PadAxis::kLeftY, y, &out);
        mapper.Settle(&out);
        return out;
    }
    std::vector<PadCommand> Axis(PadAxis a, int v) {
        out.clear();
        mapper.Axis(a, v, &out);
        return out;
    }
    std::vector<PadCommand> Button(PadButton b, bool down) {
        out.clear();
        mapper.Button(b, down, &out);
        return out;
    }
    std::vector<PadCommand> Reset() {
        out.clear();
        mapper.Reset(&out);
        return out;
    }
};

}  // namespace

TEST(GamepadMapper, RampGivesOneCommandPerStepAndOneStop) {
    for (int deadZone : {15, 0, 40}) {
        SCOPED_TRACE(deadZone);
        GamepadSettings s;
        s.deadZonePercent = deadZone;
        Pad pad(s);
        std::vector<PadCommand> all;
        // Up to full travel and back, in steps far finer than the speed steps.
        for (int v = 0; v <= kMax; v += 64)
            for (const PadCommand& c : pad.Stick(v, 0)) all.push_back(c);
        for (int v = kMax; v >= -64; v -= 64)
            for (const PadCommand& c : pad.Stick(std::max(v, 0), 0)) all.push_back(c);
        std::vector<PadCommand> want;
        for (int step = 1; step <= 8; ++step) want.push_back(Move(PadDirection::kRight, step));
        for (int step = 7; step >= 1; --step) want.push_back(Move(PadDirection::kRight, step));
        want.push_back(Just(PadAction::kStop));
        EXPECT_EQ(all, want);
    }
}

TEST(GamepadMapper, JitterOnAThresholdSendsNothingMore) {
    Pad pad;
    const double dz = 0.15;
    // Resting on the boundary between steps 3 and 4, a few counts either way.
    const int edge = Beyond(dz, 3.0 / 8);
    EXPECT_EQ(pad.Stick(edge + 200, 0), std::vector{Move(PadDirection::kRight, 4)});
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(pad.Stick(edge + (i % 2 ? 60 : -60), 0).empty());
    }
    // The same on the dead zone's edge, and between two directions.
    pad.Stick(0, 0);
    const int dzEdge = static_cast<int>(dz * kMax);
    pad.Stick(dzEdge + 100, 0);
    for (int i = 0; i < 50; ++i) EXPECT_TRUE(pad.Stick(dzEdge + (i % 2 ? 100 : -100), 0).empty());
    pad.Stick(kMax, 0);
    const double t = std::tan(22.5 * std::numbers::pi / 180);  // right / right-up boundary
    for (int i = 0; i < 50; ++i) {
        const double y = (i % 2 ? t + 0.02 : t - 0.02) * kMax * 0.9;
        for (const PadCommand& c : pad.Stick(static_cast<int>(kMax * 0.9), -static_cast<int>(y)))
            EXPECT_EQ(c.direction, PadDirection::kRight);
    }
}

TEST(GamepadMapper, DirectionsDeadZoneAndInvertedY) {
    struct Case {
        int x, y;
        PadDirection want;
    };
    // SDL reports forward as negative y.
    const Case cases[] = {
        {0, -kMax, PadDirection::kUp},          {0, kMax, PadDirection::kDown},
        {-kMax, 0, PadDirection::kLeft},        {kMax, 0, PadDirection::kRight},
        {-kMax, -kMax, PadDirection::kLeftUp},  {kMax, -kMax, PadDirection::kRightUp},
        {-kMax, kMax, PadDirection::kLeftDown}, {kMax, kMax, PadDirection::kRightDown},
        {-32768, 0, PadDirection::kLeft},
    };
    for (const Case& c : cases) {
        Pad pad;
        EXPECT_EQ(pad.Stick(c.x, c.y), std::vector{Move(c.want, 8)}) << c.x << "," << c.y;
    }
    // Straight from one direction to another: the new one only, no stop between.
    Pad pad;
    pad.Stick(0, -kMax);
    EXPECT_EQ(pad.Stick(-kMax, 0).back(), Move(PadDirection::kLeft, 8));
    EXPECT_EQ(pad.out.size(), 1u);

    GamepadSettings s;
    s.deadZonePercent = 30;
    s.invertY = true;
    Pad inverted(s);
    EXPECT_TRUE(inverted.Stick(0, static_cast<int>(0.28 * kMax)).empty());  // inside 30 %
    EXPECT_EQ(inverted.Stick(0, -kMax), std::vector{Move(PadDirection::kDown, 8)});
    EXPECT_EQ(inverted.Stick(0, 0), std::vector{Just(PadAction::kStop)});
    EXPECT_TRUE(inverted.Stick(0, 0).empty());
}

TEST(GamepadMapper, TriggersDpadShouldersAndResumedPan) {
    Pad pad;
    EXPECT_EQ(pad.Axis(PadAxis::kRightTrigger, kMax), std::vector{Just(PadAction::kZoomIn)});
    EXPECT_TRUE(pad.Axis(PadAxis::kRightTrigger, kMax / 3).empty());  // not yet let go
    EXPECT_EQ(pad.Axis(PadAxis::kRightTrigger, 0), std::vector{Just(PadAction::kZoomStop)});
    EXPECT_EQ(pad.Axis(PadAxis::kLeftTrigger, kMax), std::vector{Just(PadAction::kZoomOut)});
    // Both pulled cancel out.
    EXPECT_EQ(pad.Axis(PadAxis::kRightTrigger, kMax), std::vector{Just(PadAction::kZoomStop)});
    pad.Axis(PadAxis::kRightTrigger, 0);
    pad.Axis(PadAxis::kLeftTrigger, 0);

    // The panel's zoom release also stops the pan, so a held stick resumes it.
    pad.Stick(0, -kMax);
    pad.Axis(PadAxis::kRightTrigger, kMax);
    EXPECT_EQ(pad.Axis(PadAxis::kRightTrigger, 0),
              (std::vector{Just(PadAction::kZoomStop), Move(PadDirection::kUp, 8)}));
    EXPECT_EQ(pad.Button(PadButton::kDpadUp, true), std::vector{Just(PadAction::kFocusFar)});
    EXPECT_EQ(pad.Button(PadButton::kDpadUp, false),
              (std::vector{Just(PadAction::kFocusStop), Move(PadDirection::kUp, 8)}));
    EXPECT_EQ(pad.Button(PadButton::kDpadDown, true), std::vector{Just(PadAction::kFocusNear)});
    pad.Button(PadButton::kDpadDown, false);

    EXPECT_EQ(pad.Button(PadButton::kLeftShoulder, true),
              std::vector{Just(PadAction::kPreviousPane)});
    EXPECT_TRUE(pad.Button(PadButton::kLeftShoulder, false).empty());
    EXPECT_EQ(pad.Button(PadButton::kRightShoulder, true), std::vector{Just(PadAction::kNextPane)});

    // A, B, X, Y call presets 1 to 4 once per press.
    int preset = 0;
    for (PadButton b : {PadButton::kA, PadButton::kB, PadButton::kX, PadButton::kY}) {
        PadCommand call = Just(PadAction::kPreset);
        call.step = ++preset;
        EXPECT_EQ(pad.Button(b, true), std::vector{call});
        EXPECT_TRUE(pad.Button(b, false).empty());
    }
}

TEST(GamepadMapper, ResetStopsWhatIsRunning) {
    Pad pad;
    EXPECT_TRUE(pad.Reset().empty());
    pad.Stick(kMax / 2, 0);
    pad.Axis(PadAxis::kLeftTrigger, kMax);
    pad.Button(PadButton::kDpadDown, true);
    EXPECT_EQ(pad.Reset(), (std::vector{Just(PadAction::kStop), Just(PadAction::kZoomStop),
                                        Just(PadAction::kFocusStop)}));
    EXPECT_TRUE(pad.Reset().empty());
    // A controller that comes back starts from rest.
    EXPECT_EQ(pad.Stick(kMax / 2, 0).size(), 1u);
}

TEST(GamepadMapper, SettingsFromTheIniFile) {
    const auto dir = std::filesystem::temp_directory_path() / "strevo_gamepad_settings";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "toolscfg.ini").string();
    std::filesystem::remove(path);
    GamepadSettings s = LoadGamepadSettings(path.c_str());
    EXPECT_EQ(s.deadZonePercent, 15);
    EXPECT_FALSE(s.invertY);
    std::ofstream(path) << "[SETTINGS]\nMode=1\n[gamepad]\nDeadZone=25\nInvertY=1\n";
    s = LoadGamepadSettings(path.c_str());
    EXPECT_EQ(s.deadZonePercent, 25);
    EXPECT_TRUE(s.invertY);
    std::ofstream(path) << "[GAMEPAD]\nDeadZone=250\n";
    EXPECT_EQ(LoadGamepadSettings(path.c_str()).deadZonePercent, 90);
    std::filesystem::remove_all(dir);
}
