// Real cameras through hidapi (hidraw on Linux).
#include <cstring>
#include <mutex>
#include <vector>

#include "HidBackend.h"
#include "HidPlatform.h"
#include "HidapiDevice.h"
#include "KLogLibrary.h"

namespace strevo {
namespace {

class HidapiDevice final : public IHidDevice {
  public:
    HidapiDevice(hid_device* dev, std::function<void()> release)
        : dev_(dev), release_(std::move(release)) {}
    ~HidapiDevice() override {
        hid_close(dev_);
        if (release_)
            release_();
    }

    // hidapi takes the report id as the first byte and drops it for devices
    // without numbered reports, as the frames expect. hid_write has no time
    // limit of its own (the kernel gives up on one report after a few
    // seconds); the transport checks its limit between reports.
    int Write(const uint8_t* report, size_t length, int) override {
        int n = hid_write(dev_, report, length);
        return n < 0 ? kFailed : n;
    }

    // Reports of devices without numbered reports arrive without the id byte;
    // put a 0 in front so every report starts with its id.
    int Read(uint8_t* buffer, size_t length, int timeoutMs) override {
        if (length < 2)
            return kFailed;
        buffer[0] = 0;
        int n = hid_read_timeout(dev_, buffer + 1, length - 1, timeoutMs);
        if (n < 0)
            return kFailed;
        if (n == 0)
            return kTimeout;
        return n + 1;
    }

  private:
    hid_device* dev_;
    std::function<void()> release_;
};

class HidapiBackend final : public IHidBackend {
  public:
    std::vector<HidDeviceDesc> Enumerate() override {
        // At the first enumeration rather than at construction, when the program's
        // log is set up: a failed start leaves every list empty, so say why, once.
        static std::once_flag once;
        std::call_once(once, [] {
            if (hid_init() != 0)
                ProgramLog().Log(2, nullptr,
                                 " (F=%s L=%d) hid_init failed: no USB camera can be listed",
                                 "HidapiBackend", __LINE__);
        });
        std::vector<HidDeviceDesc> out;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* d = list; d; d = d->next) {
            if (!d->path)
                continue;
            HidDeviceDesc desc;
            desc.path = d->path;
            desc.vendorId = d->vendor_id;
            desc.productId = d->product_id;
            desc.outputReportLength = PlatformOutputReportLength(d->path);
            out.push_back(desc);
        }
        hid_free_enumeration(list);
        return out;
    }

    std::unique_ptr<IHidDevice> Open(const HidDeviceDesc& desc) override {
        return PlatformOpenHidDevice(desc.path.c_str());
    }

    bool AccessDenied(const HidDeviceDesc& desc) override {
        return PlatformAccessDenied(desc.path.c_str());
    }
};

}  // namespace

std::unique_ptr<IHidDevice> WrapHidapiDevice(hid_device* dev, std::function<void()> release) {
    if (!dev)
        return nullptr;
    return std::make_unique<HidapiDevice>(dev, std::move(release));
}

std::shared_ptr<IHidBackend> MakeHidapiBackend() {
    return std::make_shared<HidapiBackend>();
}

}  // namespace strevo
