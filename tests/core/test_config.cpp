#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "IniStore.h"
#include "LogSetup.h"
#include "ModulePath.h"
#include "Permissions.h"
#include "ToolConfig.h"

using namespace strevo;
namespace fs = std::filesystem;

namespace {

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/strevo-test-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

ToolSettings Zeroed() {
    ToolSettings s;
    std::memset(&s, 0, sizeof s);
    return s;
}

}  // namespace

TEST(IniStore, LookupRules) {
    TempDir dir;
    std::string f = dir.File("a.ini");
    WriteFile(f,
              "; comment\r\n[win_size]\r\n  width = 800 \r\nWIDTH=1\r\n[Other]\r\nWidth=5\r\n"
              "[WIN_SIZE]\r\nHeight=600\r\n[q]\r\nname=\"quoted value\"\r\nempty=\r\n");
    // Names match without regard to case; the first section and the first key win.
    EXPECT_EQ(IniGetInt("WIN_SIZE", "Width", -1, f.c_str()), 800);
    EXPECT_EQ(IniGetInt("WIN_SIZE", "Height", -1, f.c_str()), -1);
    EXPECT_EQ(IniGetInt("other", "width", -1, f.c_str()), 5);
    char buf[32];
    EXPECT_EQ(IniGetString("Q", "NAME", "", buf, sizeof buf, f.c_str()), 12u);
    EXPECT_STREQ(buf, "quoted value");
    // Cut to the buffer: two bytes hold one character.
    char one[2];
    IniGetString("Q", "name", "", one, sizeof one, f.c_str());
    EXPECT_STREQ(one, "q");
    // Absent key or file: the default; an empty value reads as empty, and as the default for
    // integers.
    IniGetString("Q", "missing", "dflt", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "dflt");
    IniGetString("Q", "empty", "dflt", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(IniGetInt("Q", "empty", 7, f.c_str()), 7);
    EXPECT_EQ(IniGetInt("Q", "x", 9, dir.File("none.ini").c_str()), 9);
}

TEST(IniStore, IntegerReader) {
    TempDir dir;
    std::string f = dir.File("i.ini");
    WriteFile(f, "[s]\na=12abc\nb=-40\nc=0x1A\nd=abc\ne= +7\nf=4294967295\n");
    EXPECT_EQ(IniGetInt("s", "a", -1, f.c_str()), 12);
    EXPECT_EQ(IniGetInt("s", "b", 0, f.c_str()), -40);
    EXPECT_EQ(IniGetInt("s", "c", 0, f.c_str()), 26);
    EXPECT_EQ(IniGetInt("s", "d", 5, f.c_str()), 0);
    EXPECT_EQ(IniGetInt("s", "e", 0, f.c_str()), 7);
    EXPECT_EQ(IniGetInt("s", "f", 0, f.c_str()), -1);
}

TEST(IniStore, WriterKeepsEverythingElse) {
    TempDir dir;
    std::string f = dir.File("w.ini");
    // Creates the file and the section.
    ASSERT_TRUE(IniWriteString("WIN_SIZE", "Width", "640", f.c_str()));
    EXPECT_EQ(ReadFile(f), "[WIN_SIZE]\nWidth=640\n");

    WriteFile(f,
              "; keep me\r\n[VID]\r\nSRC1=0x1234\r\n\r\n[win_size]\r\nwidth=1\r\n; "
              "note\r\n\r\n[LOG]\r\nLevel=3\r\n");
    ASSERT_TRUE(IniWriteString("WIN_SIZE", "Width", "800", f.c_str()));
    ASSERT_TRUE(IniWriteString("WIN_SIZE", "Height", "600", f.c_str()));
    ASSERT_TRUE(IniWriteString("SEARCH_MODE", "Mode", "1", f.c_str()));
    EXPECT_EQ(ReadFile(f),
              "; keep me\r\n[VID]\r\nSRC1=0x1234\r\n\r\n[win_size]\r\nWidth=800\r\n; note\r\n"
              "Height=600\r\n\r\n[LOG]\r\nLevel=3\r\n[SEARCH_MODE]\r\nMode=1\r\n");
    // An unwritable place is reported.
    EXPECT_FALSE(IniWriteString("A", "b", "c", dir.File("no/such/dir.ini").c_str()));
}

TEST(IniStore, WriterKeepsLinksPermissionsAndSavesInLockedFolders) {
    TempDir dir;
    fs::create_directory(dir.File("real"));
    // A link to the settings stays a link; the file it names gets the value.
    WriteFile(dir.File("real/toolscfg.ini"), "[LOG]\nLevel=3\n");
    fs::create_symlink("real/toolscfg.ini", dir.File("toolscfg.ini"));
    ASSERT_TRUE(IniWriteString("WIN_SIZE", "Width", "800", dir.File("toolscfg.ini").c_str()));
    EXPECT_TRUE(fs::is_symlink(dir.File("toolscfg.ini")));
    EXPECT_EQ(ReadFile(dir.File("real/toolscfg.ini")), "[LOG]\nLevel=3\n[WIN_SIZE]\nWidth=800\n");
    // One whose file does not exist yet creates it.
    fs::create_symlink(dir.File("real/later.ini"), dir.File("later.ini"));
    ASSERT_TRUE(IniWriteString("A", "b", "1", dir.File("later.ini").c_str()));
    EXPECT_TRUE(fs::is_symlink(dir.File("later.ini")));
    EXPECT_EQ(ReadFile(dir.File("real/later.ini")), "[A]\nb=1\n");

    // The file keeps its permissions.
    std::string f = dir.File("private.ini");
    WriteFile(f, "[A]\nb=1\n");
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);
    ASSERT_TRUE(IniWriteString("A", "b", "2", f.c_str()));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // No temporary is left behind.
    for (const char* folder : {"", "real"})
        for (const auto& e : fs::directory_iterator(dir.File(folder)))
            EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();

    // A folder the operator may not write to, holding a file he may: saved in
    // place. A file he may not write to is left as it was.
    ASSERT_EQ(chmod(dir.File("").c_str(), 0711), 0);
    std::string locked = dir.File("locked");
    fs::create_directory(locked);
    EXPECT_TRUE(InChildBoundByPermissions(locked, [&] {
        std::string cfg = locked + "/toolscfg.ini", ro = locked + "/readonly.ini";
        const std::string before = "[VID]\nSRC1=0x1234\n[WIN_SIZE]\nWidth=1024\nHeight=768\n";
        WriteFile(cfg, before);
        WriteFile(ro, "[A]\nb=1\n");
        if (chmod(ro.c_str(), 0444) != 0 || chmod(locked.c_str(), 0555) != 0)
            return false;
        bool saved = IniWriteString("WIN_SIZE", "Width", "80", cfg.c_str()) &&
                     ReadFile(cfg) == "[VID]\nSRC1=0x1234\n[WIN_SIZE]\nWidth=80\nHeight=768\n";
        bool refused = !IniWriteString("A", "b", "2", ro.c_str()) && ReadFile(ro) == "[A]\nb=1\n";
        chmod(locked.c_str(), 0755);
        return saved && refused;
    }));
}

