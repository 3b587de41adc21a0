// What a parameter page writes through. The main window sends to the selected
// USB camera, the image parameter dialog to its network login; a page does not
// know which one it has.
#pragma once

#include <cstdint>

namespace strevo {

class IParamHost {
  public:
    virtual ~IParamHost() = default;
    // Writes one or more "key":value items; negative on failure (the command
    // layer has already told the operator).
    virtual int32_t SetVideoParamItem(const char* items) = 0;
    // The camera's focus near limit, or a negative code.
    virtual int32_t GetFocusNear() = 0;
};

}  // namespace strevo
