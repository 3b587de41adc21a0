#include <windows.h>

#include "ModulePath.h"

namespace strevo {

std::string ProgramPath() {
    char buf[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return std::string(buf, n);
}

}  // namespace strevo
