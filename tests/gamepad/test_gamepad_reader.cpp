// The SDL reader thread end to end with SDL's virtual game controller: what
// its sink receives for a stick ramp, the dead zone and unplugging.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "GamepadReader.h"

using namespace strevo;
using namespace std::chrono_literals;

namespace {

class Received {
  public:
    void Add(const PadCommand& c) {
        std::lock_guard<std::mutex> lock(m_);
        all_.push_back(c);
        cv_.notify_all();
    }
    // Waits until n commands arrived (or a generous limit passed), then
    // returns all of them.
    std::vector<PadCommand> WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait_for(lock, 5s, [&] { return all_.size() >= n; });
        return all_;
    }
    std::vector<PadCommand> After(std::chrono::milliseconds quiet) {
        std::this_thread::sleep_for(quiet);
        std::lock_guard<std::mutex> lock(m_);
        return all_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<PadCommand> all_;
};

struct VirtualPad {
    int index = -1;
    SDL_Joystick* joy = nullptr;
    SDL_JoystickID id = -1;
    bool Attach() {
        index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                          SDL_CONTROLLER_BUTTON_MAX, 0);
        joy = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
        if (!joy)
            return false;
        id = SDL_JoystickInstanceID(joy);
        // Until the reader has opened it as a controller, moves would be lost.
        for (int i = 0; i < 500 && !SDL_GameControllerFromInstanceID(id); ++i)
            std::this_thread::sleep_for(10ms);
        return SDL_GameControllerFromInstanceID(id) != nullptr;
    }
    void Axis(SDL_GameControllerAxis a, double fraction) {
        SDL_JoystickSetVirtualAxis(joy, a, static_cast<Sint16>(fraction * 32767));
        std::this_thread::sleep_for(10ms);  // one value per poll of the reader
    }
    void Unplug() {
        SDL_JoystickClose(joy);
        SDL_JoystickDetachVirtual(index);
    }
};

PadCommand Move(PadDirection d, int step) {
    return {PadAction::kMove, d, step};
}
PadCommand Stop() {
    return {};
}

class GamepadReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_JOYSTICK_HIDAPI", "0", 1);  // the virtual device only
        ASSERT_TRUE(reader.Start(GamepadSettings{}, [this](const PadCommand& c) { got.Add(c); }));
    }
    Received got;
    GamepadReader reader;
};

}  // namespace

TEST_F(GamepadReaderTest, RampDeadZoneAndUnplug) {
    VirtualPad pad;
    ASSERT_TRUE(pad.Attach()) << SDL_GetError();
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 0.1);  // inside the dead zone
    EXPECT_TRUE(got.After(50ms).empty());

    std::vector<PadCommand> want;
    for (int step = 1; step <= 8; ++step) {
        for (double within : {0.3, 0.5, 0.7})
            pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 0.15 + 0.85 * (step - 1 + within) / 8);
        want.push_back(Move(PadDirection::kRight, step));
        ASSERT_EQ(got.WaitFor(want.size()), want);
    }
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 0.08);
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 0.0);
    want.push_back(Stop());
    EXPECT_EQ(got.After(50ms), want);

    pad.Axis(SDL_CONTROLLER_AXIS_LEFTY, -1.0);
    want.push_back(Move(PadDirection::kUp, 8));
    ASSERT_EQ(got.WaitFor(want.size()), want);
    pad.Unplug();
    want.push_back(Stop());
    ASSERT_EQ(got.WaitFor(want.size()), want);
    EXPECT_EQ(got.After(50ms), want);

    // A controller plugged in later is picked up, starting from rest.
    VirtualPad again;
    ASSERT_TRUE(again.Attach()) << SDL_GetError();
    again.Axis(SDL_CONTROLLER_AXIS_LEFTX, -1.0);
    want.push_back(Move(PadDirection::kLeft, 8));
    EXPECT_EQ(got.WaitFor(want.size()), want);
    again.Unplug();
}

TEST_F(GamepadReaderTest, StopsAndStartsAgain) {
    reader.Stop();
    EXPECT_FALSE(reader.Running());
    ASSERT_TRUE(reader.Start(GamepadSettings{}, [this](const PadCommand& c) { got.Add(c); }));
    VirtualPad pad;
    ASSERT_TRUE(pad.Attach()) << SDL_GetError();
    SDL_JoystickSetVirtualButton(pad.joy, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 1);
    PadCommand next;
    next.action = PadAction::kNextPane;
    EXPECT_EQ(got.WaitFor(1), std::vector{next});
    SDL_JoystickSetVirtualButton(pad.joy, SDL_CONTROLLER_BUTTON_Y, 1);
    PadCommand preset;
    preset.action = PadAction::kPreset;
    preset.step = 4;
    EXPECT_EQ(got.WaitFor(2), (std::vector{next, preset}));
    pad.Unplug();
}
