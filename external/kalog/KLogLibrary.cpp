#include "KLogLibrary.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

struct KLogLibrary::Impl {
    std::mutex mu;
    std::string dir;
    std::string prefix = "log";
    unsigned fileLevel = 1;
    unsigned consoleLevel = 5;
    unsigned fileSizeKiB = 100;
    std::shared_ptr<spdlog::logger> file;     // created lazily on the first file record
    std::shared_ptr<spdlog::logger> console;  // created lazily on the first console record
    bool fileBroken = false;                  // opening the file failed; do not retry per record

    void ResetFile() {
        if (file)
            file->flush();
        file.reset();
        fileBroken = false;
    }

    spdlog::logger* File() {
        if (file || fileBroken || dir.empty())
            return file.get();
        try {
            std::error_code ec;
            std::filesystem::create_directories(dir, ec);
            std::string path = dir;
            if (path.back() != '/' && path.back() != '\\')
                path += '/';
            path += prefix + ".txt";
            size_t maxBytes = static_cast<size_t>(fileSizeKiB ? fileSizeKiB : 1) * 1024;
            auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, maxBytes,
                                                                               kMaxFiles - 1);
            file = std::make_shared<spdlog::logger>("kalog-file", sink);
            file->set_pattern("%Y-%m-%d %H:%M:%S.%e [%t] %v");
            file->set_level(spdlog::level::trace);
            file->flush_on(spdlog::level::trace);
        } catch (const std::exception&) {
            fileBroken = true;  // unwritable directory: records are dropped, the program goes on
        }
        return file.get();
    }

    spdlog::logger* Console() {
        if (!console) {
            auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
            console = std::make_shared<spdlog::logger>("kalog-console", sink);
            console->set_pattern("%H:%M:%S.%e [%t] %v");
            console->set_level(spdlog::level::trace);
        }
        return console.get();
    }
};

KLogLibrary::KLogLibrary() : impl_(std::make_unique<Impl>()) {}

KLogLibrary::~KLogLibrary() {
    if (impl_ && impl_->file)
        impl_->file->flush();
}

void KLogLibrary::SetLogDir(const char* dir, const char* prefix) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->dir = dir ? dir : "";
    impl_->prefix = (prefix && *prefix) ? prefix : "log";
    impl_->ResetFile();
}

void KLogLibrary::SetLogLevel(unsigned channel, unsigned level) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (channel == kFileChannel)
        impl_->fileLevel = level;
    if (channel == kConsoleChannel)
        impl_->consoleLevel = level;
}

void KLogLibrary::SetLogSize(unsigned channel, unsigned sizeKiB) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (channel == kFileChannel && sizeKiB != impl_->fileSizeKiB) {
        impl_->fileSizeKiB = sizeKiB;
        impl_->ResetFile();
    }
}

int KLogLibrary::Log(unsigned level, const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = LogV(level, tag, fmt, args);
    va_end(args);
    return n;
}

int KLogLibrary::LogV(unsigned level, const char* tag, const char* fmt, va_list args) {
    if (!fmt)
        return -1;
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0)
        return -1;
    std::string text;
    if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else {
        std::vector<char> big(static_cast<size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), fmt, args);
        text.assign(big.data(), static_cast<size_t>(n));
    }
    if (tag && *tag)
        text = std::string("[") + tag + "]" + text;

    std::lock_guard<std::mutex> lock(impl_->mu);
    if (level >= impl_->fileLevel) {
        if (auto* f = impl_->File())
            f->info("L{}{}", level, text);
    }
    if (level >= impl_->consoleLevel)
        impl_->Console()->info("L{}{}", level, text);
    return n;
}

void KLogLibrary::Flush() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->file)
        impl_->file->flush();
}

KLogLibrary& ProgramLog() {
    static KLogLibrary log;
    return log;
}