TEST(ToolConfig, LoadValuesAndDefaults) {
    TempDir dir;
    std::string f = dir.File("toolscfg.ini");
    ToolConfig cfg(f);

    // No file: false, record untouched.
    ToolSettings s = Zeroed();
    s.width = 123;
    EXPECT_FALSE(cfg.Load(s));
    EXPECT_EQ(s.width, 123);

    // Only LOG: opened and read with defaults.
    WriteFile(f, "[LOG]\nLevel=3\n");
    s = Zeroed();
    ASSERT_TRUE(cfg.Load(s));
    EXPECT_EQ(s.width, -1);
    EXPECT_EQ(s.height, -1);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.vendorIdCount, 0);

    // A gap ends the list: SRC3 is never read. Prefix and case do not matter;
    // a value without hex digits gives 0 and still counts.
    WriteFile(f, "[VID]\nSRC1=0xAbC1\nSRC3=1234\n[SEARCH_MODE]\nMode=2\n");
    s = Zeroed();
    ASSERT_TRUE(cfg.Load(s));
    EXPECT_EQ(s.vendorIdCount, 1);
    EXPECT_EQ(s.vendorIds[0], 0xabc1);
    EXPECT_EQ(s.mode, 2);
    WriteFile(f, "[VID]\nSRC1=abc1\nSRC2=0XABC1\nSRC3=xyz\nSRC4=12345\n");
    s = Zeroed();
    ASSERT_TRUE(cfg.Load(s));
    ASSERT_EQ(s.vendorIdCount, 4);
    EXPECT_EQ(s.vendorIds[0], 0xabc1);
    EXPECT_EQ(s.vendorIds[1], 0xabc1);
    EXPECT_EQ(s.vendorIds[2], 0);
    EXPECT_EQ(s.vendorIds[3], 0x2345);  // low 16 bits
}

