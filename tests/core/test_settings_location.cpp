#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "SettingsLocation.h"

using namespace strevo;
namespace fs = std::filesystem;

namespace {

// A program in the build folder of a user with the XDG variables unset.
SettingsFacts BuildFolder() {
    SettingsFacts f;
    f.moduleDir = "/home/op/strevo/build/app/";
    f.installBinDir = "/usr/bin";
    f.home = "/home/op";
    return f;
}

SettingsFacts InstalledBin() {
    SettingsFacts f = BuildFolder();
    f.moduleDir = "/usr/bin/";
    f.moduleDirWritable = false;
    return f;
}

const SettingsLocation kBesideBuild{"/home/op/strevo/build/app/toolscfg.ini",
                                    "/home/op/strevo/build/app/APP_LOG/", false};
const SettingsLocation kUserDefaults{"/home/op/.config/strevo/toolscfg.ini",
                                     "/home/op/.local/state/strevo/APP_LOG/", true};

void ExpectAt(const SettingsLocation& got, const SettingsLocation& want) {
    EXPECT_EQ(got.configPath, want.configPath);
    EXPECT_EQ(got.logDir, want.logDir);
    EXPECT_EQ(got.installed, want.installed);
}

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(SettingsLocation, WhatCountsAsInstalled) {
    // A folder of its own keeps everything beside the program, whatever the
    // XDG variables say.
    SettingsFacts f = BuildFolder();
    f.xdgConfigHome = "/elsewhere/config";
    ExpectAt(DecideSettingsLocation(f), kBesideBuild);

    // The recorded bin folder, however its trailing separator is written,
    // even when the user may write it.
    for (const char* bin : {"/usr/bin", "/usr/bin/"}) {
        f = InstalledBin();
        f.installBinDir = bin;
        f.moduleDirWritable = true;
        ExpectAt(DecideSettingsLocation(f), kUserDefaults);
    }
    // A prefix of the bin folder is another folder.
    f = BuildFolder();
    f.moduleDir = "/usr/bin2/";
    EXPECT_FALSE(DecideSettingsLocation(f).installed);

    // Any folder the user cannot write.
    f = BuildFolder();
    f.moduleDirWritable = false;
    ExpectAt(DecideSettingsLocation(f), kUserDefaults);

    // Root can write everywhere: the installed program (and anything else
    // under /usr) still writes to root's own folders, a build folder stays
    // portable.
    f = BuildFolder();
    f.runningAsRoot = true;
    f.home = "/root";
    EXPECT_FALSE(DecideSettingsLocation(f).installed);
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/"}) {
        f.moduleDir = dir;
        const SettingsLocation where = DecideSettingsLocation(f);
        EXPECT_EQ(where.configPath, "/root/.config/strevo/toolscfg.ini") << dir;
        EXPECT_EQ(where.logDir, "/root/.local/state/strevo/APP_LOG/") << dir;
    }
}

TEST(SettingsLocation, FileBesideTheProgramAlwaysWins) {
    for (int c = 0; c < 3; ++c) {
        SettingsFacts f = InstalledBin();
        f.configBesideProgram = true;
        f.runningAsRoot = c == 1;
        f.moduleDirWritable = c == 2;
        const SettingsLocation where = DecideSettingsLocation(f);
        EXPECT_EQ(where.configPath, "/usr/bin/toolscfg.ini");
        EXPECT_EQ(where.logDir, "/usr/bin/APP_LOG/");
        EXPECT_FALSE(where.installed);
    }
}

TEST(SettingsLocation, XdgVariablesAndHome) {
    SettingsFacts f = InstalledBin();
    f.xdgConfigHome = "/x/cfg/";
    f.xdgStateHome = "/x/state";
    ExpectAt(DecideSettingsLocation(f),
             {"/x/cfg/strevo/toolscfg.ini", "/x/state/strevo/APP_LOG/", true});

    // Relative values are not to be used; each falls back on its own.
    f.xdgConfigHome = "cfg";
    ExpectAt(DecideSettingsLocation(f),
             {"/home/op/.config/strevo/toolscfg.ini", "/x/state/strevo/APP_LOG/", true});
    f.xdgStateHome = "";
    ExpectAt(DecideSettingsLocation(f), kUserDefaults);

    // No home folder to go to: beside the program rather than somewhere odd.
    f.home = "";
    EXPECT_FALSE(DecideSettingsLocation(f).installed);
    f.xdgConfigHome = "/x/cfg";
    EXPECT_FALSE(DecideSettingsLocation(f).installed);  // the log still has nowhere
    f.xdgStateHome = "/x/state";
    EXPECT_TRUE(DecideSettingsLocation(f).installed);
}

// The facts of a real folder and environment, and the folders made for them.
TEST(SettingsLocation, ThisProcessAndItsFolders) {
    char tmpl[] = "/tmp/strevo-where-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const fs::path program = root / "bin";
    fs::create_directories(program);
    const std::string programDir = program.string() + "/";
    ScopedEnv config("XDG_CONFIG_HOME", (root / "cfg").c_str());
    ScopedEnv state("XDG_STATE_HOME", (root / "state").c_str());

    SettingsFacts f = CurrentSettingsFacts(program.string());
    EXPECT_EQ(f.moduleDir, programDir);
    EXPECT_FALSE(f.configBesideProgram);
    EXPECT_TRUE(f.moduleDirWritable);
    EXPECT_EQ(f.runningAsRoot, geteuid() == 0);
    EXPECT_EQ(f.xdgConfigHome, (root / "cfg").string());
    EXPECT_FALSE(f.home.empty());
    EXPECT_FALSE(ProgramSettingsLocation(programDir).installed);

    // Made unwritable, the folder counts as installed (root writes anyway).
    chmod(program.c_str(), 0555);
    if (geteuid() != 0) {
        const SettingsLocation where = ProgramSettingsLocation(programDir);
        EXPECT_TRUE(where.installed);
        EXPECT_EQ(where.configPath, (root / "cfg/strevo/toolscfg.ini").string());
        EXPECT_TRUE(MakeSettingsFolders(where));
        EXPECT_TRUE(fs::is_directory(root / "cfg/strevo"));
        EXPECT_TRUE(fs::is_directory(root / "state/strevo/APP_LOG"));
    }
    chmod(program.c_str(), 0755);

    // A settings file beside the program is found.
    std::ofstream(program / "toolscfg.ini") << "[LOG]\nLevel=3\n";
    EXPECT_TRUE(CurrentSettingsFacts(programDir).configBesideProgram);
    EXPECT_EQ(ProgramSettingsLocation(programDir).configPath, programDir + "toolscfg.ini");

    // The folders of an installed location are made, nested ones included.
    const SettingsLocation made{(root / "a/b/strevo/toolscfg.ini").string(),
                                (root / "c/strevo/APP_LOG/").string(), true};
    EXPECT_TRUE(MakeSettingsFolders(made));
    EXPECT_TRUE(fs::is_directory(root / "a/b/strevo"));
    EXPECT_TRUE(fs::is_directory(root / "c/strevo/APP_LOG"));
    // One that cannot be made (a file stands in the way) is reported.
    std::ofstream(root / "file") << "x";
    EXPECT_FALSE(MakeSettingsFolders(
        {(root / "file/strevo/toolscfg.ini").string(), (root / "state2/").string(), true}));
    fs::remove_all(root);
}
