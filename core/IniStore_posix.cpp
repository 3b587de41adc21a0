// Our own private-profile store for platforms without the Windows functions.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "FileReplace.h"
#include "IniStore.h"

namespace strevo {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool ReadLines(const char* file, std::vector<std::string>* lines, bool* crlf = nullptr) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (crlf)
                *crlf = true;
        }
        lines->push_back(line);
    }
    return true;
}

// "[name]" -> name; otherwise nullopt.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// "key = value" -> key, value; lines without '=' or comments give nullopt.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';')
        return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
}

std::optional<std::string> Lookup(const char* section, const char* key, const char* file) {
    std::vector<std::string> lines;
    if (!section || !key || !file || !ReadLines(file, &lines))
        return std::nullopt;
    bool inSection = false;
    bool seenSection = false;
    for (const auto& line : lines) {
        if (auto name = SectionName(line)) {
            // Only the first section of that name counts.
            if (inSection)
                return std::nullopt;
            inSection = !seenSection && EqualNoCase(*name, section);
            seenSection = seenSection || inSection;
            continue;
        }
        if (!inSection)
            continue;
        if (auto kv = KeyValue(line); kv && EqualNoCase(kv->first, key)) {
            std::string_view v = kv->second;
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::nullopt;
}

}  // namespace

uint32_t IniGetString(const char* section, const char* key, const char* def, char* buf,
                      uint32_t size, const char* file) {
    if (!buf || size == 0)
        return 0;
    std::optional<std::string> value = Lookup(section, key, file);
    std::string_view v = value ? std::string_view(*value) : Trim(def ? def : "");
    size_t n = std::min<size_t>(v.size(), size - 1);
    std::memcpy(buf, v.data(), n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}

int32_t IniGetInt(const char* section, const char* key, int32_t def, const char* file) {
    std::optional<std::string> value = Lookup(section, key, file);
    if (!value || value->empty())
        return def;
    const char* p = value->c_str();
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    uint32_t result = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
            int d = std::isdigit(static_cast<unsigned char>(*p))
                        ? *p - '0'
                        : std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10;
            result = result * 16 + static_cast<uint32_t>(d);
        }
    } else {
        for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
            result = result * 10 + static_cast<uint32_t>(*p - '0');
    }
    // Wraps like the system's 32-bit reader does on overflow.
    return static_cast<int32_t>(negative ? 0u - result : result);
}

bool IniWriteString(const char* section, const char* key, const char* value, const char* file) {
    if (!section || !key || !file)
        return false;
    std::vector<std::string> lines;
    bool crlf = false;  // keep the file's own line endings
    bool existed = ReadLines(file, &lines, &crlf);
    if (!existed && access(file, F_OK) == 0)
        return false;  // present but unreadable

    const std::string newLine = std::string(key) + "=" + (value ? value : "");
    long sectionLine = -1;
    long lastInSection = -1;
    long keyLine = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i])) {
            if (sectionLine >= 0)
                break;
            if (EqualNoCase(*name, section))
                sectionLine = lastInSection = static_cast<long>(i);
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (!Trim(lines[i]).empty())
            lastInSection = static_cast<long>(i);
        if (auto kv = KeyValue(lines[i]); kv && EqualNoCase(kv->first, key)) {
            keyLine = static_cast<long>(i);
            break;
        }
    }
    if (keyLine >= 0) {
        lines[static_cast<size_t>(keyLine)] = newLine;
    } else if (sectionLine >= 0) {
        lines.insert(lines.begin() + lastInSection + 1, newLine);
    } else {
        lines.push_back(std::string("[") + section + "]");
        lines.push_back(newLine);
    }

    std::string text;
    for (const auto& l : lines) text += l + (crlf ? "\r\n" : "\n");
    return ReplaceFileContents(file, text.data(), text.size()) == FileReplaceResult::kReplaced;
}

}  // namespace strevo
