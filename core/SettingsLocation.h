// Where toolscfg.ini and the program log are kept. A program in a folder of
// its own (Windows, the build folder, an unpacked copy) keeps them beside
// itself; an installed one keeps them in the user's folders, since it cannot
// (and, run by root, must not) write beside itself.
#pragma once

#include <string>

namespace strevo {

struct SettingsLocation {
    std::string configPath;  // toolscfg.ini
    std::string logDir;      // ends with the separator
    bool installed = false;  // false: beside the program
};

// Everything the decision looks at, gathered by CurrentSettingsFacts.
struct SettingsFacts {
    std::string moduleDir;      // the program's folder, ending with the separator
    std::string installBinDir;  // the install prefix's bin folder recorded at build time
    bool configBesideProgram = false;
    bool moduleDirWritable = true;
    bool runningAsRoot = false;
    // POSIX: the XDG variables (empty when unset) and the home folder.
    std::string xdgConfigHome;
    std::string xdgStateHome;
    std::string home;
    // Windows: %LOCALAPPDATA%.
    std::string localAppData;
};

// The files beside a folder of the program's own: toolscfg.ini and APP_LOG.
SettingsLocation SettingsBeside(const std::string& moduleDir);

// The one rule. A toolscfg.ini beside the program always wins (portable use).
// Otherwise the program counts as installed when its folder is the recorded
// bin folder, when the user cannot write it, or when root runs it from under
// /usr (root can write anywhere, so writability tells nothing then). Installed:
//   POSIX   $XDG_CONFIG_HOME/strevo/toolscfg.ini (default ~/.config) and
//           $XDG_STATE_HOME/strevo/APP_LOG/ (default ~/.local/state);
//   Windows %LOCALAPPDATA%\Strevo\toolscfg.ini and ...\Strevo\APP_LOG\.
// Relative XDG values are ignored, as the XDG rules say. With no home folder
// to go to, the files stay beside the program.
SettingsLocation DecideSettingsLocation(const SettingsFacts& facts);

// The facts of this process for a program in moduleDir.
SettingsFacts CurrentSettingsFacts(const std::string& moduleDir);

// DecideSettingsLocation(CurrentSettingsFacts(moduleDir)).
SettingsLocation ProgramSettingsLocation(const std::string& moduleDir);

// Creates the folders of an installed location (the INI writer does not);
// false when one cannot be made.
bool MakeSettingsFolders(const SettingsLocation& where);

// Platform parts.
bool FolderWritable(const std::string& dir);
bool RunningAsRoot();
std::string HomeFolder();  // empty when unknown

}  // namespace strevo
