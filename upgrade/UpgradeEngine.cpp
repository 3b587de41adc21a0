#include "UpgradeEngine.h"

#include <cJSON.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>

namespace strevo {
namespace {

std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

}  // namespace

bool ParseUpgradeStatus(const char* text, int* updateStatus, int* progress) {
    cJSON* root = cJSON_Parse(text);
    if (!root)
        return false;
    // valueint is the number truncated toward zero and saturated to int.
    const cJSON* status = cJSON_GetObjectItem(root, "UpdateStatus");
    if (cJSON_IsNumber(status))
        *updateStatus = status->valueint;
    const cJSON* prog = cJSON_GetObjectItem(root, "Progress");
    if (cJSON_IsNumber(prog))
        *progress = prog->valueint;
    cJSON_Delete(root);
    return true;
}

UpgradeEngine::UpgradeEngine(IUpgradeListener* listener) : listener_(listener) {}

UpgradeEngine::~UpgradeEngine() {
    Shutdown();
}

int UpgradeEngine::AddRow(UsbHandle handle, bool ticked) {
    std::lock_guard<std::mutex> lock(mu_);
    Row row;
    row.id = nextId_++;
    row.handle = handle;
    row.ticked = ticked;
    rows_.push_back(row);
    return row.id;
}

void UpgradeEngine::SetTicked(int id, bool ticked) {
    std::lock_guard<std::mutex> lock(mu_);
    Update(id, -3, ticked ? 1 : 0, nullptr);
}

std::vector<UpgradeRow> UpgradeEngine::Rows() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {rows_.begin(), rows_.end()};
}

void UpgradeEngine::SetPackagePaths(std::vector<std::string> paths) {
    std::lock_guard<std::mutex> lock(mu_);
    paths_ = std::move(paths);
    packagesChanged_ = true;
}

std::shared_ptr<const std::vector<UpgradePackage>> UpgradeEngine::Packages() const {
    std::lock_guard<std::mutex> lock(mu_);
    return packages_;
}

std::vector<UsbHandle> UpgradeEngine::ClosedHandles() const {
    std::lock_guard<std::mutex> lock(mu_);
    return closed_;
}

int UpgradeEngine::IndexOf(int id) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].id == id)
            return static_cast<int>(i);
    }
    return -1;
}

void UpgradeEngine::Emit(UpgradeEvent::Kind kind, int index, int refusedBusy) {
    if (!listener_)
        return;
    UpgradeEvent ev;
    ev.kind = kind;
    ev.index = index;
    ev.refusedBusy = refusedBusy;
    if (index >= 0)
        ev.row = rows_[static_cast<size_t>(index)];
    listener_->OnUpgradeEvent(ev);
}

void UpgradeEngine::Update(int id, int state, int tick, const std::string* status) {
    const int i = IndexOf(id);
    if (i < 0)
        return;
    Row& row = rows_[static_cast<size_t>(i)];
    if (state >= kRowWaiting)
        row.state = state;
    if (tick >= 0)
        row.ticked = tick != 0;
    if (status)
        row.status = *status;
    Emit(UpgradeEvent::kRowChanged, i);
}

// ---------------------------------------------------------------------------
// Workers

void UpgradeEngine::Spawn(std::function<void(Worker&)> body) {
    auto worker = std::make_unique<Worker>();
    Worker& w = *worker;
    ++running_;
    {
        std::lock_guard<std::mutex> lock(workersMu_);
        workers_.push_back(std::move(worker));
    }
    w.thread = std::thread([this, &w, body = std::move(body)] {
        body(w);
        w.done = true;
        --running_;
    });
}

void UpgradeEngine::Reap() {
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard<std::mutex> lock(workersMu_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : finished) w->thread.join();
}

bool UpgradeEngine::WorkersRunning() const {
    return running_ > 0;
}

void UpgradeEngine::Join() {
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(workersMu_);
        all.swap(workers_);
    }
    for (auto& w : all) w->thread.join();
}

void UpgradeEngine::Stop() {
    {
        std::lock_guard<std::mutex> lock(workersMu_);
        for (auto& w : workers_) w->stop = true;
    }
    // Workers pausing between polls check their flag under mu_.
    std::lock_guard<std::mutex> lock(mu_);
    wake_.notify_all();
}

void UpgradeEngine::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        shuttingDown_ = true;
    }
    Stop();
    Join();
}

bool UpgradeEngine::Pause(Worker& w, int ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [&w] { return w.stop.load(); });
}

