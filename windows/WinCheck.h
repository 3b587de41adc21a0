// A minimal check harness for the Windows test programs, which run under Wine
// without GoogleTest (it has no MinGW build here).
#pragma once

#include <cstdio>

namespace wincheck {

inline int g_failed = 0;
inline int g_passed = 0;

inline bool Check(bool ok, const char* what, const char* file, int line) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("%s:%d: FAILED: %s\n", file, line, what);
        std::fflush(stdout);
    }
    return ok;
}

// The closing line ctest's log shows; the exit code is what counts.
inline int Finish() {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}

}  // namespace wincheck

#define CHECK(cond) ::wincheck::Check(static_cast<bool>(cond), #cond, __FILE__, __LINE__)
