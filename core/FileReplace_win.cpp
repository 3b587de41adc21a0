#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "FileReplace.h"

namespace strevo {
namespace {

bool WriteAll(HANDLE file, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        size -= written;
    }
    return true;
}

// A sibling of a name nobody else uses, created only if it does not exist.
HANDLE CreateSibling(const std::string& target, std::string* name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%lu.%lx.%u.tmp", GetCurrentProcessId(),
                      static_cast<unsigned long>(GetTickCount()), counter.fetch_add(1));
        *name = target + suffix;
        HANDLE h = CreateFileA(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

FileReplaceResult ReplaceFileContents(const std::string& path, const void* data, size_t size) {
    if (path.empty())
        return FileReplaceResult::kOpenFailed;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileReplaceResult::kOpenFailed;
    std::string tmp;
    HANDLE h = CreateSibling(path, &tmp);
    if (h != INVALID_HANDLE_VALUE) {
        bool ok = WriteAll(h, data, size);
        ok = CloseHandle(h) && ok;
        if (ok && MoveFileExA(tmp.c_str(), path.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return FileReplaceResult::kReplaced;
        DeleteFileA(tmp.c_str());
        return ok ? FileReplaceResult::kOpenFailed : FileReplaceResult::kWriteFailed;
    }
    if (!existed || GetLastError() != ERROR_ACCESS_DENIED)
        return FileReplaceResult::kOpenFailed;
    h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FileReplaceResult::kOpenFailed;
    bool ok = WriteAll(h, data, size) && SetEndOfFile(h);
    ok = CloseHandle(h) && ok;
    return ok ? FileReplaceResult::kReplaced : FileReplaceResult::kWriteFailed;
}

}  // namespace strevo
