// USB cameras: enumeration by vendor id, the table of open devices with their
// identity texts, and FDTH-framed request/answer transactions over HID reports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "HidBackend.h"

namespace strevo {

struct VideoParam;

// A USB camera's identity everywhere in the program. 0 means none; the invalid
// value (all bits set) marks a closed row.
using UsbHandle = void*;
inline UsbHandle const kInvalidUsbHandle = reinterpret_cast<UsbHandle>(~static_cast<uintptr_t>(0));

// Transport result codes.
enum : int32_t {
    kUsbWriteFailed = -40,
    kUsbTimeout = -302,
    kUsbInvalidHandle = -304,
    kUsbAnswerTooLarge = -307,
    kUsbWaitFailed = -308,
    kUsbBadAnswer = -310,
};

constexpr uint16_t kDefaultVendorId = 0x1703;
constexpr int kMaxVendorIds = 10;

// USB command codes.
constexpr uint32_t kCmdGetVideoParam = 40001089;
constexpr uint32_t kCmdSetVideoParam = 40001090;
constexpr uint32_t kCmdSetDefaultParam = 40001093;
constexpr uint32_t kCmdGetFocusNear = 40001119;
constexpr uint32_t kCmdPtzCtrl = 40001006;
constexpr uint32_t kCmdGetDeviceInfo = 40001117;

// Frame layout.
constexpr uint32_t kFrameMagic = 0x48544446;  // "FDTH" little-endian
constexpr int kRequestHeaderEnd = 13;         // report id + 12-byte header
constexpr int kAnswerHeaderEnd = 17;          // report id + 16-byte header

struct UsbDeviceEntry {
    UsbHandle handle = nullptr;
    char name[32] = {};
    char model[32] = {};
    char serial[32] = {};
    char buildDate[16] = {};
    char biosVersion[8] = {};
};

struct UsbDeviceInfo {
    char name[33];
    char model[33];
    char serial[33];
    char buildDate[16];
    char biosVersion[8];
};

class CUSBDevice {
  public:
    // Uses the given backend, or the default one (hidapi or STREVO_HID_SIM).
    explicit CUSBDevice(std::shared_ptr<IHidBackend> backend = nullptr);
    ~CUSBDevice();
    CUSBDevice(const CUSBDevice&) = delete;
    CUSBDevice& operator=(const CUSBDevice&) = delete;

    int SetVendorIds(int count, const uint16_t* ids);
    int DeviceOpen();
    int RefreshDevices();
    int CloseDevices();
    int GetDeviceInfo(UsbHandle handle, UsbDeviceInfo* info);

    // Closes one open handle wherever it is held (a camera that restarts
    // makes its handle useless); later transactions on it give
    // kUsbInvalidHandle. 0, or kUsbInvalidHandle when it was not open.
    static int CloseDeviceHandle(UsbHandle handle);
    // Marks the table's rows that hold a handle closed elsewhere as closed
    // (the invalid value) and closes it if it is still open. Returns the
    // number of rows marked.
    int DropHandle(UsbHandle handle);

    // One request/answer transaction; callable from any thread. Transactions on
    // one device must not overlap. writeTimeoutSec bounds the request, the
    // answer has 5 s.
    static int32_t Transact(UsbHandle handle, uint32_t cmd, const void* payload,
                            uint32_t payloadLen, void* answer, uint32_t answerSize,
                            uint32_t* answerLen, uint32_t writeTimeoutSec);

    // Camera command set over USB (JSON texts, see VideoParam.h).
    int32_t GetVideoParam(UsbHandle handle, VideoParam* param);
    int32_t SetVideoParam(UsbHandle handle, const VideoParam* param);
    // The same write without the operator's message on failure (callable from
    // any thread; the caller reports the code).
    static int32_t SendVideoParam(UsbHandle handle, const VideoParam* param);
    int32_t SetVideoParamItem(UsbHandle handle, const char* items);
    int32_t GetFocusNear(UsbHandle handle);
    int32_t SetDefaultParam(UsbHandle handle);

    // Table access.
    int GetCount() const { return static_cast<int>(table_.size()); }
    const UsbDeviceEntry& GetEntry(int index) const {
        return table_.at(static_cast<size_t>(index));
    }
    const std::vector<UsbDeviceEntry>& Entries() const { return table_; }
    // Nodes of accepted devices that the last DeviceOpen could not open for
    // lack of permission.
    const std::vector<std::string>& DeniedPaths() const { return denied_; }
    int GetVendorIdCount() const { return vendorIdCount_; }
    const uint16_t* GetVendorIds() const { return vendorIds_; }

    // Output report length of an open device (0 when the handle is not open).
    static int ReportLength(UsbHandle handle);

    // Waits of the refresh; tests shorten them.
    int refreshSettleMs = 500;
    int identityRetryMs = 100;

  private:
    std::shared_ptr<IHidBackend> backend_;
    int vendorIdCount_ = 1;
    uint16_t vendorIds_[kMaxVendorIds] = {kDefaultVendorId};
    std::vector<UsbDeviceEntry> table_;
    std::vector<std::string> denied_;
};

}  // namespace strevo
