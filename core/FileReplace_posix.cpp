#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "FileReplace.h"

namespace strevo {
namespace {

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

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    size_t off = 0;
    while (off < size) {
        ssize_t n = ::write(fd, p + off, size - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// A sibling of a name nobody else uses: a file of the operator's that
// happens to be called like our temporary is never touched.
int CreateSibling(const std::string& target, std::string* name) {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%ld.%llx.%u.tmp", static_cast<long>(::getpid()),
                      now & 0xffffffffffULL, counter.fetch_add(1));
        *name = target + suffix;
        int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

FileReplaceResult ReplaceFileContents(const std::string& path, const void* data, size_t size) {
    if (path.empty())
        return FileReplaceResult::kOpenFailed;
    const std::string target = FollowLinks(path);
    struct stat old;
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        return FileReplaceResult::kOpenFailed;  // a folder or a device is no file to replace
    std::string tmp;
    int fd = CreateSibling(target, &tmp);
    if (fd >= 0) {
        if (existed) {
            ::fchmod(fd, old.st_mode & 07777);
            if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
                // Only root may give a file away; the permissions are what count.
            }
        }
        bool ok = WriteAll(fd, data, size);
        ok = ::close(fd) == 0 && ok;
        if (ok && std::rename(tmp.c_str(), target.c_str()) == 0)
            return FileReplaceResult::kReplaced;
        std::remove(tmp.c_str());
        return ok ? FileReplaceResult::kOpenFailed : FileReplaceResult::kWriteFailed;
    }
    if (!existed || (errno != EACCES && errno != EPERM && errno != EROFS))
        return FileReplaceResult::kOpenFailed;
    fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return FileReplaceResult::kOpenFailed;
    bool ok = WriteAll(fd, data, size) && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok ? FileReplaceResult::kReplaced : FileReplaceResult::kWriteFailed;
}

}  // namespace strevo
