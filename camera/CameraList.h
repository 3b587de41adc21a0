// The cameras the operator added by address, as toolscfg.ini keeps them:
// section CAMERAS, keys Camera1, Camera2, … in order, one camera each, the list
// ending at the first missing or empty key. A value is
//   kind,user,address
// with kind "sdk", "rtsp" or "onvif", the user name percent-encoded (',' and
// '%'), and the address last (an IP, an rtsp:// URL, or an ONVIF device
// service, all without credentials). Passwords are never written there.
#pragma once

#include <string>
#include <vector>

#include "Camera.h"

namespace strevo {

struct AddedCamera {
    CameraKind kind = CameraKind::kSdk;
    std::string address;  // IP for SDK cameras, URL without credentials for RTSP and ONVIF ones
    std::string user;
    // Where the password is kept for the run (never in the file).
    std::string Key() const;
};

inline constexpr int kMaxAddedCameras = 64;
inline constexpr const char* kCamerasSection = "CAMERAS";

// One entry from its stored value; false for anything this program would not
// have written (an unknown kind, a bad address, credentials in the URL).
bool ParseAddedCamera(const std::string& value, AddedCamera* camera);
std::string FormatAddedCamera(const AddedCamera& camera);

// What the operator typed in the add dialog: an IPv4 address for an SDK
// camera; for an RTSP camera a full rtsp:// URL or an address (then
// rtsp://ADDRESS:554/main); for an ONVIF camera its device service as host,
// host:port or http://host[:port][/path]. Credentials typed into the URL are
// moved into *user and *password (unless those were typed too). False with a
// reason in *why (Chinese, for the operator).
bool NormaliseAddress(CameraKind kind, const std::string& typed, AddedCamera* camera,
                      std::string* password, std::string* why);

std::vector<AddedCamera> LoadAddedCameras(const std::string& iniPath);
// Rewrites the whole list; false when the file could not be written.
bool SaveAddedCameras(const std::string& iniPath, const std::vector<AddedCamera>& cameras);

}  // namespace strevo
