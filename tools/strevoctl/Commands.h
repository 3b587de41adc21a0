// strevoctl command groups. Each takes the arguments after its group word and
// returns the process exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace strevoctl {

using Args = std::vector<std::string>;

int RunUsb(const Args& args);         // usb list | usb CMD INDEX ...
int RunIpDiscover(const Args& args);  // ip discover [--seconds N]
int RunIpCamera(const Args& args);    // ip CMD ADDRESS ...
int RunIpStream(const Args& args);    // ip stream ADDRESS [--seconds N] [--out FILE]
int RunIpSnapshot(const Args& args);  // ip snapshot ADDRESS --out FILE.png [--seconds N]
int RunUsbCamera(const Args& args);   // usb CMD INDEX ... (anything but list)
int RunUsbUpgrade(const Args& args);  // usb upgrade PACKAGE... [--devices LIST|all]
int RunUsbReboot(const Args& args);   // usb reboot [--devices LIST|all]
int RunRtsp(const Args& args);        // rtsp probe|stream|snapshot URL ...
int RunOnvif(const Args& args);       // onvif discover|info|get|set|ptz|presets|preset|reboot
int RunUsbImportMany(const Args& args);  // usb import FILE --devices LIST|all

// --devices: "all" or comma-separated indices as in usb list. False after
// printing a usage error.
bool ParseDevices(const std::string& text, bool* all, std::set<int>* chosen);

// Help text of each group, one command per line.
extern const char* const kUsbHelp;
extern const char* const kIpDiscoverHelp;
extern const char* const kIpCameraHelp;
extern const char* const kIpStreamHelp;
extern const char* const kIpSnapshotHelp;
extern const char* const kUsbCameraHelp;
extern const char* const kRtspHelp;
extern const char* const kOnvifHelp;

// A camera login given on the command line.
struct Credentials {
    std::string user;
    std::string password;
    std::string passwordFile;
    bool passwordGiven = false;  // by --password or --password-file
};
// The first line of a file, without its line end.
bool ReadPasswordFile(const std::string& path, std::string* password);
// Takes args[*i] if it is --user, --password-file or --password (moving *i past
// its value): 1 taken, 0 not a login option, -1 a usage error told in *error.
int TakeCredentialOption(const Args& args, size_t* i, Credentials* c, std::string* error);
// Reads the password file, or STREVO_PASSWORD when no password was given;
// false after saying why on stderr.
bool ResolvePassword(Credentials* c);

// Saves the first picture that the player port decodes to outPath (PNG) and
// prints its size; feedMore (when given) feeds the port and returns false when
// the stream ended, otherwise the stream arrives on its own. Gives up after
// seconds. Returns the exit status.
int SaveFirstPicture(int32_t port, const std::string& outPath, const std::string& shown,
                     int seconds, const std::function<bool()>& feedMore);

// When STREVO_HID_SIM is set, checks that the camsim link answers; prints a
// clear message and returns false when it does not.
bool HidSimLinkReachable();

// Prints "strevoctl: <what> (code N)" on stderr; returns the exit status 1.
int Fail(const std::string& what, int code);

}  // namespace strevoctl
