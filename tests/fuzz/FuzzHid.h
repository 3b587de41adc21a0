// An in-process HID device for the USB harnesses: it records the reports
// written to it and answers each complete request with the next scripted batch
// of reads. Nothing waits: a read with nothing queued times out at once.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CUSBDevice.h"
#include "HidBackend.h"

namespace fuzz {

struct ScriptedRead {
    enum Kind { kReport, kTimeout, kFailed } kind = kReport;
    std::string bytes;
};
using Batch = std::vector<ScriptedRead>;

struct HidScript {
    std::deque<Batch> batches;  // one per complete request, in order
    bool repeat = false;        // every request gets the first batch again
    int failWrite = -1;         // index of a write that fails
    std::deque<ScriptedRead> ready;
    std::vector<std::string> written;
};

class ScriptedDevice final : public strevo::IHidDevice {
  public:
    explicit ScriptedDevice(std::shared_ptr<HidScript> s) : s_(std::move(s)) {}
    int Write(const uint8_t* report, size_t length, int) override {
        int index = static_cast<int>(s_->written.size());
        s_->written.emplace_back(reinterpret_cast<const char*>(report), length);
        if (index == s_->failWrite)
            return kFailed;
        // The report flagged last completes the request: its answer becomes readable.
        if (length > 12 && report[11] == 1 && report[12] == 0 && !s_->batches.empty()) {
            for (const auto& r : s_->batches.front()) s_->ready.push_back(r);
            if (!s_->repeat)
                s_->batches.pop_front();
        }
        return static_cast<int>(length);
    }
    int Read(uint8_t* buffer, size_t length, int) override {
        if (s_->ready.empty())
            return kTimeout;
        ScriptedRead r = std::move(s_->ready.front());
        s_->ready.pop_front();
        if (r.kind == ScriptedRead::kTimeout)
            return kTimeout;
        if (r.kind == ScriptedRead::kFailed)
            return kFailed;
        size_t n = std::min(length, r.bytes.size());
        std::memcpy(buffer, r.bytes.data(), n);
        return static_cast<int>(n);
    }

  private:
    std::shared_ptr<HidScript> s_;
};

class ScriptedBackend final : public strevo::IHidBackend {
  public:
    struct Entry {
        strevo::HidDeviceDesc desc;
        std::shared_ptr<HidScript> script = std::make_shared<HidScript>();
    };
    std::vector<Entry> devices;

    std::shared_ptr<HidScript> Add(int reportLength, uint16_t vendorId = strevo::kDefaultVendorId) {
        Entry e;
        e.desc.path = "fuzz" + std::to_string(devices.size());
        e.desc.vendorId = vendorId;
        e.desc.productId = 1;
        e.desc.outputReportLength = reportLength;
        devices.push_back(e);
        return e.script;
    }
    std::vector<strevo::HidDeviceDesc> Enumerate() override {
        std::vector<strevo::HidDeviceDesc> out;
        for (const auto& e : devices) out.push_back(e.desc);
        return out;
    }
    std::unique_ptr<strevo::IHidDevice> Open(const strevo::HidDeviceDesc& desc) override {
        for (const auto& e : devices)
            if (e.desc.path == desc.path)
                return std::make_unique<ScriptedDevice>(e.script);
        return nullptr;
    }
};

inline uint32_t GetLe(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

inline void PutLe(std::string& s, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A report as the camsim link carries it: its 16-bit length, then the report.
inline std::string Prefixed(const std::string& report) {
    std::string m(2, '\0');
    PutLe(m, 0, static_cast<uint32_t>(report.size()), 2);
    return m + report;
}

// One answer report of length L (chunk cut to what the report holds).
inline std::string AnswerReport(size_t L, std::string_view chunk, bool last, int32_t result,
                                uint32_t cmd = 0) {
    std::string f(std::max<size_t>(L, 17), '\0');
    size_t n = std::min(chunk.size(), f.size() - 17);
    PutLe(f, 1, strevo::kFrameMagic, 4);
    PutLe(f, 5, cmd, 4);
    PutLe(f, 9, static_cast<uint32_t>(n), 2);
    PutLe(f, 11, last ? 1 : 0, 2);
    PutLe(f, 13, static_cast<uint32_t>(result), 4);
    std::memcpy(&f[17], chunk.data(), n);
    return f;
}

// A whole answer as a device sends it: chunks of L - 17 bytes, the last flagged.
inline Batch AnswerReports(size_t L, std::string_view text, int32_t result, uint32_t cmd = 0) {
    Batch out;
    size_t room = std::max<size_t>(L, 18) - 17;
    size_t sent = 0;
    do {
        size_t n = std::min(text.size() - sent, room);
        out.push_back({ScriptedRead::kReport, AnswerReport(L, text.substr(sent, n),
                                                           sent + n == text.size(), result, cmd)});
        sent += n;
    } while (sent < text.size());
    return out;
}

}  // namespace fuzz
