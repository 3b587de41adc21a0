// Copying a text into a fixed field without overrunning it and without leaving
// half a character at the cut.
#pragma once

#include <cstddef>
#include <cstring>

namespace strevo {

// Copies src into dst (dstSize bytes, NUL-terminated, rest zeroed). A text that
// does not fit is cut before the character that would straddle the end:
// utf8 = true treats src as UTF-8, otherwise as a double-byte code page such
// as GBK (a byte of 0x81 or more starts a two-byte character).
inline void CutText(const char* src, char* dst, size_t dstSize, bool utf8) {
    if (!dst || dstSize == 0) return;
    std::memset(dst, 0, dstSize);
    if (!src) return;
    size_t len = std::strlen(src);
    size_t n = len < dstSize - 1 ? len : dstSize - 1;
    if (n < len) {
        const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
        if (utf8) {
            while (n > 0 && (s[n] & 0xC0) == 0x80) --n;  // s[n] would start the next character
        } else {
            size_t i = 0;
            while (i < n) {
                size_t step = s[i] >= 0x81 ? 2 : 1;
                if (i + step > n) break;
                i += step;
            }
            n = i;
        }
    }
    std::memcpy(dst, src, n);
}

}  // namespace strevo
