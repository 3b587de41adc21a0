// The HID stack reports the output report length itself. Devices are opened
// here rather than through hidapi, which always opens them shared.
#include <windows.h>
// After windows.h, whose base types it needs. The HID headers declare C
// functions without saying so to C++.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

#include "HidPlatform.h"

namespace strevo {
namespace {

// Report lengths from the HID capabilities; 0 when h is not a HID device.
void ReportLengths(HANDLE h, int* input, int* output) {
    *input = *output = 0;
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(h, &data))
        return;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS) {
        *input = caps.InputReportByteLength;
        *output = caps.OutputReportByteLength;
    }
    HidD_FreePreparsedData(data);
}

// Overlapped reads and writes, so each one can be given up after its time limit.
class WinHidDevice final : public IHidDevice {
  public:
    WinHidDevice(HANDLE h, HANDLE event) : h_(h), event_(event) {
        ReportLengths(h_, &inputLength_, &outputLength_);
    }
    ~WinHidDevice() override {
        CancelIo(h_);
        CloseHandle(h_);
        CloseHandle(event_);
    }

    int Write(const uint8_t* report, size_t length, int timeoutMs) override {
        // The HID stack takes exactly one output report.
        std::vector<uint8_t> out(std::max(length, static_cast<size_t>(outputLength_)), 0);
        std::memcpy(out.data(), report, length);
        int n = Transfer(false, out.data(), out.size(), timeoutMs);
        return n < 0 ? n : static_cast<int>(std::min(static_cast<size_t>(n), length));
    }

    // Reads into a buffer of the device's input report length (it may differ
    // from the caller's) and hands over what fits.
    int Read(uint8_t* buffer, size_t length, int timeoutMs) override {
        std::vector<uint8_t> in(std::max(length, static_cast<size_t>(inputLength_)), 0);
        int n = Transfer(true, in.data(), in.size(), timeoutMs);
        if (n < 0)
            return n;
        if (n == 0)
            return kFailed;
        size_t copied = std::min(static_cast<size_t>(n), length);
        std::memcpy(buffer, in.data(), copied);
        return static_cast<int>(copied);
    }

  private:
    int Transfer(bool read, uint8_t* data, size_t size, int timeoutMs) {
        OVERLAPPED ov{};
        ov.hEvent = event_;
        ResetEvent(event_);
        DWORD done = 0;
        BOOL ok = read ? ReadFile(h_, data, static_cast<DWORD>(size), nullptr, &ov)
                       : WriteFile(h_, data, static_cast<DWORD>(size), nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING)
            return kFailed;
        DWORD wait = WaitForSingleObject(event_, static_cast<DWORD>(std::max(timeoutMs, 0)));
        if (wait != WAIT_OBJECT_0) {
            CancelIoEx(h_, &ov);
            // The buffer is in use until the cancelled transfer has ended; one
            // that completed just before the cancel still counts.
            if (GetOverlappedResult(h_, &ov, &done, TRUE))
                return static_cast<int>(done);
            return wait == WAIT_TIMEOUT ? kTimeout : kFailed;
        }
        if (!GetOverlappedResult(h_, &ov, &done, FALSE))
            return kFailed;
        return static_cast<int>(done);
    }

    HANDLE h_;
    HANDLE event_;
    int inputLength_ = 0;
    int outputLength_ = 0;
};

}  // namespace

int PlatformOutputReportLength(const char* hidapiPath) {
    if (!hidapiPath)
        return 0;
    // Attributes only: no read or write access needed, so devices opened elsewhere answer too.
    HANDLE h = CreateFileA(hidapiPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int input = 0, output = 0;
    ReportLengths(h, &input, &output);
    CloseHandle(h);
    return output;
}

// Windows hands HID devices to every user; a refused open means another
// program has the camera.
bool PlatformAccessDenied(const char*) {
    return false;
}

std::unique_ptr<IHidDevice> PlatformOpenHidDevice(const char* hidapiPath) {
    if (!hidapiPath)
        return nullptr;
    // No sharing: while it is open here, every other open of the device fails.
    HANDLE h = CreateFileA(hidapiPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<WinHidDevice>(h, event);
}

}  // namespace strevo
