#include "ParamImportEngine.h"

#include <algorithm>
#include <cstdio>

namespace strevo {

ParamImportEngine::ParamImportEngine(IImportListener* listener, Writer writer)
    : listener_(listener), writer_(std::move(writer)) {
    if (!writer_)
        writer_ = [](UsbHandle h, const VideoParam& p) { return CUSBDevice::SendVideoParam(h, &p); };
}

ParamImportEngine::~ParamImportEngine() {
    Shutdown();
}

int ParamImportEngine::AddRow(UsbHandle handle, bool ticked) {
    std::lock_guard<std::mutex> lock(mu_);
    ImportRow row;
    row.id = nextId_++;
    row.handle = handle;
    row.ticked = ticked;
    rows_.push_back(row);
    return row.id;
}

int ParamImportEngine::IndexOf(int id) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id)
            return static_cast<int>(i);
    return -1;
}

void ParamImportEngine::Emit(const ImportEvent& event) {
    if (listener_)
        listener_->OnImportEvent(event);
}

void ParamImportEngine::SetTicked(int id, bool ticked) {
    std::lock_guard<std::mutex> lock(mu_);
    const int i = IndexOf(id);
    if (i < 0)
        return;
    rows_[static_cast<size_t>(i)].ticked = ticked;
    ImportEvent ev;
    ev.row = rows_[static_cast<size_t>(i)];
    Emit(ev);
}

std::vector<ImportRow> ParamImportEngine::Rows() const {
    std::lock_guard<std::mutex> lock(mu_);
    return rows_;
}

bool ParamImportEngine::Running() const {
    std::lock_guard<std::mutex> lock(mu_);
    return pending_ > 0;
}

int ParamImportEngine::Start(const VideoParam& record) {
    if (Running())
        return -1;
    Join();  // the last run's workers have all reported: this only reaps them
    std::vector<std::pair<int, UsbHandle>> chosen;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (shutDown_ || pending_ > 0)
            return -1;
        for (ImportRow& row : rows_) {
            if (!row.ticked)
                continue;
            row.state = kImportWriting;
            row.code = 0;
            row.status = "正在导入...";
            chosen.emplace_back(row.id, row.handle);
            ImportEvent ev;
            ev.row = row;
            Emit(ev);
        }
        if (chosen.empty())
            return -1;
        pending_ = static_cast<int>(chosen.size());
        runFailed_ = runWritten_ = 0;
    }
    std::lock_guard<std::mutex> lock(threadsMu_);
    for (const auto& [id, handle] : chosen)
        threads_.emplace_back([this, id = id, handle = handle, record] { RunRow(id, handle, record); });
    return 0;
}

void ParamImportEngine::RunRow(int id, UsbHandle handle, VideoParam record) {
    const int32_t rc = writer_(handle, record);
    std::lock_guard<std::mutex> lock(mu_);
    const int i = IndexOf(id);
    if (i >= 0) {
        ImportRow& row = rows_[static_cast<size_t>(i)];
        row.code = rc;
        row.state = rc == 0 ? kImportDone : kImportFailed;
        if (rc == 0) {
            row.status = "成功";
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "失败: %d", rc);
            row.status = text;
        }
        ImportEvent ev;
        ev.row = row;
        Emit(ev);
    }
    (rc == 0 ? runWritten_ : runFailed_)++;
    if (--pending_ == 0) {
        ImportEvent done;
        done.kind = ImportEvent::kRunFinished;
        done.failed = runFailed_;
        done.written = runWritten_;
        Emit(done);
    }
}

void ParamImportEngine::Join() {
    std::vector<std::thread> all;
    {
        std::lock_guard<std::mutex> lock(threadsMu_);
        all.swap(threads_);
    }
    for (std::thread& t : all) t.join();
}

void ParamImportEngine::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        shutDown_ = true;
    }
    Join();
}

}  // namespace strevo
