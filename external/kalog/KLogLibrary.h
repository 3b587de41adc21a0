// Process-wide program log.
//
// Records are written to output channels, each with its own level threshold:
//   channel 1  rotating log files "<prefix>_<n>.txt" in the log directory
//   channel 2  the process's standard error
// A record of level L goes to a channel when L >= that channel's level, so
// level 0 passes everything and a high level keeps a channel quiet.
// SetLogSize(1, n) limits one log file to n KiB before the next file is begun
// (at most kMaxFiles files are kept). SetLogSize on channel 2 is accepted and ignored.
// Every member may be called from any thread.
#pragma once

#include <cstdarg>
#include <memory>
#include <mutex>

class KLogLibrary {
public:
    static constexpr unsigned kFileChannel = 1;
    static constexpr unsigned kConsoleChannel = 2;
    static constexpr unsigned kMaxFiles = 5;

    KLogLibrary();
    ~KLogLibrary();
    KLogLibrary(const KLogLibrary&) = delete;
    KLogLibrary& operator=(const KLogLibrary&) = delete;

    // Directory (created when missing) and file-name prefix of the log files.
    void SetLogDir(const char* dir, const char* prefix);
    void SetLogLevel(unsigned channel, unsigned level);
    void SetLogSize(unsigned channel, unsigned sizeKiB);

    // printf-style record; tag may be null. Returns the number of characters
    // of the formatted message, or -1 when the format could not be expanded.
    int Log(unsigned level, const char* tag, const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;
    int LogV(unsigned level, const char* tag, const char* fmt, va_list args);

    // Writes buffered records to disk.
    void Flush();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The process's logger: constructed during static initialisation, destroyed at exit.
KLogLibrary& ProgramLog();
