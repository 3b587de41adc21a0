#include <cstdio>
#include <cstdlib>

#include "HidBackend.h"

namespace strevo {
namespace {

// Finds nothing: used when STREVO_HID_SIM is set but unusable, so a typo
// never silently falls through to real devices.
class NoDevices final : public IHidBackend {
  public:
    std::vector<HidDeviceDesc> Enumerate() override { return {}; }
    std::unique_ptr<IHidDevice> Open(const HidDeviceDesc&) override { return nullptr; }
};

}  // namespace

#if defined(_WIN32)
std::shared_ptr<IHidBackend> MakeSimHidBackend(const std::string&) {
    return nullptr;
}
#endif

std::shared_ptr<IHidBackend> MakeDefaultHidBackend() {
    const char* sim = std::getenv("STREVO_HID_SIM");
    if (!sim || !*sim)
        return MakeHidapiBackend();
    if (auto backend = MakeSimHidBackend(sim))
        return backend;
    std::fprintf(stderr, "STREVO_HID_SIM=%s is not a loopback HOST:PORT; no USB devices\n", sim);
    return std::make_shared<NoDevices>();
}

}  // namespace strevo
