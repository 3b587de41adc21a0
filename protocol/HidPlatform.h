// Platform parts of the hidapi backend.
#pragma once

#include <memory>

#include "HidBackend.h"

namespace strevo {

// Output report length (report id byte included) of the device at a hidapi
// path; 0 when it cannot be determined.
int PlatformOutputReportLength(const char* hidapiPath);

// Opens the device at a hidapi path for this process alone, so two programs
// never take each other's answers. Null when it cannot be opened, also when
// another process has it open.
//   Linux: hidapi's device, under an advisory exclusive lock on the node that
//   every instance of this program (and strevoctl) takes too.
//   Windows: the device opened without sharing, so nothing else can open it.
std::unique_ptr<IHidDevice> PlatformOpenHidDevice(const char* hidapiPath);

// True when the node at a hidapi path exists but this user may not read and
// write it (hidraw nodes are root's unless a udev rule hands them out).
bool PlatformAccessDenied(const char* hidapiPath);

#if !defined(_WIN32)
// The lock behind PlatformOpenHidDevice: an open descriptor of path holding
// flock(LOCK_EX | LOCK_NB), or -1 when the node cannot be opened or another
// open file (in any process) holds the lock. Close the descriptor to release it.
int LockDeviceNode(const char* path);
#endif

}  // namespace strevo
