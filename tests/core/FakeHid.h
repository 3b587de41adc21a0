// An in-process HID device for transport tests: records the reports written
// to it and plays back scripted answer reports.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "CUSBDevice.h"
#include "HidBackend.h"

struct FakeState {
    std::mutex mu;
    std::vector<std::vector<uint8_t>> written;
    std::deque<std::vector<uint8_t>> answers;  // scripted; released when a request is complete
    std::deque<std::vector<uint8_t>> ready;    // what reads return
    bool blockWrites = false;                  // writes never finish (until their time limit)
    int writeDelayMs =
        0;  // every report takes this long whatever its time limit, as hid_write does
    bool failReads = false;
    std::vector<uint8_t> flood;  // when set, every read returns this report
    int opened = 0;
};

class FakeDevice final : public strevo::IHidDevice {
  public:
    explicit FakeDevice(std::shared_ptr<FakeState> s) : s_(std::move(s)) {}
    int Write(const uint8_t* report, size_t length, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(s_->mu);
        if (s_->blockWrites) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return kTimeout;
        }
        if (s_->writeDelayMs > 0) {
            int delay = s_->writeDelayMs;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            lock.lock();
        }
        s_->written.emplace_back(report, report + length);
        if (length > 12 && report[11] == 1) {  // last chunk of a request: the device answers
            for (auto& a : s_->answers) s_->ready.push_back(std::move(a));
            s_->answers.clear();
        }
        return static_cast<int>(length);
    }
    int Read(uint8_t* buffer, size_t length, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(s_->mu);
        if (s_->failReads)
            return kFailed;
        if (s_->ready.empty()) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return kTimeout;
        }
        auto a = std::move(s_->ready.front());
        s_->ready.pop_front();
        size_t n = std::min(length, a.size());
        std::memcpy(buffer, a.data(), n);
        return static_cast<int>(n);
    }

  private:
    std::shared_ptr<FakeState> s_;
};

class FakeBackend final : public strevo::IHidBackend {
  public:
    struct Dev {
        strevo::HidDeviceDesc desc;
        std::shared_ptr<FakeState> state = std::make_shared<FakeState>();
    };
    std::vector<Dev> devices;
    std::vector<std::string> denied;  // paths this user may not open

    std::shared_ptr<FakeState> Add(uint16_t vid, int reportLen, uint16_t pid = 1) {
        Dev d;
        d.desc.path = "fake" + std::to_string(devices.size());
        d.desc.vendorId = vid;
        d.desc.productId = pid;
        d.desc.outputReportLength = reportLen;
        devices.push_back(d);
        return d.state;
    }
    std::vector<strevo::HidDeviceDesc> Enumerate() override {
        std::vector<strevo::HidDeviceDesc> out;
        for (auto& d : devices) out.push_back(d.desc);
        return out;
    }
    std::unique_ptr<strevo::IHidDevice> Open(const strevo::HidDeviceDesc& desc) override {
        if (AccessDenied(desc))
            return nullptr;
        for (auto& d : devices) {
            if (d.desc.path != desc.path)
                continue;
            ++d.state->opened;
            return std::make_unique<FakeDevice>(d.state);
        }
        return nullptr;
    }
    bool AccessDenied(const strevo::HidDeviceDesc& desc) override {
        return std::find(denied.begin(), denied.end(), desc.path) != denied.end();
    }
};

// One answer report of length L.
inline std::vector<uint8_t> AnswerFrame(int L, const std::string& chunk, bool last, int32_t result,
                                        uint32_t magic = strevo::kFrameMagic, int chunkField = -1) {
    std::vector<uint8_t> f(static_cast<size_t>(L), 0);
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            f[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(1, magic, 4);
    put(9, static_cast<uint32_t>(chunkField >= 0 ? chunkField : static_cast<int>(chunk.size())), 2);
    put(11, last ? 1 : 0, 2);
    put(13, static_cast<uint32_t>(result), 4);
    std::memcpy(&f[17], chunk.data(), std::min(chunk.size(), f.size() - 17));
    return f;
}
