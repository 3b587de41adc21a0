// The SDL2 game-controller reader. Only the controller subsystem is started
// (no video), with SDL's signal handlers off so the program keeps its own.
#include <SDL.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "GamepadReader.h"
#include "KLogLibrary.h"

namespace strevo {

namespace {

constexpr Uint32 kPollMs = 2;  // a pan command's latency budget is a few milliseconds

bool AxisOf(Uint8 sdlAxis, PadAxis* axis) {
    switch (sdlAxis) {
        case SDL_CONTROLLER_AXIS_LEFTX:
            *axis = PadAxis::kLeftX;
            return true;
        case SDL_CONTROLLER_AXIS_LEFTY:
            *axis = PadAxis::kLeftY;
            return true;
        case SDL_CONTROLLER_AXIS_TRIGGERLEFT:
            *axis = PadAxis::kLeftTrigger;
            return true;
        case SDL_CONTROLLER_AXIS_TRIGGERRIGHT:
            *axis = PadAxis::kRightTrigger;
            return true;
        default:
            return false;
    }
}

bool ButtonOf(Uint8 sdlButton, PadButton* button) {
    switch (sdlButton) {
        case SDL_CONTROLLER_BUTTON_DPAD_UP:
            *button = PadButton::kDpadUp;
            return true;
        case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
            *button = PadButton::kDpadDown;
            return true;
        case SDL_CONTROLLER_BUTTON_LEFTSHOULDER:
            *button = PadButton::kLeftShoulder;
            return true;
        case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER:
            *button = PadButton::kRightShoulder;
            return true;
        case SDL_CONTROLLER_BUTTON_A:
            *button = PadButton::kA;
            return true;
        case SDL_CONTROLLER_BUTTON_B:
            *button = PadButton::kB;
            return true;
        case SDL_CONTROLLER_BUTTON_X:
            *button = PadButton::kX;
            return true;
        case SDL_CONTROLLER_BUTTON_Y:
            *button = PadButton::kY;
            return true;
        default:
            return false;
    }
}

}  // namespace

struct GamepadReader::Impl {
    std::thread thread;
    std::atomic<bool> stop{false};

    void Run(GamepadSettings settings, Sink sink, std::promise<bool> started);
};

void GamepadReader::Impl::Run(GamepadSettings settings, Sink sink, std::promise<bool> started) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        ProgramLog().Log(2, nullptr, "gamepad: SDL could not start: %s", SDL_GetError());
        SDL_TLSCleanup();
        started.set_value(false);
        return;
    }
    started.set_value(true);

    GamepadMapper mapper(settings);
    SDL_GameController* active = nullptr;
    SDL_JoystickID activeId = -1;
    std::vector<PadCommand> out;
    auto open = [&](int deviceIndex) {
        if (active || !SDL_IsGameController(deviceIndex))
            return;
        active = SDL_GameControllerOpen(deviceIndex);
        if (!active)
            return;
        activeId = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(active));
        const char* name = SDL_GameControllerName(active);
        ProgramLog().Log(2, nullptr, "gamepad: %s", name ? name : "(unnamed)");
    };

    while (!stop.load()) {
        SDL_Event e;
        out.clear();
        while (SDL_PollEvent(&e)) {
            switch (e.type) {
                case SDL_CONTROLLERDEVICEADDED:
                    open(e.cdevice.which);
                    break;
                case SDL_CONTROLLERDEVICEREMOVED:
                    if (active && e.cdevice.which == activeId) {
                        mapper.Reset(&out);
                        SDL_GameControllerClose(active);
                        active = nullptr;
                        activeId = -1;
                        ProgramLog().Log(2, nullptr, "gamepad: removed");
                        // Another controller still plugged in takes over.
                        for (int i = 0; i < SDL_NumJoysticks() && !active; ++i) open(i);
                    }
                    break;
                case SDL_CONTROLLERAXISMOTION: {
                    PadAxis axis;
                    if (e.caxis.which == activeId && AxisOf(e.caxis.axis, &axis))
                        mapper.Axis(axis, e.caxis.value, &out);
                    break;
                }
                case SDL_CONTROLLERBUTTONDOWN:
                case SDL_CONTROLLERBUTTONUP: {
                    PadButton button;
                    if (e.cbutton.which == activeId && ButtonOf(e.cbutton.button, &button))
                        mapper.Button(button, e.type == SDL_CONTROLLERBUTTONDOWN, &out);
                    break;
                }
                default:
                    break;
            }
        }
        mapper.Settle(&out);
        for (const PadCommand& c : out) sink(c);
        SDL_Delay(kPollMs);
    }
    if (active)
        SDL_GameControllerClose(active);
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    // SDL frees its per-thread data (the error text) only on threads it started itself.
    SDL_TLSCleanup();
}

GamepadReader::GamepadReader() : impl_(std::make_unique<Impl>()) {}

GamepadReader::~GamepadReader() {
    Stop();
}

bool GamepadReader::Start(const GamepadSettings& settings, Sink sink) {
    if (impl_->thread.joinable())
        return true;
    impl_->stop = false;
    std::promise<bool> started;
    std::future<bool> ok = started.get_future();
    impl_->thread =
        std::thread(&Impl::Run, impl_.get(), settings, std::move(sink), std::move(started));
    if (ok.get())
        return true;
    impl_->thread.join();
    return false;
}

void GamepadReader::Stop() {
    if (!impl_->thread.joinable())
        return;
    impl_->stop = true;
    impl_->thread.join();
}

bool GamepadReader::Running() const {
    return impl_->thread.joinable();
}

}  // namespace strevo
