// The camera commands shared by "usb CMD INDEX" and "ip CMD ADDRESS": the
// arguments are checked before the camera is reached, then run over whichever
// transport the group binds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Commands.h"
#include "VideoParam.h"

namespace strevoctl {

// The camera's operations on one transport.
struct CameraOps {
    std::function<int32_t(strevo::VideoParam*)> get;
    std::function<int32_t(const strevo::VideoParam*)> set;
    std::function<int32_t(const char*)> setItem;
    std::function<int32_t()> focusNear;
    std::function<int32_t()> defaults;
    std::function<int32_t(const char*, int, int)> ptz;
};

// A checked command line, ready to run.
struct CameraCommand {
    std::string name;
    std::string items;  // set
    std::string path;   // export folder, import file
    std::string ptzAction;
    int ptzH = 0, ptzV = 0;
};

// Help lines of the commands, with GROUP and TARGET put in.
std::string CameraCommandsHelp(const char* group, const char* target);

// Checks CMD and its arguments; on a usage error prints it and returns false.
bool ParseCameraCommand(const std::string& cmd, const Args& rest, CameraCommand* out);

// Runs the command; returns the exit status.
int RunCameraCommand(const CameraCommand& c, const CameraOps& ops);

// Operator messages go to stderr for the whole process.
void InstallStderrMessages();

}  // namespace strevoctl
