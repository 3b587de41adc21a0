// Simulated USB cameras served over the HID simulator link (docs/hid-sim.md).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Camsim.h"
#include "UsbFirmware.h"

namespace camsim {

enum class UsbFault {
    kNone,
    kNoAnswer,   // reads requests, never answers
    kDelay,      // answers after delayMs
    kBadMagic,   // answer frames without "FDTH"
    kOversized,  // answers carry kOversizedBytes of payload
    kBigChunk,   // chunk length field larger than the report can hold
    // Firmware update faults; `point` is a share of the package or of the
    // flash phase in percent.
    kNegativeProgress,  // data answers carry a negative Progress from `point` on
    kSilence,           // from `point` of the package on, nothing is answered
    kUnplug,            // at `point` of the package the camera is unplugged
    kFlashHang,         // the flash phase never ends
    kFlashFail,         // status answers carry a negative Progress from `point` of flashing on
    kDataNoText,        // data answers carry no text, only the result code
};

struct UsbFaultSetting {
    UsbFault kind = UsbFault::kNone;
    int delayMs = 0;
    int point = 0;
};

constexpr int kOversizedBytes = 6000;

// Parses "noanswer", "delay:MS", "badmagic", "oversized", "bigchunk", "none",
// "negprogress:PCT", "silence:PCT", "unplug:PCT", "flashhang", "flashfail:PCT",
// "datanotext".
bool ParseUsbFault(const std::string& text, UsbFaultSetting* out);

class UsbSimServer {
  public:
    UsbSimServer();
    ~UsbSimServer();

    // Serves the cameras on host:port (port 0: any free port). Returns the port, or -1.
    int Start(std::vector<UsbCamera> cameras, const std::string& host = "127.0.0.1", int port = 0);
    void Stop();

    // Changes a camera's fault while running.
    void SetFault(size_t index, UsbFaultSetting fault);
    // Removes a camera from LIST and drops its link (unplugging), or brings it back.
    void SetPresent(size_t index, bool present);
    // How long a camera writes a package to flash, and how long it stays away
    // after a reboot before it can be listed and opened again.
    void SetUpgradeTiming(size_t index, int flashMs, int rebootMs);
    // Paces a camera's link to one report per intervalUs in each direction
    // (1000: a full-speed HID device); 0 is unlimited.
    void SetReportInterval(size_t index, int intervalUs);
    // What arrived of a camera's last announced package, and its identity now.
    UsbFirmware::Transfer LastTransfer(size_t index);
    UsbCamera Camera(size_t index);
    // The path that LIST reports for a camera.
    static std::string PathOf(size_t index);
    // Requests a camera received so far (command codes), for tests.
    std::vector<uint32_t> ReceivedCommands(size_t index);
    // The last complete request payload a camera received, for tests.
    std::string LastPayload(size_t index);

  private:
    struct Device;
    void AcceptLoop();
    void Serve(int fd);
    void ServeDevice(int fd, std::shared_ptr<Device> dev, std::string pending);

    std::vector<std::shared_ptr<Device>> devices_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::mutex connMu_;
    std::map<int, std::thread> connections_;  // fd -> serving thread
    std::vector<int> finished_;               // fds whose threads have ended
};

}  // namespace camsim
