// UTF-8 to the system's ANSI code page (cameras report names in UTF-8).
#pragma once

#include <cstddef>
#include <string>

namespace strevo {

// Converts utf8 into out. *capacity is out's size on entry. The result's size
// (terminating NUL included) is measured first; when *capacity is smaller than
// that size plus one, nothing is written and null is returned; otherwise out
// is zero-filled, filled and returned. Either way *capacity becomes that size
// plus one. Characters the target cannot represent become '?'.
// target: code set name for iconv ("GBK", "UTF-8", ...); null means the
// system's own (on Windows the ANSI code page, elsewhere the locale's code set,
// with plain ASCII treated as UTF-8).
char* Utf8ToAnsi(const char* utf8, char* out, int* capacity, const char* target = nullptr);

// Whether the system's own code set is UTF-8 (so stored names are UTF-8 too).
bool AnsiIsUtf8();

// The reverse, for showing stored names on a UTF-8 terminal or in the GUI.
char* AnsiToUtf8(const char* ansi, char* out, int* capacity, const char* source = nullptr);

// Length of a file path in characters, as the operator sees it: path limits
// count characters, not the bytes of their encoding (a Chinese folder name
// takes three bytes a character in UTF-8). The path is in the platform's
// file-name encoding: the ANSI code page on Windows, UTF-8 elsewhere. A byte
// that belongs to no well-formed character counts as one.
size_t PathLength(const std::string& path);

}  // namespace strevo
