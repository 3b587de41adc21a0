#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

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

// Whole conversion into a string; unconvertible input characters become '?'.
bool Convert(const char* from, const char* to, const char* text, std::string* result) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
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

}  // namespace strevo