TEST(ToolConfig, VendorListStopsAtTheRecordsSlots) {
    TempDir dir;
    std::string f = dir.File("toolscfg.ini");
    std::string text = "[VID]\n";
    for (int n = 1; n <= 14; ++n)
        text += "SRC" + std::to_string(n) + "=" + std::to_string(n) + "\n";
    WriteFile(f, text);
    struct {
        ToolSettings s;
        uint32_t guard = 0xA5A5A5A5;
    } padded;
    std::memset(&padded.s, 0, sizeof padded.s);
    ASSERT_TRUE(ToolConfig(f).Load(padded.s));
    EXPECT_EQ(padded.s.vendorIdCount, 10);
    EXPECT_EQ(padded.s.vendorIds[9], 0x10);
    EXPECT_EQ(padded.guard, 0xA5A5A5A5u);
}

TEST(ToolConfig, SaveKeepsOtherSectionsAndModeRoundTrips) {
    TempDir dir;
    std::string f = dir.File("toolscfg.ini");
    WriteFile(f, "[VID]\nSRC1=0x1234\n[SEARCH_MODE]\nMode=2\n[LOG]\nLevel=4\n");
    ToolConfig cfg(f);
    ToolSettings s = Zeroed();
    ASSERT_TRUE(cfg.Load(s));
    s.width = 1024;
    s.height = 700;
    ASSERT_TRUE(cfg.Save(s));
    ToolSettings back = Zeroed();
    ASSERT_TRUE(cfg.Load(back));
    EXPECT_EQ(back.mode, 2);  // written back as it was read
    EXPECT_EQ(back.width, 1024);
    EXPECT_EQ(back.height, 700);
    EXPECT_EQ(back.vendorIdCount, 1);
    EXPECT_EQ(ReadLogLevel(f), 4u);

    // Save creates a missing file.
    ToolConfig fresh(dir.File("new.ini"));
    EXPECT_TRUE(fresh.Save(s));
    EXPECT_TRUE(fresh.Load(back));
}

TEST(LogSetup, LevelTakesOneCharacter) {
    TempDir dir;
    std::string f = dir.File("toolscfg.ini");
    EXPECT_EQ(ReadLogLevel(f), 5u);  // no file
    WriteFile(f, "[VID]\nSRC1=1\n");
    EXPECT_EQ(ReadLogLevel(f), 5u);  // no LOG section
    WriteFile(f, "[LOG]\nLevel=12\n");
    EXPECT_EQ(ReadLogLevel(f), 1u);
    WriteFile(f, "[log]\nlevel=x\n");
    EXPECT_EQ(ReadLogLevel(f), 0u);
}

TEST(ModulePath, DirectoryOfProgram) {
    EXPECT_EQ(ModuleDirectoryOf("/opt/strevo/bin/strevo"), "/opt/strevo/bin/");
    EXPECT_EQ(ModuleDirectoryOf("strevo"), "./");
    EXPECT_EQ(ModuleDirectoryOf("/strevo"), "/");
    // Longer than 259 characters: refused, never cut into another folder's name.
    EXPECT_EQ(ModuleDirectoryOf("/" + std::string(257, 'a') + "/x").size(), 259u);
    EXPECT_EQ(ModuleDirectoryOf("/" + std::string(258, 'a') + "/x"), "");
    // The limit counts characters, not bytes: 259 Chinese characters (777
    // bytes) are accepted, 260 are not; a stray byte is one character.
    std::string zh257;
    for (int i = 0; i < 257; ++i) zh257 += "固";
    EXPECT_EQ(ModuleDirectoryOf("/" + zh257 + "/x"), "/" + zh257 + "/");
    EXPECT_EQ(ModuleDirectoryOf("/" + zh257 + "件/x"), "");
    EXPECT_EQ(ModuleDirectoryOf("/" + std::string(257, '\xE5') + "/x").size(), 259u);
    std::string self = ModuleDirectory();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(self.back(), '/');
    EXPECT_TRUE(fs::exists(self + "core_config_tests"));
    EXPECT_EQ(LogDirectory("/opt/x/"), "/opt/x/APP_LOG/");
    EXPECT_EQ(ToolConfig().Path(), self + "toolscfg.ini");
}
