#include "SettingsLocation.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "LogSetup.h"
#include "ModulePath.h"

#ifndef STREVO_INSTALL_BINDIR
#define STREVO_INSTALL_BINDIR ""
#endif

namespace strevo {
namespace {

constexpr char kConfigName[] = "toolscfg.ini";

std::string WithSeparator(std::string dir) {
    if (!dir.empty() && dir.back() != '/' && dir.back() != kPathSeparator)
        dir += kPathSeparator;
    return dir;
}

// The same folder however its separators and trailing separator are written
// (CMake records paths with '/', Windows hands them out with '\').
bool SameFolder(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return false;
    auto norm = [](std::string s) {
        for (char& c : s) {
            if (c == '\\')
                c = '/';
#if defined(_WIN32)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));  // one folder
#endif
        }
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return s;
    };
    return norm(a) == norm(b);
}

bool Absolute(const std::string& path) {
#if defined(_WIN32)
    return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
#else
    return !path.empty() && path[0] == '/';
#endif
}

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool UnderUsr(const std::string& dir) {
    return dir.rfind("/usr/", 0) == 0;
}

}  // namespace

SettingsLocation SettingsBeside(const std::string& moduleDir) {
    const std::string dir = WithSeparator(moduleDir);
    return {dir + kConfigName, LogDirectory(dir), false};
}

SettingsLocation DecideSettingsLocation(const SettingsFacts& f) {
    if (f.configBesideProgram)
        return SettingsBeside(f.moduleDir);
    const bool installed = SameFolder(f.moduleDir, f.installBinDir) || !f.moduleDirWritable ||
                           (f.runningAsRoot && UnderUsr(f.moduleDir));
    if (!installed)
        return SettingsBeside(f.moduleDir);
#if defined(_WIN32)
    if (!Absolute(f.localAppData))
        return SettingsBeside(f.moduleDir);
    const std::string base = WithSeparator(f.localAppData) + "Strevo\\";
    return {base + kConfigName, LogDirectory(base), true};
#else
    const std::string home = Absolute(f.home) ? WithSeparator(f.home) : "";
    const std::string config = Absolute(f.xdgConfigHome) ? WithSeparator(f.xdgConfigHome)
                               : home.empty()            ? ""
                                                         : home + ".config/";
    const std::string state = Absolute(f.xdgStateHome) ? WithSeparator(f.xdgStateHome)
                              : home.empty()           ? ""
                                                       : home + ".local/state/";
    if (config.empty() || state.empty())
        return SettingsBeside(f.moduleDir);
    return {config + "strevo/" + kConfigName, LogDirectory(state + "strevo/"), true};
#endif
}

SettingsFacts CurrentSettingsFacts(const std::string& moduleDir) {
    SettingsFacts f;
    f.moduleDir = WithSeparator(moduleDir);
    f.installBinDir = STREVO_INSTALL_BINDIR;
    std::error_code ec;
    f.configBesideProgram = std::filesystem::is_regular_file(f.moduleDir + kConfigName, ec);
    f.moduleDirWritable = FolderWritable(f.moduleDir);
    f.runningAsRoot = RunningAsRoot();
    f.xdgConfigHome = EnvText("XDG_CONFIG_HOME");
    f.xdgStateHome = EnvText("XDG_STATE_HOME");
    f.home = HomeFolder();
    f.localAppData = EnvText("LOCALAPPDATA");
    return f;
}

SettingsLocation ProgramSettingsLocation(const std::string& moduleDir) {
    return DecideSettingsLocation(CurrentSettingsFacts(moduleDir));
}

bool MakeSettingsFolders(const SettingsLocation& where) {
    if (!where.installed)
        return true;  // the program's own folder is there already
    namespace fs = std::filesystem;
    std::error_code ec;
    bool ok = true;
    for (const fs::path& dir : {fs::path(where.configPath).parent_path(), fs::path(where.logDir)}) {
        fs::create_directories(dir, ec);
        ok = ok && fs::is_directory(dir, ec);
    }
    return ok;
}

}  // namespace strevo
