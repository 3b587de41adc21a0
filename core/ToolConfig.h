// toolscfg.ini: window size, communication mode, extra USB vendor ids, the
// snapshot folder.
#pragma once

#include <cstdint>
#include <string>

namespace strevo {

struct ToolSettings {
    int32_t width;
    int32_t height;
    uint16_t vendorIds[10];
    int32_t vendorIdCount;
    int32_t mode;  // 0 IP, anything else USB
};

class ToolConfig {
  public:
    static constexpr int kMaxVendorIds = 10;

    // The program's own file: beside it, or in the user's folders when it
    // is installed (SettingsLocation.h).
    ToolConfig();
    explicit ToolConfig(std::string path);

    const std::string& Path() const { return path_; }

    // Fills settings; false (settings untouched) when the file cannot be opened.
    bool Load(ToolSettings& settings) const;
    // Writes width, height and mode; true only if all three writes succeeded.
    bool Save(const ToolSettings& settings) const;

    // Section SNAPSHOT: the folder snapshots go to, empty until one is chosen.
    std::string SnapshotFolder() const;
    bool SetSnapshotFolder(const std::string& folder) const;

  private:
    std::string path_;
};

}  // namespace strevo
