// Simulated cameras: what the modules of camsim share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

class CameraModel;

struct NetCamera {
    std::string address;   // loopback address, 127.0.0.2 upwards
    std::string name;      // shown in the test picture
    std::string identity;  // stable per camera (MAC-like), used by discovery
    std::shared_ptr<CameraModel> model;
};

struct UsbCamera {
    std::string name;  // UTF-8, may be Chinese
    std::string model;
    std::string serial;
    std::string buildDate;
    int biosVersion = 0x0102;
    int reportLength = 65;
    uint16_t vendorId = 0x1703;
    uint16_t productId = 0x2001;
    std::shared_ptr<CameraModel> state;
};

// What the servers of a network camera share, whichever protocol they speak:
// the login (SDK and RTSP) and the stream sizes. The Net module parses the options.
struct NetSettings {
    std::string user = "admin";
    std::string password = "quolt";
    // The main stream; the sub stream is half as wide and high.
    int width = 640;
    int height = 360;
    int fps = 15;
    bool busy = false;  // a band of moving noise in the picture
    int SubWidth() const { return width / 4 * 2; }
    int SubHeight() const { return height / 4 * 2; }
};

struct World {
    std::vector<NetCamera> net;
    std::vector<UsbCamera> usb;
};

// One part of the simulator. main() offers every command-line option to each
// module in turn, builds the World, then starts the modules.
class Module {
  public:
    virtual ~Module() = default;
    virtual const char* Name() const = 0;
    // Help text for the module's options, one option per line.
    virtual const char* Usage() const = 0;
    // Looks at argv[i]; returns how many arguments it consumed (0: not ours),
    // or -1 after printing an error for a bad value.
    virtual int ParseOption(int argc, char** argv, int i) = 0;
    // Starts serving; prints one "camsim: ..." line per endpoint to stdout.
    virtual bool Start(World& world) = 0;
    virtual void Stop() = 0;
};

std::unique_ptr<Module> MakeUsbModule();
// shared: settings the RTSP module reads too; the module keeps its own when null.
std::unique_ptr<Module> MakeNetModule(std::shared_ptr<NetSettings> shared = nullptr);
std::unique_ptr<Module> MakeRtspModule(std::shared_ptr<const NetSettings> shared);
std::unique_ptr<Module> MakeDiscoveryModule();
// ONVIF (library camsim_onvif): reads --rtsp-port without taking it, so offer
// options to it before the RTSP module.
std::unique_ptr<Module> MakeOnvifModule(std::shared_ptr<const NetSettings> shared);

// True when loopback is this network namespace's only link (scripts/netns-run),
// so answering or sending broadcasts cannot reach a real network.
bool OnlyLoopbackLinks();

// Loopback address of the n-th network camera (0-based): 127.0.0.2, 127.0.0.3, ...
std::string NetCameraAddress(int index, const std::string& first = "127.0.0.2");

}  // namespace camsim
