#include <windows.h>

#include "ModulePath.h"

namespace strevo {

std::string ProgramPath() {
    // Room for long paths, so one past MAX_PATH is seen whole (and refused)
    // rather than silently cut.
    std::string buf(32768, '\0');
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    buf.resize(n < buf.size() ? n : 0);
    return buf;
}

}  // namespace strevo
