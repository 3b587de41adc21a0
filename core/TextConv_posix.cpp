#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "TextConv.h"

namespace strevo {
namespace {

const char* SystemCodeSet() {
    const char* cs = nl_langinfo(CODESET);
    // The "C" locale reports ASCII, which cannot hold any camera name that is
    // not plain ASCII already; UTF-8 is what such terminals show in practice.
    if (!cs || !*cs || std::strcmp(cs, "ANSI_X3.4-1968") == 0 || std::strcmp(cs, "ASCII") == 0)
        return "UTF-8";
    return cs;
}

// Length of the well-formed UTF-8 character at s (at most left bytes), or 0.
size_t Utf8Length(const unsigned char* s, size_t left) {
    unsigned c = s[0];
    if (c < 0x80)
        return 1;
    size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || len > left)
        return 0;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (s[1] < lo || s[1] > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if ((s[i] & 0xC0) != 0x80)
            return 0;
    return len;
}

// Each byte that does not belong to a well-formed character becomes '?': the
// converter would otherwise pass some of them on (a UTF-8 target takes code
// points past U+10FFFF), and a stored name must be well-formed text.
std::string WellFormedUtf8(const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t left = std::strlen(text);
    std::string out;
    out.reserve(left);
    while (left > 0) {
        size_t len = Utf8Length(s, left);
        if (len == 0) {
            out.push_back('?');
            len = 1;
        } else {
            out.append(reinterpret_cast<const char*>(s), len);
        }
        s += len;
        left -= len;
    }
    return out;
}

// Whole conversion into a string; unconvertible input characters become '?'.
bool Convert(const char* from, const char* to, const char* text, std::string* result) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string checked;
    if (std::strcmp(from, "UTF-8") == 0) {
        checked = WellFormedUtf8(text);
        text = checked.c_str();
    }
    size_t inLeft = std::strlen(text);
    char* in = const_cast<char*>(text);
    std::string out;
    char chunk[256];
    while (true) {
        char* op = chunk;
        size_t outLeft = sizeof chunk;
        size_t rc = iconv(cd, inLeft ? &in : nullptr, &inLeft, &op, &outLeft);
        out.append(chunk, sizeof chunk - outLeft);
        if (rc != static_cast<size_t>(-1)) {
            if (inLeft == 0)
                break;
            continue;
        }
        if (errno == E2BIG)
            continue;
        if (errno == EILSEQ || errno == EINVAL) {
            // Skip one input byte, or the whole UTF-8 sequence when it is valid but unmappable.
            size_t skip = 1;
            if (std::strcmp(from, "UTF-8") == 0) {
                const unsigned char* u = reinterpret_cast<const unsigned char*>(in);
                size_t len = u[0] >= 0xC2 && u[0] <= 0xDF   ? 2
                             : u[0] >= 0xE0 && u[0] <= 0xEF ? 3
                             : u[0] >= 0xF0 && u[0] <= 0xF4 ? 4
                                                            : 1;
                size_t k = 1;
                while (k < len && k < inLeft && (u[k] & 0xC0) == 0x80) ++k;
                if (k == len)
                    skip = len;  // well-formed but unmappable: one '?' for it
            }
            in += skip;
            inLeft -= skip;
            out.push_back('?');
            if (inLeft == 0)
                break;
            continue;
        }
        iconv_close(cd);
        return false;
    }
    iconv_close(cd);
    *result = std::move(out);
    return true;
}

char* ConvertInto(const char* from, const char* to, const char* text, char* out, int* capacity) {
    if (!capacity)
        return nullptr;
    std::string converted;
    if (!text || !Convert(from, to, text, &converted)) {
        *capacity = 0;
        return nullptr;
    }
    int size = static_cast<int>(converted.size()) + 1;  // with the NUL
    int have = *capacity;
    *capacity = size + 1;
    if (!out || have < size + 1)
        return nullptr;
    std::memset(out, 0, static_cast<size_t>(have));
    std::memcpy(out, converted.data(), converted.size());
    return out;
}

}  // namespace

char* Utf8ToAnsi(const char* utf8, char* out, int* capacity, const char* target) {
    return ConvertInto("UTF-8", target ? target : SystemCodeSet(), utf8, out, capacity);
}

bool AnsiIsUtf8() {
    const char* cs = SystemCodeSet();
    return strcasecmp(cs, "UTF-8") == 0 || strcasecmp(cs, "UTF8") == 0;
}

char* AnsiToUtf8(const char* ansi, char* out, int* capacity, const char* source) {
    return ConvertInto(source ? source : SystemCodeSet(), "UTF-8", ansi, out, capacity);
}

size_t PathLength(const std::string& path) {
    const auto* s = reinterpret_cast<const unsigned char*>(path.data());
    size_t left = path.size(), count = 0;
    while (left > 0) {
        const size_t len = std::max<size_t>(Utf8Length(s, left), 1);
        s += len;
        left -= len;
        ++count;
    }
    return count;
}

}  // namespace strevo
