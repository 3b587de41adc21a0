// Builds without SDL2: there is never a gamepad.
#include "GamepadReader.h"
#include "KLogLibrary.h"

namespace strevo {

struct GamepadReader::Impl {};

GamepadReader::GamepadReader() = default;
GamepadReader::~GamepadReader() = default;

bool GamepadReader::Start(const GamepadSettings&, Sink) {
    ProgramLog().Log(2, nullptr, "gamepad: not available in this build");
    return false;
}

void GamepadReader::Stop() {}

bool GamepadReader::Running() const {
    return false;
}

}  // namespace strevo
