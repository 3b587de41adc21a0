// The small interface between the USB transport and whatever carries HID
// reports: hidapi for real cameras, the camsim link (STREVO_HID_SIM) for
// simulated ones, or an in-process device in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace strevo {

struct HidDeviceDesc {
    std::string path;  // backend-specific, used to open the device
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int outputReportLength = 0;  // bytes, including the leading report id
};

// One open device. Reads and writes move whole reports (report id first).
class IHidDevice {
  public:
    virtual ~IHidDevice() = default;
    // Writes one report. Returns the byte count written, kTimeout when the
    // write did not finish within timeoutMs, or kFailed.
    virtual int Write(const uint8_t* report, size_t length, int timeoutMs) = 0;
    // Reads one report into buffer. Returns the byte count read, kTimeout when
    // nothing arrived within timeoutMs, or kFailed (device gone, link broken).
    virtual int Read(uint8_t* buffer, size_t length, int timeoutMs) = 0;

    static constexpr int kTimeout = -2;
    static constexpr int kFailed = -1;
};

class IHidBackend {
  public:
    virtual ~IHidBackend() = default;
    virtual std::vector<HidDeviceDesc> Enumerate() = 0;
    // Exclusive open where the platform allows. Null when the device cannot be opened.
    virtual std::unique_ptr<IHidDevice> Open(const HidDeviceDesc& desc) = 0;
    // Whether a device that Open refused is there but this user may not open
    // it (so the operator can be told why a camera is missing).
    virtual bool AccessDenied(const HidDeviceDesc&) { return false; }
};

// hidapi, or the camsim link when STREVO_HID_SIM=HOST:PORT is set.
std::shared_ptr<IHidBackend> MakeDefaultHidBackend();
std::shared_ptr<IHidBackend> MakeHidapiBackend();
// Splits a camsim link endpoint "HOST:PORT" (HOST a 127.x.x.x address or
// "localhost", which becomes 127.0.0.1). False for anything else.
bool ParseSimEndpoint(const std::string& endpoint, std::string* host, int* port);
// Null when the endpoint is not a loopback HOST:PORT.
std::shared_ptr<IHidBackend> MakeSimHidBackend(const std::string& endpoint);

}  // namespace strevo