bool UpgradeEngine::Upgrading() const {
    std::lock_guard<std::mutex> lock(mu_);
    return std::any_of(rows_.begin(), rows_.end(), [](const Row& row) {
        return row.state == kRowSending || row.state == kRowFlashing;
    });
}

// ---------------------------------------------------------------------------
// Upgrade

int UpgradeEngine::Start() {
    Reap();
    std::vector<std::string> paths;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (shuttingDown_)
            return -1;
        paths = paths_;
        changed = packagesChanged_;
    }
    if (changed) {
        // Read outside the lock: a message to the operator waits for them.
        std::vector<UpgradePackage> read;
        if (ReadPackages(paths, &read) < 0)
            return -1;  // the list stays changed: the next Start reads again
        std::lock_guard<std::mutex> lock(mu_);
        packages_ = std::make_shared<const std::vector<UpgradePackage>>(std::move(read));
        packagesChanged_ = false;
    }

    int workers = 0;
    std::shared_ptr<const std::vector<UpgradePackage>> packages;
    {
        std::lock_guard<std::mutex> lock(mu_);
        packages = packages_ ? packages_ : std::make_shared<const std::vector<UpgradePackage>>();
        lastClaimed_ = -1;
        for (size_t i = 0; i < rows_.size(); ++i) {
            Row& row = rows_[i];
            if (row.state == kRowFlashing) {
                row.ticked = false;
                Emit(UpgradeEvent::kRowChanged, static_cast<int>(i));
            } else if (!row.busy) {
                // A row whose worker still runs keeps it: never two workers
                // on one camera.
                row.state = kRowWaiting;
                Emit(UpgradeEvent::kRowChanged, static_cast<int>(i));
                workers += row.ticked ? 1 : 0;
            }
        }
    }
    for (int n = 0; n < workers; ++n)
        Spawn([this, packages](Worker& w) { RunUpgrade(w, packages); });
    return 0;
}

void UpgradeEngine::RunUpgrade(Worker& w,
                               std::shared_ptr<const std::vector<UpgradePackage>> packages) {
    int id = -1;
    UsbHandle handle = nullptr;
    {
        // Each worker takes the next ticked waiting row after the last one taken.
        std::lock_guard<std::mutex> lock(mu_);
        for (size_t i = static_cast<size_t>(lastClaimed_ + 1); i < rows_.size(); ++i) {
            Row& row = rows_[i];
            if (row.ticked && row.state == kRowWaiting && !row.busy) {
                row.busy = true;
                id = row.id;
                handle = row.handle;
                lastClaimed_ = static_cast<int>(i);
                break;
            }
        }
    }
    if (id < 0)
        return;
    UpgradeRowPackages(w, id, handle, *packages);
    // Ticked again however it ended, so another Start retries the row.
    std::lock_guard<std::mutex> lock(mu_);
    const int i = IndexOf(id);
    if (i >= 0)
        rows_[static_cast<size_t>(i)].busy = false;
    Update(id, -3, 1, nullptr);
}

