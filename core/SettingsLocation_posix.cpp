#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "SettingsLocation.h"

namespace strevo {

bool FolderWritable(const std::string& dir) {
    return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0;
}

bool RunningAsRoot() {
    return geteuid() == 0;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    const passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

}  // namespace strevo
