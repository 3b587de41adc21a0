// A simulated USB camera's firmware update: the upgrade request, the package
// data, the flash-writing phase and what the reboot makes of it. No sockets:
// the HID link (UsbSim) hands it complete requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

constexpr uint32_t kCmdUpgradeRequest = 30001008;
constexpr uint32_t kCmdUpgradeData = 3004;
constexpr uint32_t kCmdUpgradeStatus = 40001207;
constexpr uint32_t kCmdReboot = 40001086;

// UpdateStatus values in the answers.
constexpr int kUpdateIdle = 0;
constexpr int kUpdateBusy = 1;  // receiving the package or writing it to flash
constexpr int kUpdateDone = 2;  // the last package is in flash

// Result code of data that was not announced or goes beyond FileSize.
constexpr int32_t kResultNoTransfer = -103;
// The Progress value by which the camera reports a failed package.
constexpr int kFailedProgress = -7;

// Where the update goes wrong; percentages, -1 for never.
struct FirmwareFaults {
    int negativeProgressAt = -1;  // a data answer from this share of the package on
    int flashFailAt = -1;         // a status answer from this share of the flash phase on
    bool flashHangs = false;      // the flash phase never ends (stays at 99 %)
};

class UsbFirmware {
  public:
    using Clock = std::chrono::steady_clock;

    static bool IsUpgradeCommand(uint32_t cmd);

    // One complete upgrade request, data chunk or status poll. Fills answer
    // and returns the result code of the answer frame.
    int32_t Handle(uint32_t cmd, const std::string& payload, Clock::time_point now,
                   std::string* answer);

    // Share of the current package received so far, 0 to 100 (-1 when no
    // package is being received).
    int ReceivedPercent() const;

    // True once a package has been written to flash completely; the reboot
    // starts the new firmware and clears it.
    bool Pending() const { return pending_; }
    // The camera restarts: whatever was in progress is gone.
    void Reboot();

    // What arrived for the last announced package, for tests.
    struct Transfer {
        int64_t fileType = -1;
        uint64_t fileSize = 0;
        uint64_t received = 0;
        std::vector<uint32_t> chunks;         // payload length of every data request
        uint64_t hash = 1469598103934665603;  // FNV-1a over the received bytes
    };
    const Transfer& LastTransfer() const { return transfer_; }
    int Requests() const { return requests_; }

    int flashMs = 3000;  // duration of the flash-writing phase
    FirmwareFaults faults;

  private:
    enum class Phase { kIdle, kReceiving, kFlashing, kDone };
    std::string Status(int updateStatus, int progress) const;
    int FlashPercent(Clock::time_point now) const;

    Phase phase_ = Phase::kIdle;
    Clock::time_point flashStart_{};
    bool pending_ = false;
    int requests_ = 0;
    Transfer transfer_;
};

}  // namespace camsim
