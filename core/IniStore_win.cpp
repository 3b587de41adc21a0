// The system's private-profile functions.
#include <windows.h>

#include "IniStore.h"

namespace strevo {

uint32_t IniGetString(const char* section, const char* key, const char* def, char* buf,
                      uint32_t size, const char* file) {
    return GetPrivateProfileStringA(section, key, def, buf, size, file);
}

int32_t IniGetInt(const char* section, const char* key, int32_t def, const char* file) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, def, file));
}

bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

}  // namespace strevo
