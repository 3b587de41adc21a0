// The program built without ONVIF: no ONVIF cameras.
#include "Camera.h"

namespace strevo {

std::unique_ptr<ICamera> MakeOnvifCamera(const std::string&, const Credentials&) {
    return nullptr;
}

}  // namespace strevo
