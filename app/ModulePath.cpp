#include "ModulePath.h"

namespace strevo {

std::string ModuleDirectoryOf(const std::string& programPath) {
    size_t pos = programPath.find_last_of(kPathSeparator);
    if (pos == std::string::npos) return std::string(".") + kPathSeparator;
    std::string dir = programPath.substr(0, pos + 1);
    if (dir.size() > 259) dir.resize(259);
    return dir;
}

std::string ModuleDirectory() { return ModuleDirectoryOf(ProgramPath()); }

}  // namespace strevo
