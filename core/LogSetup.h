// Program log set-up from toolscfg.ini.
#pragma once

#include <string>

#include "SettingsLocation.h"

class KLogLibrary;

namespace strevo {

// LOG/Level: only its first character counts; a non-digit gives 0; default 5.
unsigned ReadLogLevel(const std::string& configPath);

// Module directory + "APP_LOG" + separator.
std::string LogDirectory(const std::string& moduleDir);

// Directory and prefix "log", file channel at level 1 (every record of level 1
// or more is kept), console channel at the configured level, 100 KiB files.
void SetUpLogging(KLogLibrary& log, const std::string& moduleDir, const std::string& configPath);
// The same with the level from where.configPath and the files in where.logDir.
void SetUpLogging(KLogLibrary& log, const SettingsLocation& where);

}  // namespace strevo
