// Where the program lives and what is derived from it.
#pragma once

#include <string>

namespace strevo {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The program file's own path (empty when it cannot be determined).
std::string ProgramPath();

// Directory part of a program path, up to and including the last separator;
// "." plus the separator when the path has none. At most 259 characters.
std::string ModuleDirectoryOf(const std::string& programPath);

// ModuleDirectoryOf(ProgramPath()).
std::string ModuleDirectory();

}  // namespace strevo
