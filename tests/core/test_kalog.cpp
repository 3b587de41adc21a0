#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "KLogLibrary.h"
#include "LogSetup.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& dir) {
    std::string all;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::ifstream in(e.path());
        all += std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return all;
}

}  // namespace

TEST(KLog, DefaultSetUpKeepsLevelTwoRecordsFromManyThreads) {
    char tmpl[] = "/tmp/strevo-log-XXXXXX";
    std::string moduleDir = std::string(mkdtemp(tmpl)) + "/";
    {
        KLogLibrary log;
        strevo::SetUpLogging(log, moduleDir, moduleDir + "toolscfg.ini");  // no file: level 5
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 200; ++i)
                    log.Log(2, nullptr, " (F=%s L=%d) thread %d record %d", "WriteThread", __LINE__,
                            t, i);
            });
        }
        for (auto& th : threads) th.join();
        log.Log(0, nullptr, "level zero stays out");
    }
    fs::path dir = moduleDir + "APP_LOG";
    ASSERT_TRUE(fs::is_directory(dir));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().rfind("log", 0), 0u) << e.path();
    std::string all = ReadAll(dir);
    for (int t = 0; t < 8; ++t) {
        for (int i = 0; i < 200; i += 37) {
            std::string rec = "thread " + std::to_string(t) + " record " + std::to_string(i) + "\n";
            EXPECT_NE(all.find(rec), std::string::npos) << rec;
        }
    }
    EXPECT_NE(all.find(" (F=WriteThread L="), std::string::npos);
    EXPECT_EQ(all.find("level zero"), std::string::npos);
    fs::remove_all(moduleDir);
}

TEST(KLog, FilesRotateAtTheirSizeAndStayBounded) {
    char tmpl[] = "/tmp/strevo-log-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    {
        KLogLibrary log;
        log.SetLogDir(dir.c_str(), "log");
        log.SetLogLevel(1, 0);
        log.SetLogSize(1, 4);  // KiB
        std::string line(200, 'x');
        for (int i = 0; i < 500; ++i) log.Log(1, "tag", "%s %d", line.c_str(), i);
    }
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        ++files;
        EXPECT_LE(fs::file_size(e.path()), 5u * 1024);
    }
    EXPECT_GT(files, 1u);
    EXPECT_LE(files, KLogLibrary::kMaxFiles);
    fs::remove_all(dir);
}
