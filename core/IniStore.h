// INI files with the Windows private-profile rules the program relies on:
// section and key names match without regard to case, the first matching
// section and key win, values are trimmed (and unquoted), the integer reader
// accepts an optional sign and "0x" prefix and stops at the first non-digit,
// and the writer creates the file and section when needed and keeps every
// other line untouched. On Windows these call the system's functions.
#pragma once

#include <cstdint>
#include <string>

namespace strevo {

// Copies the value (or def when the key is absent) into buf, cut to size - 1
// bytes and NUL-terminated. Returns the number of bytes copied without the NUL.
uint32_t IniGetString(const char* section, const char* key, const char* def, char* buf,
                      uint32_t size, const char* file);

// The key's value as an integer, def when the key is absent or empty.
int32_t IniGetInt(const char* section, const char* key, int32_t def, const char* file);

// Sets section/key to value. Returns false when the file could not be written.
bool IniWriteString(const char* section, const char* key, const char* value, const char* file);

}  // namespace strevo
