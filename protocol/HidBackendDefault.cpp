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

bool ParseSimEndpoint(const std::string& endpoint, std::string* host, int* port) {
    size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string h = endpoint.substr(0, colon);
    if (h == "localhost")
        h = "127.0.0.1";
    char* end = nullptr;
    long p = std::strtol(endpoint.c_str() + colon + 1, &end, 10);
    if (colon + 1 == endpoint.size() || *end || p <= 0 || p > 65535)
        return false;
    // Four decimal parts of at most 255, the first 127: loopback only.
    int parts[4];
    char tail = 0;
    if (std::sscanf(h.c_str(), "%3d.%3d.%3d.%3d%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &tail) != 4 ||
        parts[0] != 127)
        return false;
    for (int v : parts) {
        if (v < 0 || v > 255)
            return false;
    }
    *host = h;
    *port = static_cast<int>(p);
    return true;
}

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
