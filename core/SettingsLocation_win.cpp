#include <windows.h>

#include <cstdlib>

#include "SettingsLocation.h"

namespace strevo {

// The folder's access rights are not what decides a write on Windows (virtual
// store, inherited rights), so the answer is a real try.
bool FolderWritable(const std::string& dir) {
    if (dir.empty())
        return false;
    char probe[MAX_PATH + 16];
    if (GetTempFileNameA(dir.c_str(), "stv", 0, probe) == 0)
        return false;
    DeleteFileA(probe);
    return true;
}

bool RunningAsRoot() {
    return false;  // an administrator still has a profile of its own
}

std::string HomeFolder() {
    const char* profile = std::getenv("USERPROFILE");
    return profile ? profile : "";
}

}  // namespace strevo
