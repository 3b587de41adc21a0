// The program built without ONVIF: no ONVIF cameras, and a scanner that never
// finds any.
#include "Camera.h"
#include "OnvifScanner.h"

namespace strevo {

std::unique_ptr<ICamera> MakeOnvifCamera(const std::string&, const Credentials&) {
    return nullptr;
}

OnvifScanner::OnvifScanner(std::function<void()> onProbed)
    : OnvifScanner(Options{}, std::move(onProbed)) {}
OnvifScanner::OnvifScanner(Options options, std::function<void()> onProbed)
    : options_(std::move(options)), onProbed_(std::move(onProbed)) {}
OnvifScanner::~OnvifScanner() = default;
void OnvifScanner::Start() {}
void OnvifScanner::Probe() {}
std::vector<FoundOnvifCamera> OnvifScanner::Cameras() const {
    return {};
}
int OnvifScanner::ProbesDone() const {
    return 0;
}

}  // namespace strevo
