// The system's ANSI code page through the wide-character functions.
#include <windows.h>

#include <cstring>
#include <string>

#include "TextConv.h"

namespace strevo {
namespace {

// 0 for a name without a code page. CP_ACP is 0 as well, so the system's
// code page is named by its number.
UINT CodePageOf(const char* name) {
    if (!name)
        return GetACP();
    if (_stricmp(name, "UTF-8") == 0 || _stricmp(name, "UTF8") == 0)
        return CP_UTF8;
    if (_stricmp(name, "GBK") == 0 || _stricmp(name, "CP936") == 0)
        return 936;
    return 0;
}

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// A character beyond the 16-bit range that the target cannot hold would come
// out as two '?', one per UTF-16 unit; it becomes one, as any other character.
void MergeUnmappablePairs(UINT to, std::wstring& wide) {
    if (to == CP_UTF8)
        return;
    std::wstring merged;
    merged.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        if (i + 1 < wide.size() && IsHighSurrogate(wide[i]) && IsLowSurrogate(wide[i + 1])) {
            char bytes[8];
            BOOL usedDefault = FALSE;
            int n =
                WideCharToMultiByte(to, 0, &wide[i], 2, bytes, sizeof bytes, nullptr, &usedDefault);
            if (n <= 0 || usedDefault) {
                merged.push_back(L'?');
                ++i;
                continue;
            }
        }
        merged.push_back(wide[i]);
    }
    wide = std::move(merged);
}

char* Convert(UINT from, UINT to, const char* text, char* out, int* capacity) {
    if (!capacity)
        return nullptr;
    if (!text || from == 0 || to == 0) {
        *capacity = 0;
        return nullptr;
    }
    int wlen = MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wlen > 0 ? wlen : 1), L'\0');
    MultiByteToWideChar(from, 0, text, -1, wide.data(), wlen);
    MergeUnmappablePairs(to, wide);
    int size = WideCharToMultiByte(to, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    int have = *capacity;
    *capacity = size + 1;
    if (size <= 0 || !out || have < size + 1)
        return nullptr;
    std::memset(out, 0, static_cast<size_t>(have));
    WideCharToMultiByte(to, 0, wide.c_str(), -1, out, size, nullptr, nullptr);
    return out;
}

}  // namespace

char* Utf8ToAnsi(const char* utf8, char* out, int* capacity, const char* target) {
    return Convert(CP_UTF8, CodePageOf(target), utf8, out, capacity);
}

char* AnsiToUtf8(const char* ansi, char* out, int* capacity, const char* source) {
    return Convert(CodePageOf(source), CP_UTF8, ansi, out, capacity);
}

bool AnsiIsUtf8() {
    return GetACP() == CP_UTF8;
}

size_t PathLength(const std::string& path) {
    if (path.empty())
        return 0;
    const int n = static_cast<int>(path.size());
    const int wlen = MultiByteToWideChar(CP_ACP, 0, path.data(), n, nullptr, 0);
    if (wlen <= 0)
        return path.size();
    std::wstring wide(static_cast<size_t>(wlen), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), n, wide.data(), wlen);
    // A character beyond the 16-bit range is two units but one character.
    size_t count = 0;
    for (size_t i = 0; i < wide.size(); ++i) {
        if (i + 1 < wide.size() && IsHighSurrogate(wide[i]) && IsLowSurrogate(wide[i + 1]))
            ++i;
        ++count;
    }
    return count;
}

}  // namespace strevo
