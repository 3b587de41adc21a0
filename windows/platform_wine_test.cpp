// The program's Windows platform layer on the system's own functions: text
// conversion through the code pages, the INI store on the private-profile
// functions (and the settings file on top of it), the module path, the TCP
// probe, the HID report length and the log files. Each must keep the contract
// its header states, which the POSIX versions are tested against natively.
#include <winsock2.h>
// after winsock2.h, or windows.h brings in the old winsock.h
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "HidPlatform.h"
#include "IniStore.h"
#include "KLogLibrary.h"
#include "LogSetup.h"
#include "ModulePath.h"
#include "NetProbe.h"
#include "TextConv.h"
#include "ToolConfig.h"
#include "WinCheck.h"

using namespace strevo;

namespace {

// A fresh folder under the user's temporary folder, removed at the end.
class TempDir {
  public:
    TempDir() {
        char name[64];
        std::snprintf(name, sizeof name, "strevo-win-%lu-%lu", GetCurrentProcessId(),
                      GetTickCount());
        path_ = (std::filesystem::temp_directory_path() / name).string();
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const char* name) const { return path_ + '\\' + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const char* text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TextConversion() {
    const char* name = "演播室 1";  // 3 characters of 2 bytes each in GBK
    char out[16];
    int cap = sizeof out;
    CHECK(Utf8ToAnsi(name, out, &cap, "GBK") == out);
    CHECK(cap == 8 + 1 + 1);
    CHECK(std::strcmp(out, "\xD1\xDD\xB2\xA5\xCA\xD2 1") == 0);

    // Exactly the size is refused and the buffer left alone.
    char small[9];
    std::memset(small, 'z', sizeof small);
    cap = sizeof small;
    CHECK(Utf8ToAnsi(name, small, &cap, "GBK") == nullptr);
    CHECK(cap == 10);
    CHECK(small[0] == 'z');

    char back[32];
    cap = sizeof back;
    CHECK(AnsiToUtf8(out, back, &cap, "GBK") == back);
    CHECK(std::strcmp(back, name) == 0);

    // One '?' per character the target cannot hold, also beyond the 16-bit range.
    cap = sizeof out;
    CHECK(Utf8ToAnsi("a\xF0\x9F\x98\x80"
                     "b",
                     out, &cap, "GBK") == out);
    CHECK(std::strcmp(out, "a?b") == 0);
    cap = sizeof out;
    CHECK(Utf8ToAnsi("x\xFFy", out, &cap, "GBK") == out);
    CHECK(std::strcmp(out, "x?y") == 0);
    cap = sizeof out;
    CHECK(Utf8ToAnsi("abc", out, &cap, "NO-SUCH-CODESET") == nullptr);
    CHECK(cap == 0);

    // No name: the system's ANSI code page, as the USB device table uses it.
    cap = sizeof out;
    CHECK(Utf8ToAnsi("Cam 2", out, &cap) == out);
    CHECK(std::strcmp(out, "Cam 2") == 0);
    cap = sizeof back;
    CHECK(AnsiToUtf8(out, back, &cap) == back);
    CHECK(std::strcmp(back, "Cam 2") == 0);
}

void IniStore(const TempDir& dir) {
    std::string f = dir.File("a.ini");
    const char* file = f.c_str();
    WriteFile(f,
              "; comment\r\n[win_size]\r\n  width = 800 \r\n[q]\r\nname=\"quoted value\"\r\n"
              "empty=\r\n[s]\r\na=12abc\r\nb=-40\r\nc=0x1A\r\nd=abc\r\n");
    CHECK(IniGetInt("WIN_SIZE", "Width", -1, file) == 800);
    char buf[32];
    CHECK(IniGetString("Q", "NAME", "", buf, sizeof buf, file) == 12u);
    CHECK(std::strcmp(buf, "quoted value") == 0);
    char one[2];
    CHECK(IniGetString("q", "name", "", one, sizeof one, file) == 1u);
    CHECK(std::strcmp(one, "q") == 0);
    IniGetString("q", "missing", "dflt", buf, sizeof buf, file);
    CHECK(std::strcmp(buf, "dflt") == 0);
    IniGetString("q", "empty", "dflt", buf, sizeof buf, file);
    CHECK(buf[0] == '\0');
    CHECK(IniGetInt("q", "empty", 7, file) == 7);
    CHECK(IniGetInt("q", "x", 9, dir.File("none.ini").c_str()) == 9);
    CHECK(IniGetInt("s", "a", -1, file) == 12);
    CHECK(IniGetInt("s", "b", 0, file) == -40);
    CHECK(IniGetInt("s", "c", 0, file) == 26);
    CHECK(IniGetInt("s", "d", 5, file) == 0);

    // The writer changes its line and keeps every other one.
    CHECK(IniWriteString("WIN_SIZE", "Width", "1024", file));
    CHECK(IniWriteString("SEARCH_MODE", "Mode", "1", file));
    std::string text = ReadFile(f);
    CHECK(text.find("; comment\r\n") == 0);
    CHECK(text.find("name=\"quoted value\"\r\n") != std::string::npos);
    CHECK(IniGetInt("win_size", "width", -1, file) == 1024);
    CHECK(IniGetInt("SEARCH_MODE", "Mode", -1, file) == 1);
    CHECK(!IniWriteString("A", "b", "c", dir.File("no\\such\\dir.ini").c_str()));
}

void Settings(const TempDir& dir) {
    std::string f = dir.File("toolscfg.ini");
    ToolConfig cfg(f);
    ToolSettings s{};
    s.width = 123;
    CHECK(!cfg.Load(s));  // no file: untouched
    CHECK(s.width == 123);

    WriteFile(f, "[VID]\r\nSRC1=0xAbC1\r\nSRC2=1234\r\nSRC4=1\r\n[LOG]\r\nLevel=3\r\n");
    s = ToolSettings{};
    CHECK(cfg.Load(s));
    CHECK(s.width == -1 && s.height == -1 && s.mode == 0);
    CHECK(s.vendorIdCount == 2);
    CHECK(s.vendorIds[0] == 0xABC1 && s.vendorIds[1] == 0x1234);
    CHECK(ReadLogLevel(f) == 3u);

    s.width = 1280;
    s.height = 720;
    s.mode = 1;
    CHECK(cfg.Save(s));
    ToolSettings back{};
    CHECK(cfg.Load(back));
    CHECK(back.width == 1280 && back.height == 720 && back.mode == 1);
    CHECK(back.vendorIdCount == 2);
}

void ModulePath() {
    std::string path = ProgramPath();
    std::string dir = ModuleDirectory();
    std::printf("program: %s\n", path.c_str());
    const char* exe = "platform_wine_test.exe";
    CHECK(path.size() > std::strlen(exe) &&
          _stricmp(path.c_str() + path.size() - std::strlen(exe), exe) == 0);
    CHECK(!dir.empty() && dir.back() == '\\');
    CHECK(path.compare(0, dir.size(), dir) == 0);
}

void TcpProbe() {
    WSADATA data;
    CHECK(WSAStartup(MAKEWORD(2, 2), &data) == 0);  // the discovery library's job in the program
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    bool listening = listener != INVALID_SOCKET &&
                     bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                     listen(listener, 4) == 0 &&
                     getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    if (!CHECK(listening))
        return;
    int port = ntohs(addr.sin_port);
    CHECK(ProbeTcpPort("127.0.0.1", port, 2) == 1);
    closesocket(listener);
    // Refused is an answer: it must not wait out the time limit.
    DWORD start = GetTickCount();
    CHECK(ProbeTcpPort("127.0.0.1", port, 30) == -1);
    CHECK(GetTickCount() - start < 15000);
    CHECK(ProbeTcpPort("127.0.0.300", port, 2) == -1);
    CHECK(ProbeTcpPort(nullptr, port, 2) == -1);
    CHECK(ProbeTcpPort("127.0.0.1", 0, 2) == -1);
}

void HidReportLength() {
    CHECK(PlatformOutputReportLength(nullptr) == 0);
    CHECK(PlatformOutputReportLength("\\\\?\\hid#no_such_device#0") == 0);
}

// A plain file stands in for a device: the open without sharing and the
// overlapped reads and writes behave the same on both.
void HidExclusiveOpen(const TempDir& dir) {
    std::string f = dir.File("device");
    WriteFile(f, "");
    auto first = PlatformOpenHidDevice(f.c_str());
    if (!CHECK(first))
        return;
    CHECK(!PlatformOpenHidDevice(f.c_str()));  // held here: nobody else gets it
    uint8_t report[65];
    for (int i = 0; i < 65; ++i) report[i] = static_cast<uint8_t>(i * 3);
    CHECK(first->Write(report, sizeof report, 1000) == 65);
    uint8_t back[65] = {};
    CHECK(first->Read(back, sizeof back, 1000) == 65);
    CHECK(std::memcmp(report, back, sizeof back) == 0);
    first.reset();
    CHECK(PlatformOpenHidDevice(f.c_str()) != nullptr);
    CHECK(!PlatformOpenHidDevice(dir.File("absent").c_str()));
}

void LogFiles(const TempDir& dir) {
    std::string moduleDir = dir.File("app\\");
    CreateDirectoryA(moduleDir.c_str(), nullptr);
    {
        KLogLibrary log;
        SetUpLogging(log, moduleDir, moduleDir + "toolscfg.ini");
        log.Log(2, nullptr, " (F=%s L=%d) %s", "Transact", 42, "report written");
        log.Log(0, nullptr, "level zero stays out");
    }
    std::string logDir = LogDirectory(moduleDir);
    CHECK(logDir == moduleDir + "APP_LOG\\");
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((logDir + "log*").c_str(), &found);
    if (!CHECK(h != INVALID_HANDLE_VALUE))
        return;
    std::string all;
    do {
        all += ReadFile(logDir + found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    CHECK(all.find(" (F=Transact L=42) report written") != std::string::npos);
    CHECK(all.find("level zero") == std::string::npos);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    TempDir dir;
    TextConversion();
    IniStore(dir);
    Settings(dir);
    ModulePath();
    TcpProbe();
    HidReportLength();
    HidExclusiveOpen(dir);
    LogFiles(dir);
    return wincheck::Finish();
}
