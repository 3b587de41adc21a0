#include "CUSBDevice.h"

#include <cJSON.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "KLogLibrary.h"
#include "TextConv.h"
#include "TextCut.h"

namespace strevo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadPhaseMs = 5000;

struct OpenDevice {
    std::unique_ptr<IHidDevice> io;
    int reportLength = 0;
};

// Open devices by handle. Transact looks handles up here, so a handle that was
// closed (or never opened) is refused instead of reaching a device, and a
// device closed while a transaction runs on it stays alive until that ends.
class HandleTable {
  public:
    UsbHandle Add(std::shared_ptr<OpenDevice> dev) {
        std::lock_guard<std::mutex> lock(mu_);
        next_ += 4;
        UsbHandle h = reinterpret_cast<UsbHandle>(next_);
        map_.emplace(next_, std::move(dev));
        return h;
    }
    std::shared_ptr<OpenDevice> Find(UsbHandle h) {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = map_.find(reinterpret_cast<uintptr_t>(h));
        return it == map_.end() ? nullptr : it->second;
    }
    bool Remove(UsbHandle h) {
        std::shared_ptr<OpenDevice> dev;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = map_.find(reinterpret_cast<uintptr_t>(h));
            if (it == map_.end())
                return false;
            dev = std::move(it->second);
            map_.erase(it);
        }
        return true;  // dev closes here, outside the lock, unless a transaction still holds it
    }

  private:
    std::mutex mu_;
    uintptr_t next_ = 0x1000;
    std::unordered_map<uintptr_t, std::shared_ptr<OpenDevice>> map_;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Request reports: the whole payload in chunks of L - 13 bytes.
int32_t WritePhase(OpenDevice& dev, UsbHandle handle, uint32_t cmd, const uint8_t* payload,
                   uint32_t payloadLen, uint32_t writeTimeoutSec) {
    const int L = dev.reportLength;
    ProgramLog().Log(
        2, nullptr, " (F=%s L=%d) handle=%p, cmd=%d,cmdLen=%d, OutputReportByteLength=%d",
        "WriteThread", __LINE__, handle, static_cast<int>(cmd), static_cast<int>(payloadLen), L);
    auto deadline = Clock::now() + std::chrono::seconds(writeTimeoutSec);
    std::vector<uint8_t> report(static_cast<size_t>(L), 0);
    PutU32(&report[1], kFrameMagic);
    PutU32(&report[5], cmd);
    const uint32_t room = static_cast<uint32_t>(L - kRequestHeaderEnd);
    uint32_t sent = 0;
    do {
        // Each report has the time that is left, but a slow device that takes
        // every report in time could still stretch a many-report request far
        // past the limit (and hid_write cannot be bounded at all).
        if (sent > 0 && Clock::now() >= deadline)
            return kUsbTimeout;
        uint32_t chunk = std::min(payloadLen - sent, room);
        PutU16(&report[9], static_cast<uint16_t>(chunk));
        PutU16(&report[11], sent + chunk == payloadLen ? 1 : 0);
        if (chunk)
            std::memcpy(&report[kRequestHeaderEnd], payload + sent, chunk);
        int rc = dev.io->Write(report.data(), report.size(), RemainingMs(deadline));
        if (rc == IHidDevice::kTimeout)
            return kUsbTimeout;
        if (rc < 0)
            return kUsbWriteFailed;
        sent += chunk;
    } while (sent < payloadLen);
    return 0;
}

// Answer reports until the one flagged last.
int32_t ReadPhase(OpenDevice& dev, uint8_t* answer, uint32_t answerSize, uint32_t* answerLen) {
    const int L = dev.reportLength;
    auto deadline = Clock::now() + std::chrono::milliseconds(kReadPhaseMs);
    std::vector<uint8_t> report(static_cast<size_t>(L), 0);
    uint32_t received = 0;
    bool overflow = false;
    int32_t code = 0;
    if (answerLen)
        *answerLen = 0;
    for (bool first = true;; first = false) {
        // A device that keeps sending reports never flagged last cannot hold
        // the caller past the answer's limit.
        if (!first && Clock::now() >= deadline)
            return kUsbTimeout;
        int n = dev.io->Read(report.data(), report.size(), RemainingMs(deadline));
        if (n == IHidDevice::kTimeout)
            return kUsbTimeout;
        if (n < kAnswerHeaderEnd || GetU32(&report[1]) != kFrameMagic)
            return kUsbBadAnswer;
        uint32_t chunk = GetU16(&report[9]);
        if (chunk > static_cast<uint32_t>(n - kAnswerHeaderEnd))
            return kUsbBadAnswer;
        bool last = GetU16(&report[11]) == 1;
        code = static_cast<int32_t>(GetU32(&report[13]));
        if (chunk > 0 && answer) {
            // Once a chunk has been dropped the rest is dropped too: the buffer
            // never holds an answer with a hole in it.
            if (overflow || static_cast<uint64_t>(received) + chunk + 1 > answerSize) {
                overflow = true;  // keep reading the rest of the answer
            } else {
                std::memcpy(answer + received, &report[kAnswerHeaderEnd], chunk);
                received += chunk;
                answer[received] = 0;
                if (answerLen)
                    *answerLen = received;
            }
        }
        if (last)
            break;
    }
    return overflow ? kUsbAnswerTooLarge : code;
}

