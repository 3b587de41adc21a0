// A private temporary folder per fuzzing process, removed when it exits.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

// Never destroyed: the exit handler that removes the folder still needs its name.
inline const std::string& TempDir() {
    static const std::string* dir = [] {
        auto* pattern = new std::string(
            (std::filesystem::temp_directory_path() / "strevo-fuzz-XXXXXX").string());
        if (!mkdtemp(pattern->data()))
            std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(TempDir(), ec);
        });
        return pattern;
    }();
    return *dir;
}

inline std::string TempPath(const char* name) {
    return (std::filesystem::path(TempDir()) / name).string();
}

}  // namespace fuzz
