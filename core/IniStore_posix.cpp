// Our own private-profile store for platforms without the Windows functions.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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

// The file a path names once symbolic links are followed (the path itself
// when it is none or does not exist yet; a dangling link names its target).
std::string FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            return path;
        target.resize(static_cast<size_t>(n));
        size_t slash = path.find_last_of('/');
        if (target.front() != '/' && slash != std::string::npos)
            target = path.substr(0, slash + 1) + target;
        path = target;
    }
    return path;
}

bool WriteAll(int fd, const std::string& text) {
    size_t off = 0;
    while (off < text.size()) {
        ssize_t n = ::write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// Replaces the file's contents. A sibling file renamed over the old one means
// a failed write never leaves a half-written file behind; it takes the old
// file's permissions and owner, and a symbolic link is written through, so it
// stays a link. Where no sibling can be made (a folder the operator may not
// write to, holding a file he may), the file is rewritten in place.
bool ReplaceFile(const char* file, const std::string& text) {
    const std::string target = FollowLinks(file);
    struct stat old;
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const std::string tmp = target + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        if (existed) {
            ::fchmod(fd, old.st_mode & 07777);
            if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
                // Only root may give a file away; the permissions are what count.
            }
        }
        bool ok = WriteAll(fd, text);
        ok = ::close(fd) == 0 && ok;
        if (ok && std::rename(tmp.c_str(), target.c_str()) == 0)
            return true;
        std::remove(tmp.c_str());
        return false;
    }
    if (!existed || (errno != EACCES && errno != EPERM && errno != EROFS))
        return false;
    fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    return ::close(fd) == 0 && ok;
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
    return ReplaceFile(file, text);
}

}  // namespace strevo