// Reports still queued from an answer that was abandoned (bad frame, time-out)
// would otherwise be taken for the start of the next answer.
void DrainStaleReports(OpenDevice& dev) {
    std::vector<uint8_t> report(static_cast<size_t>(dev.reportLength));
    for (int i = 0; i < 4096; ++i) {
        if (dev.io->Read(report.data(), report.size(), 0) <= 0)
            break;
    }
}

// After a bad report the rest of that answer may still be on its way: it is
// taken off the link until the device has been quiet for a moment (or the
// answer's time is up), so it cannot be read as the next command's answer.
void DiscardAbandonedAnswer(OpenDevice& dev) {
    constexpr int kQuietMs = 30;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReadPhaseMs);
    std::vector<uint8_t> report(static_cast<size_t>(dev.reportLength));
    while (Clock::now() < deadline) {
        if (dev.io->Read(report.data(), report.size(), kQuietMs) <= 0)
            break;
    }
}

void CopyJsonText(const cJSON* root, const char* key, char* field, size_t size) {
    const cJSON* item = cJSON_GetObjectItem(root, key);
    if (cJSON_IsString(item) && item->valuestring)
        CutText(item->valuestring, field, size, true);
}

}  // namespace

CUSBDevice::CUSBDevice(std::shared_ptr<IHidBackend> backend)
    : backend_(backend ? std::move(backend) : MakeDefaultHidBackend()) {}

CUSBDevice::~CUSBDevice() {
    CloseDevices();
}

int CUSBDevice::SetVendorIds(int count, const uint16_t* ids) {
    vendorIds_[0] = kDefaultVendorId;
    vendorIdCount_ = 1;
    for (int i = 0; ids && i < count && vendorIdCount_ < kMaxVendorIds; ++i)
        vendorIds_[vendorIdCount_++] = ids[i];
    return 1;
}

int CUSBDevice::DeviceOpen() {
    if (!backend_)
        return 0;
    int appended = 0;
    denied_.clear();
    for (const HidDeviceDesc& desc : backend_->Enumerate()) {
        bool accepted = false;
        for (int i = 0; i < vendorIdCount_; ++i)
            accepted = accepted || vendorIds_[i] == desc.vendorId;
        if (!accepted)
            continue;
        // A report must hold the request header and at least one payload byte.
        if (desc.outputReportLength <= kRequestHeaderEnd) {
            ProgramLog().Log(2, nullptr, " (F=%s L=%d) skipped %s: OutputReportByteLength=%d",
                             "CUSBDevice::DeviceOpen", __LINE__, desc.path.c_str(),
                             desc.outputReportLength);
            continue;
        }
        auto dev = std::make_shared<OpenDevice>();
        dev->io = backend_->Open(desc);
        if (!dev->io) {
            const bool denied = backend_->AccessDenied(desc);
            if (denied)
                denied_.push_back(desc.path);
            ProgramLog().Log(2, nullptr, " (F=%s L=%d) skipped %s: %s", "CUSBDevice::DeviceOpen",
                             __LINE__, desc.path.c_str(),
                             denied ? "permission denied" : "in use elsewhere or gone");
            continue;
        }
        dev->reportLength = desc.outputReportLength;
        UsbHandle h = Handles().Add(dev);
        ProgramLog().Log(
            2, nullptr,
            " (F=%s L=%d) [%d]:handle=%p, vid=0x%x, pid=0x%x, OutputReportByteLength=%d",
            "CUSBDevice::DeviceOpen", __LINE__, appended, h, desc.vendorId, desc.productId,
            dev->reportLength);
        UsbDeviceEntry entry;
        entry.handle = h;
        table_.push_back(entry);
        ++appended;
    }
    return appended;
}