void UpgradeEngine::UpgradeRowPackages(Worker& w, int id, UsbHandle handle,
                                       const std::vector<UpgradePackage>& packages) {
    auto update = [&](int state, int tick, const std::string& status) {
        std::lock_guard<std::mutex> lock(mu_);
        Update(id, state, tick, status.empty() ? nullptr : &status);
    };
    auto status = [&](const std::string& text) { update(-3, -1, text); };
    const std::string stopped = "停止升级";
    std::vector<char> answer(kUpgradeAnswerBytes);

    for (const UpgradePackage& pkg : packages) {
        // After a stop no further package is announced to the camera.
        if (w.stop) {
            update(kRowFailed, -1, stopped);
            return;
        }
        const char* type = pkg.typeName.c_str();
        status(Format("请求升级[%s]...", type));
        const std::string request = BuildUpgradeRequest(pkg.size);
        char requestAnswer[kUpgradeAnswerBytes] = {};
        int32_t rc = CUSBDevice::Transact(handle, kCmdUpgradeRequest, request.c_str(),
                                          static_cast<uint32_t>(request.size() + 1), requestAnswer,
                                          sizeof requestAnswer, nullptr, kUpgradeCommandLimitSec);
        if (rc < 0) {
            update(kRowFailed, -1, Format("请求升级失败:%d", rc));
            return;
        }
        update(kRowSending, -1, Format("发送升级包[%s]..", type));

        // Only this package's own answers count: nothing carries over from
        // the previous package or the previous answer.
        int updateStatus = 0, progress = 0;
        uint32_t offset = 0;
        while (!w.stop && offset < pkg.size) {
            const uint32_t len = std::min(pkg.size - offset, kUpgradeChunkBytes);
            answer[0] = '\0';
            rc = CUSBDevice::Transact(handle, kCmdUpgradeData, pkg.contents.get() + offset, len,
                                      answer.data(), static_cast<uint32_t>(answer.size()), nullptr,
                                      kUpgradeChunkLimitSec);
            if (rc < 0) {
                update(kRowFailed, -1, Format("升级[%s]失败:%d", type, rc));
                return;
            }
            offset += len;
            if (!ParseUpgradeStatus(answer.data(), &updateStatus, &progress))
                continue;
            if (progress < 0) {
                update(kRowFailed, -1, Format("升级[%s]返回失败:%d", type, progress));
                return;
            }
            status(Format("升级[%s]: %d%%", type, progress));
        }

        if (!w.stop)
            update(kRowFlashing, 0, "");
        // A camera that answers but never finishes must not hold the row forever.
        const auto flashDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(flashLimitMs);
        while (!w.stop && updateStatus != kUpdateStatusDone) {
            if (std::chrono::steady_clock::now() >= flashDeadline) {
                update(kRowFailed, -1, Format("升级[%s]失败: %d", type, kUsbTimeout));
                return;
            }
            answer[0] = '\0';
            rc = CUSBDevice::Transact(handle, kCmdUpgradeStatus, nullptr, 0, answer.data(),
                                      static_cast<uint32_t>(answer.size()), nullptr,
                                      kUpgradeCommandLimitSec);
            if (rc < 0) {
                update(kRowFailed, -1, Format("升级[%s]失败: %d", type, rc));
                return;
            }
            if (!ParseUpgradeStatus(answer.data(), &updateStatus, &progress)) {
                Pause(w, pollIntervalMs);  // no text is no news: ask again, at the same pace
                continue;
            }
            if (progress < 0) {
                update(kRowFailed, -1, Format("升级返回失败:%d", progress));
                return;
            }
            if (updateStatus == kUpdateStatusDone && progress == 0)
                status("升级成功.");
            else
                status(Format("升级[%s](烧写中):%d%%", type, progress));
            if (updateStatus != kUpdateStatusDone)
                Pause(w, pollIntervalMs);
        }

        if (w.stop) {
            update(kRowFailed, -1, stopped);
            return;
        }
        update(kRowUpgraded, -1, "");
    }
}

// ---------------------------------------------------------------------------
// Reboot

int UpgradeEngine::StartReboot() {
    Reap();
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (shuttingDown_ || rebooting_)
            return -1;
        rebooting_ = true;
    }
    Spawn([this](Worker& w) { RunReboot(w); });
    return 0;
}

void UpgradeEngine::RunReboot(Worker& w) {
    const std::string failed = "重启失败";
    const std::string rebooted = "设备已经重启";
    int refusedBusy = 0;
    std::unique_lock<std::mutex> lock(mu_);
    // From the last row to the first, so the rows still to visit keep their
    // places while rebooted rows are removed.
    for (int i = static_cast<int>(rows_.size()) - 1; i >= 0 && !w.stop; --i) {
        Row& row = rows_[static_cast<size_t>(i)];
        if (!row.ticked)
            continue;
        const int id = row.id;
        if (row.busy) {
            // An upgrade worker still talks to this camera; commands to one
            // camera never overlap.
            Update(id, -3, -1, &failed);
            ++refusedBusy;
            continue;
        }
        row.busy = true;
        const UsbHandle handle = row.handle;
        lock.unlock();
        const int32_t rc = CUSBDevice::Transact(handle, kCmdReboot, nullptr, 0, nullptr, 0, nullptr,
                                                kUpgradeCommandLimitSec);
        lock.lock();
        const int at = IndexOf(id);
        if (at < 0)
            continue;
        rows_[static_cast<size_t>(at)].busy = false;
        if (rc < 0) {
            Update(id, -3, -1, &failed);
            continue;
        }
        Update(id, -3, -1, &rebooted);
        // Its handle is useless once the camera restarts.
        CUSBDevice::CloseDeviceHandle(handle);
        closed_.push_back(handle);
        rows_[static_cast<size_t>(at)].handle = kInvalidUsbHandle;
        Emit(UpgradeEvent::kRowRemoved, at);
        rows_.erase(rows_.begin() + at);
    }
    rebooting_ = false;
    Emit(UpgradeEvent::kRebootFinished, -1, refusedBusy);
}

}  // namespace strevo
