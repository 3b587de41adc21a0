// Output report length from a HID report descriptor, counted the way the
// Windows HID stack reports OutputReportByteLength: the longest output report
// in bytes plus one byte for the report id (present or not).
#pragma once

#include <cstddef>
#include <cstdint>

namespace strevo {

// 0 when the descriptor declares no output report or cannot be parsed.
int OutputReportLengthFromDescriptor(const uint8_t* desc, size_t size);

}  // namespace strevo