int CUSBDevice::RefreshDevices() {
    CloseDevices();
    int count = DeviceOpen();
    if (count == 0)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(refreshSettleMs));
    for (UsbDeviceEntry& entry : table_) {
        UsbDeviceInfo info;
        std::memset(&info, 0, sizeof info);
        if (GetDeviceInfo(entry.handle, &info) != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(identityRetryMs));
            continue;
        }
        char converted[64];
        int capacity = sizeof converted;
        if (Utf8ToAnsi(info.name, converted, &capacity))
            CutText(converted, entry.name, sizeof entry.name, AnsiIsUtf8());
        CutText(info.model, entry.model, sizeof entry.model, true);
        CutText(info.serial, entry.serial, sizeof entry.serial, true);
        CutText(info.buildDate, entry.buildDate, sizeof entry.buildDate, true);
        CutText(info.biosVersion, entry.biosVersion, sizeof entry.biosVersion, true);
    }
    return count;
}

int CUSBDevice::CloseDevices() {
    for (const UsbDeviceEntry& entry : table_) Handles().Remove(entry.handle);
    table_.clear();
    return 0;
}

int CUSBDevice::CloseDeviceHandle(UsbHandle handle) {
    return Handles().Remove(handle) ? 0 : kUsbInvalidHandle;
}

int CUSBDevice::DropHandle(UsbHandle handle) {
    if (handle == nullptr || handle == kInvalidUsbHandle)
        return 0;
    CloseDeviceHandle(handle);
    int marked = 0;
    for (UsbDeviceEntry& entry : table_) {
        if (entry.handle == handle) {
            entry.handle = kInvalidUsbHandle;
            ++marked;
        }
    }
    return marked;
}

int CUSBDevice::GetDeviceInfo(UsbHandle handle, UsbDeviceInfo* info) {
    char answer[1024] = {};
    int32_t rc = Transact(handle, kCmdGetDeviceInfo, nullptr, 0, answer, sizeof answer, nullptr, 5);
    if (rc != 0)
        return rc;
    cJSON* root = cJSON_Parse(answer);
    if (!root)
        return kUsbBadAnswer;
    if (info) {
        CopyJsonText(root, "DeviceName", info->name, sizeof info->name);
        CopyJsonText(root, "ProductModel", info->model, sizeof info->model);
        CopyJsonText(root, "Serial", info->serial, sizeof info->serial);
        CopyJsonText(root, "BuildDate", info->buildDate, sizeof info->buildDate);
        const cJSON* bios = cJSON_GetObjectItem(root, "BiosVersion");
        if (cJSON_IsNumber(bios)) {
            // cJSON's valueint is the number saturated to int: no undefined
            // conversion for huge or non-finite values.
            unsigned v = static_cast<unsigned>(bios->valueint) & 0xFFFFu;
            std::snprintf(info->biosVersion, sizeof info->biosVersion, "%x.%02x", v >> 8,
                          v & 0xFFu);
        }
    }
    cJSON_Delete(root);
    return 0;
}

int32_t CUSBDevice::Transact(UsbHandle handle, uint32_t cmd, const void* payload,
                             uint32_t payloadLen, void* answer, uint32_t answerSize,
                             uint32_t* answerLen, uint32_t writeTimeoutSec) {
    if (handle == kInvalidUsbHandle || handle == nullptr)
        return kUsbInvalidHandle;
    std::shared_ptr<OpenDevice> dev = Handles().Find(handle);
    if (!dev)
        return kUsbInvalidHandle;
    if (!payload)
        payloadLen = 0;
    DrainStaleReports(*dev);
    // The request's own outcome is not reported: whatever it gave, the answer decides.
    WritePhase(*dev, handle, cmd, static_cast<const uint8_t*>(payload), payloadLen,
               writeTimeoutSec);
    const int32_t rc =
        ReadPhase(*dev, static_cast<uint8_t*>(answer), answer ? answerSize : 0, answerLen);
    if (rc == kUsbBadAnswer)
        DiscardAbandonedAnswer(*dev);
    return rc;
}

int CUSBDevice::ReportLength(UsbHandle handle) {
    std::shared_ptr<OpenDevice> dev = Handles().Find(handle);
    return dev ? dev->reportLength : 0;
}

}  // namespace strevo
