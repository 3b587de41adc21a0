#include "ToolConfig.h"

#include <cctype>
#include <cstdio>

#include "IniStore.h"
#include "ModulePath.h"
#include "SettingsLocation.h"

namespace strevo {
namespace {

// Hexadecimal with an optional "0x"; stops at the first non-hex character.
uint16_t ParseHexId(const char* text) {
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        p += 2;
    uint32_t v = 0;
    for (; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
        int d = std::isdigit(static_cast<unsigned char>(*p))
                    ? *p - '0'
                    : std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return static_cast<uint16_t>(v);
}

}  // namespace

ToolConfig::ToolConfig() {
    const std::string moduleDir = ModuleDirectory();
    path_ = moduleDir.empty() ? "toolscfg.ini" : ProgramSettingsLocation(moduleDir).configPath;
}

ToolConfig::ToolConfig(std::string path) : path_(std::move(path)) {}

bool ToolConfig::Load(ToolSettings& settings) const {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (!f)
        return false;
    std::fclose(f);

    const char* file = path_.c_str();
    settings.width = IniGetInt("WIN_SIZE", "Width", -1, file);
    settings.height = IniGetInt("WIN_SIZE", "Height", -1, file);
    settings.mode = IniGetInt("SEARCH_MODE", "Mode", 0, file);

    // Stops at the first missing key, and after the slots the record holds.
    int count = 0;
    for (int n = 1; count < kMaxVendorIds; ++n) {
        char key[16];
        std::snprintf(key, sizeof key, "SRC%d", n);
        char value[32];
        IniGetString("VID", key, "", value, sizeof value, file);
        if (value[0] == '\0')
            break;
        settings.vendorIds[count++] = ParseHexId(value);
    }
    settings.vendorIdCount = count;
    return true;
}

bool ToolConfig::Save(const ToolSettings& settings) const {
    const char* file = path_.c_str();
    char text[16];
    std::snprintf(text, sizeof text, "%d", settings.width);
    bool ok = IniWriteString("WIN_SIZE", "Width", text, file);
    std::snprintf(text, sizeof text, "%d", settings.height);
    ok = IniWriteString("WIN_SIZE", "Height", text, file) && ok;
    std::snprintf(text, sizeof text, "%d", settings.mode);
    ok = IniWriteString("SEARCH_MODE", "Mode", text, file) && ok;
    return ok;
}

std::string ToolConfig::SnapshotFolder() const {
    char folder[1024];
    IniGetString("SNAPSHOT", "Folder", "", folder, sizeof folder, path_.c_str());
    return folder;
}

bool ToolConfig::SetSnapshotFolder(const std::string& folder) const {
    return IniWriteString("SNAPSHOT", "Folder", folder.c_str(), path_.c_str());
}

}  // namespace strevo
