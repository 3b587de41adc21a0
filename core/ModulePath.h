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

// The longest module directory the program works with, in characters (the
// Windows path limit).
constexpr size_t kMaxModuleDirectory = 259;

// Directory part of a program path, up to and including the last separator;
// "." plus the separator when the path has none. Empty when the directory is
// longer than kMaxModuleDirectory: cut short it would name another folder.
std::string ModuleDirectoryOf(const std::string& programPath);

// ModuleDirectoryOf(ProgramPath()).
std::string ModuleDirectory();

// What the operator is told when the program's folder is too long to use.
extern const char* const kModuleDirectoryTooLong;

}  // namespace strevo
