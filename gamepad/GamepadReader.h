// Reads the first connected game controller on a thread of its own and hands
// the PTZ commands its sticks and buttons call for to a sink, on that thread.
// Built on SDL2's game-controller interface when SDL2 is there; without it
// Start reports that there is no gamepad.
#pragma once

#include <functional>
#include <memory>

#include "GamepadMapper.h"

namespace strevo {

class GamepadReader {
  public:
    using Sink = std::function<void(const PadCommand&)>;

    GamepadReader();
    ~GamepadReader();  // stops the thread
    GamepadReader(const GamepadReader&) = delete;
    GamepadReader& operator=(const GamepadReader&) = delete;

    // Returns once the controller interface is up: false (with one log line)
    // when it cannot be used, and the program goes on without a gamepad.
    bool Start(const GamepadSettings& settings, Sink sink);
    void Stop();
    bool Running() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace strevo
