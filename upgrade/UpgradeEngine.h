// Firmware upgrade and reboot of USB cameras, one worker thread per camera.
// The engine owns the rows (device handle, state, tick, status text) that the
// upgrade dialog and strevoctl show, and reports every change as an event;
// it never touches a widget. Every worker is joined: by Join(), Shutdown()
// or the destructor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "UpgradePackage.h"

namespace strevo {

// Command codes of the upgrade and the reboot.
constexpr uint32_t kCmdUpgradeRequest = 30001008;
constexpr uint32_t kCmdUpgradeData = 3004;
constexpr uint32_t kCmdUpgradeStatus = 40001207;
constexpr uint32_t kCmdReboot = 40001086;

constexpr uint32_t kUpgradeChunkBytes = 1048576;      // package data per transaction
constexpr uint32_t kUpgradeChunkLimitSec = 20;        // write limit of one chunk
constexpr uint32_t kUpgradeCommandLimitSec = 5;       // write limit of the other commands
constexpr int kUpgradePollMs = 200;                   // between two status polls
constexpr int kUpgradeFlashLimitMs = 10 * 60 * 1000;  // longest write of one package to flash
constexpr size_t kUpgradeAnswerBytes = 1024;
constexpr int kUpdateStatusDone = 2;  // UpdateStatus: the package is in flash

// Row states.
enum : int {
    kRowWaiting = -2,  // not yet taken by a worker in this run
    kRowFailed = -1,   // failed or stopped
    kRowUpgraded = 0,  // the last package handled is in flash
    kRowSending = 1,   // a package is being sent
    kRowFlashing = 2,  // sent; the camera is writing it to flash
};

struct UpgradeRow {
    int id = -1;  // stable for the row's life (the order in which rows were added)
    UsbHandle handle = nullptr;
    int state = kRowWaiting;
    bool ticked = true;
    std::string status;  // the Status cell, UTF-8
};

struct UpgradeEvent {
    enum Kind { kRowChanged, kRowRemoved, kRebootFinished };
    Kind kind = kRowChanged;
    int index = -1;  // the row's place in the list when it happened
    UpgradeRow row;  // the row after the change (as it was, for kRowRemoved)
    // kRebootFinished: ticked rows not rebooted because an upgrade still ran
    // on them (their "重启失败" is soon replaced by the upgrade's progress).
    int refusedBusy = 0;
};

class IUpgradeListener {
  public:
    virtual ~IUpgradeListener() = default;
    // Called on the thread that made the change (a worker, or the caller of
    // the engine), in the order of the changes, with the engine's lock held:
    // hand the event on and return; never call back into the engine.
    virtual void OnUpgradeEvent(const UpgradeEvent& event) = 0;
};

// Whether a status answer text carries UpdateStatus and Progress: false when
// it is not JSON; a key that is missing leaves its value as it was.
bool ParseUpgradeStatus(const char* text, int* updateStatus, int* progress);

class UpgradeEngine {
  public:
    explicit UpgradeEngine(IUpgradeListener* listener = nullptr);
    ~UpgradeEngine();
    UpgradeEngine(const UpgradeEngine&) = delete;
    UpgradeEngine& operator=(const UpgradeEngine&) = delete;

    // Appends a row (before anything runs); returns its id.
    int AddRow(UsbHandle handle, bool ticked = true);
    void SetTicked(int id, bool ticked);
    std::vector<UpgradeRow> Rows() const;

    // The package files in upgrade order; the next Start reads them again.
    void SetPackagePaths(std::vector<std::string> paths);
    // The packages read by the last successful preparation.
    std::shared_ptr<const std::vector<UpgradePackage>> Packages() const;

    // Reads the packages if the list changed, then starts one worker per
    // ticked row that has none. 0 when started; -1 when a package could not
    // be read (the operator has been told) or the engine is shutting down.
    int Start();
    // Ends the running workers at their next chunk, poll or package.
    void Stop();
    // Reboots the ticked rows from the last to the first on a worker of its
    // own; rebooted rows are removed and their handles closed. -1 while a
    // reboot runs or the engine is shutting down.
    int StartReboot();

    // Whether any row is sending or flashing, by its state.
    bool Upgrading() const;
    bool WorkersRunning() const;
    // Waits for every worker to end.
    void Join();
    // Stop, refuse further work and join: nothing runs after it returns.
    void Shutdown();

    // Handles closed by the reboot, in the order they were closed.
    std::vector<UsbHandle> ClosedHandles() const;

    // Pause between status polls, and how long a camera may take to write one
    // package to flash before its row fails (tests shorten both).
    int pollIntervalMs = kUpgradePollMs;
    int flashLimitMs = kUpgradeFlashLimitMs;

  private:
    struct Row : UpgradeRow {
        bool busy = false;  // a worker holds the row
    };
    struct Worker {
        std::thread thread;
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
    };

    void RunUpgrade(Worker& w, std::shared_ptr<const std::vector<UpgradePackage>> packages);
    void UpgradeRowPackages(Worker& w, int id, UsbHandle handle,
                            const std::vector<UpgradePackage>& packages);
    void RunReboot(Worker& w);
    void Spawn(std::function<void(Worker&)> body);
    void Reap();
    bool Pause(Worker& w, int ms);

    // Under mu_.
    int IndexOf(int id) const;
    void Emit(UpgradeEvent::Kind kind, int index, int refusedBusy = 0);
    // Changes a row and reports it; state < -2 and tick < 0 leave those alone.
    void Update(int id, int state, int tick, const std::string* status);
    void SetStatus(int id, const std::string& status) { Update(id, -3, -1, &status); }

    IUpgradeListener* listener_;
    mutable std::mutex mu_;
    std::condition_variable wake_;  // Stop wakes pausing workers
    std::vector<Row> rows_;
    int nextId_ = 0;
    int lastClaimed_ = -1;
    bool packagesChanged_ = false;
    std::vector<std::string> paths_;
    std::shared_ptr<const std::vector<UpgradePackage>> packages_;
    std::vector<UsbHandle> closed_;
    bool rebooting_ = false;
    bool shuttingDown_ = false;

    std::mutex workersMu_;  // guards workers_ (never held while joining)
    std::list<std::unique_ptr<Worker>> workers_;
    std::atomic<int> running_{0};
};

}  // namespace strevo
