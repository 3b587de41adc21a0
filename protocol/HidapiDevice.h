// A device opened through hidapi, for the platform files that open it.
#pragma once

#include <hidapi/hidapi.h>

#include <functional>
#include <memory>

#include "HidBackend.h"

namespace strevo {

// Takes over dev (closed with the device); release runs after it is closed.
std::unique_ptr<IHidDevice> WrapHidapiDevice(hid_device* dev, std::function<void()> release = {});

}  // namespace strevo
