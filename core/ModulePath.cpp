#include "ModulePath.h"

#include "TextConv.h"

namespace strevo {

std::string ModuleDirectoryOf(const std::string& programPath) {
    size_t pos = programPath.find_last_of(kPathSeparator);
    if (pos == std::string::npos)
        return std::string(".") + kPathSeparator;
    std::string dir = programPath.substr(0, pos + 1);
    if (PathLength(dir) > kMaxModuleDirectory)
        return {};
    return dir;
}

const char* const kModuleDirectoryTooLong =
    "程序所在文件夹的路径超过 259 个字符，无法读写配置文件 toolscfg.ini 和日志。"
    "请将程序移到路径较短的文件夹后再运行。";

std::string ModuleDirectory() {
    return ModuleDirectoryOf(ProgramPath());
}

}  // namespace strevo
