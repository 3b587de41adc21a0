// toolscfg.ini as the program reads and writes it. Whatever the file holds:
// reads stay inside their buffers; a write sets exactly its key (a read gives
// back the value) and leaves every other key as it was; the settings saved on
// close come back on the next start with the vendor ids untouched.
//
// Input: Byte key to write, Byte value to write, U16 width, U16 height,
// Byte mode, then the file's content.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzTempDir.h"
#include "IniStore.h"
#include "ToolConfig.h"

namespace {

struct Key {
    const char* section;
    const char* key;
};

// The program's keys, a spelling in other case, and one it never uses.
constexpr Key kKeys[] = {
    {"WIN_SIZE", "Width"}, {"WIN_SIZE", "Height"}, {"SEARCH_MODE", "Mode"},
    {"VID", "SRC1"},       {"VID", "SRC2"},        {"VID", "SRC3"},
    {"LOG", "Level"},      {"win_size", "WIDTH"},  {"Other", "Key"},
};
constexpr const char* kValues[] = {"123", "-1", "0x1703", "", "7", "\"quoted\"", "a=b"};

bool SameKey(const Key& a, const Key& b) {
    return strcasecmp(a.section, b.section) == 0 && strcasecmp(a.key, b.key) == 0;
}

constexpr char kAbsent[] = "\x01 absent";

std::string Get(const Key& k, const std::string& file, bool all = false) {
    char buf[256];
    uint32_t n = strevo::IniGetString(k.section, k.key, kAbsent, buf, sizeof buf, file.c_str());
    fuzz::Check(n < sizeof buf && buf[n] == '\0', "value overran its buffer", n);
    if (!all)
        return std::string(buf, n);
    char tiny[4];
    uint32_t m = strevo::IniGetString(k.section, k.key, kAbsent, tiny, sizeof tiny, file.c_str());
    fuzz::Check(m <= 3 && tiny[m] == '\0', "value overran a small buffer", m);
    strevo::IniGetInt(k.section, k.key, -1, file.c_str());
    return std::string(buf, n);
}

bool SameSettings(const strevo::ToolSettings& a, const strevo::ToolSettings& b) {
    return a.width == b.width && a.height == b.height && a.mode == b.mode &&
           a.vendorIdCount == b.vendorIdCount &&
           std::memcmp(a.vendorIds, b.vendorIds, sizeof a.vendorIds) == 0;
}

strevo::ToolSettings Load(const std::string& file) {
    strevo::ToolSettings s;
    std::memset(&s, 0, sizeof s);
    fuzz::Check(strevo::ToolConfig(file).Load(s), "configuration not read");
    fuzz::Check(s.vendorIdCount >= 0 && s.vendorIdCount <= strevo::ToolConfig::kMaxVendorIds,
                "vendor id count", s.vendorIdCount);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const Key& target = kKeys[in.Byte() % (sizeof kKeys / sizeof kKeys[0])];
    const char* value = kValues[in.Byte() % (sizeof kValues / sizeof kValues[0])];
    int width = in.U16(), height = in.U16(), mode = in.Byte();
    std::string content = in.Rest();

    const std::string file = fuzz::TempPath("toolscfg.ini");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << content;
    }
    Load(file);
    std::vector<std::string> before;
    for (const Key& k : kKeys) before.push_back(Get(k, file, true));

    fuzz::Check(strevo::IniWriteString(target.section, target.key, value, file.c_str()),
                "write refused");
    std::string expect = value;
    if (expect.size() >= 2 && expect.front() == '"')
        expect = expect.substr(1, expect.size() - 2);
    for (size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i) {
        std::string now = Get(kKeys[i], file);
        if (SameKey(kKeys[i], target))
            fuzz::Check(now == expect, "written value not read back", static_cast<long>(i));
        else
            fuzz::Check(now == before[i], "write changed another key", static_cast<long>(i));
    }

    // The main window's close and the next start.
    strevo::ToolSettings saved = Load(file);
    saved.width = width;
    saved.height = height;
    saved.mode = mode;
    fuzz::Check(strevo::ToolConfig(file).Save(saved), "settings not saved");
    fuzz::Check(SameSettings(Load(file), saved), "saved settings do not come back");

    std::remove(file.c_str());
    std::remove((file + ".tmp").c_str());
    return 0;
}
