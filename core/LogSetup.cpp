#include "LogSetup.h"

#include <cstdlib>

#include "IniStore.h"
#include "KLogLibrary.h"
#include "ModulePath.h"

namespace strevo {

unsigned ReadLogLevel(const std::string& configPath) {
    char level[2] = {};  // room for one character
    IniGetString("LOG", "Level", "5", level, sizeof level, configPath.c_str());
    return static_cast<unsigned>(std::atoi(level));
}

std::string LogDirectory(const std::string& moduleDir) {
    return moduleDir + "APP_LOG" + kPathSeparator;
}

void SetUpLogging(KLogLibrary& log, const std::string& moduleDir, const std::string& configPath) {
    SetUpLogging(log, SettingsLocation{configPath, LogDirectory(moduleDir), false});
}

void SetUpLogging(KLogLibrary& log, const SettingsLocation& where) {
    unsigned level = ReadLogLevel(where.configPath);
    log.SetLogDir(where.logDir.c_str(), "log");
    log.SetLogLevel(2, level);
    log.SetLogLevel(1, 1);
    log.SetLogSize(1, 100);
}

}  // namespace strevo
