// One video parameter record written into several USB cameras at once, one
// worker thread per camera. Like the upgrade engine it owns the rows (handle,
// tick, state, status text) that the import dialog and strevoctl show and
// reports every change as an event; it never touches a widget. A camera that
// fails changes nothing on the others: each worker sends to its own camera
// only, and every worker is joined by Join(), Shutdown() or the destructor.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "VideoParam.h"

namespace strevo {

enum : int {
    kImportWaiting = 0,  // not written in this run (or never run)
    kImportWriting = 1,
    kImportDone = 2,
    kImportFailed = 3,
};

struct ImportRow {
    int id = -1;  // the order in which rows were added
    UsbHandle handle = nullptr;
    bool ticked = true;
    int state = kImportWaiting;
    int32_t code = 0;    // the write's result once done or failed
    std::string status;  // the Status cell, UTF-8: "成功" or the code
};

struct ImportEvent {
    enum Kind { kRowChanged, kRunFinished };
    Kind kind = kRowChanged;
    ImportRow row;   // kRowChanged: the row after the change
    int failed = 0;  // kRunFinished: rows of the run that did not take the record
    int written = 0;
};

class IImportListener {
  public:
    virtual ~IImportListener() = default;
    // Called on the thread that made the change, with the engine's lock held:
    // hand the event on and return; never call back into the engine.
    virtual void OnImportEvent(const ImportEvent& event) = 0;
};

class ParamImportEngine {
  public:
    // The write of one camera; the transport's own limits bound it.
    using Writer = std::function<int32_t(UsbHandle, const VideoParam&)>;

    explicit ParamImportEngine(IImportListener* listener = nullptr, Writer writer = nullptr);
    ~ParamImportEngine();
    ParamImportEngine(const ParamImportEngine&) = delete;
    ParamImportEngine& operator=(const ParamImportEngine&) = delete;

    int AddRow(UsbHandle handle, bool ticked = true);
    void SetTicked(int id, bool ticked);
    std::vector<ImportRow> Rows() const;

    // Writes record into every ticked row, each on a worker of its own.
    // 0 when started; -1 while a run goes on, with no ticked row, or once shut down.
    int Start(const VideoParam& record);
    bool Running() const;
    // Waits for the run's workers.
    void Join();
    // Refuses further runs and joins.
    void Shutdown();

  private:
    void RunRow(int id, UsbHandle handle, VideoParam record);
    // Under mu_.
    int IndexOf(int id) const;
    void Emit(const ImportEvent& event);

    IImportListener* listener_;
    Writer writer_;
    mutable std::mutex mu_;
    std::vector<ImportRow> rows_;
    int nextId_ = 0;
    int pending_ = 0;  // workers of the run that have not reported yet
    int runFailed_ = 0;
    int runWritten_ = 0;
    bool shutDown_ = false;

    std::mutex threadsMu_;  // never held while the engine's lock is
    std::vector<std::thread> threads_;
};

}  // namespace strevo
