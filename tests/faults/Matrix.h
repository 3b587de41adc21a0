// The fault tests print one line per fault and part, for the record:
//   matrix | fault | part | what the operator sees | seconds
// The limits they assert are generous bounds well above the program's own
// time limits: a hang or a lost limit fails, a slow machine does not.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace faults {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// USB: one transaction is bounded by its write limit plus 5 s for the answer.
// SDK: a login or a stream start about 13 s, a text command about 10 s.
// Each bound below covers what one operator action may add up to, twice over.
constexpr double kUsbActionBound = 40;
constexpr double kNetActionBound = 40;

inline std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\t' || c == '|')
            c = c == '\n' ? '/' : ' ';
    }
    while (!text.empty() && (text.back() == '/' || text.back() == ' ')) text.pop_back();
    return text;
}

inline void Row(const std::string& fault, const std::string& part, const std::string& seen,
                double seconds) {
    std::printf("matrix | %s | %s | %s | %.1f s\n", fault.c_str(), part.c_str(),
                OneLine(seen).c_str(), seconds);
    std::fflush(stdout);
}

}  // namespace faults
