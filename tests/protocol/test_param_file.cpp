// Export and import of parameter files over a bound camera.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "ParamFile.h"
#include "Permissions.h"

using namespace strevo;
namespace fs = std::filesystem;

namespace {

class ParamFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("strevo_pf_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        camera.Luminance = 77;
        camera.BExpCPS = -9;
        camera.u32CTNum = 6500;
        camera.eSceneMode = 4;
        camera.eSceneMode2 = 4;
        camera.u32Lut = 278;
        target.getVideoParam = [this](VideoParam* p) {
            ++gets;
            if (getResult == 0)
                *p = camera;
            return getResult;
        };
        target.setVideoParam = [this](const VideoParam* p) {
            events.push_back("set");
            received = *p;
            return setResult;
        };
        target.show = [this](const VideoParam& p) {
            events.push_back("show");
            shown = p;
        };
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string WriteBytes(const std::string& name, size_t n) {
        fs::path p = dir / name;
        std::ofstream(p, std::ios::binary) << std::string(n, '\x05');
        return p.string();
    }
    std::vector<char> Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir;
    VideoParam camera{};
    VideoParam received{};
    VideoParam shown{};
    int32_t getResult = 0;
    int32_t setResult = 0;
    int gets = 0;
    std::vector<std::string> events;
    ParamFileTarget target;
    MessageRecorder messages;
};

}  // namespace

TEST_F(ParamFileTest, ExportWritesTheRecordByteForByte) {
    ASSERT_EQ(ExportParams(target, (dir / kParamFileName).string()), 0);
    std::vector<char> bytes = Read(dir / kParamFileName);
    ASSERT_EQ(bytes.size(), 55u);
    EXPECT_EQ(std::memcmp(bytes.data(), &camera, 55), 0);
    EXPECT_EQ(bytes[48], bytes[49]);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"导出配置成功！"});
    EXPECT_FALSE(fs::exists(dir / "video_params.dat.tmp"));
}

// The path is the file itself, whatever its name; a folder or an empty path is
// no file and leaves nothing behind.
TEST_F(ParamFileTest, ExportPathIsUsedAsGiven) {
    ASSERT_EQ(ExportParams(target, (dir / "camera 2.bin").string()), 0);
    EXPECT_EQ(fs::file_size(dir / "camera 2.bin"), 55u);
    EXPECT_FALSE(fs::exists(dir / "camera 2.bin" / kParamFileName));

    for (std::string path : {dir.string(), dir.string() + "/", std::string()}) {
        messages.texts.clear();
        EXPECT_EQ(ExportParams(target, path), kFileOpenFailed) << path;
        EXPECT_EQ(messages.texts, std::vector<std::string>{"文件打开失败"}) << path;
    }
    EXPECT_FALSE(fs::exists(dir / kParamFileName));
    EXPECT_FALSE(fs::exists(dir.string() + ".tmp"));
}

TEST_F(ParamFileTest, ExportFailuresLeaveNoFile) {
    getResult = -302;
    EXPECT_EQ(ExportParams(target, (dir / kParamFileName).string()), -302);
    EXPECT_FALSE(fs::exists(dir / kParamFileName));
    EXPECT_EQ(messages.texts, std::vector<std::string>{"获取参数出错： -302"});

    // A positive read result is not a success either.
    messages.texts.clear();
    getResult = 3;
    EXPECT_EQ(ExportParams(target, (dir / kParamFileName).string()), 3);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"获取参数出错： 3"});

    messages.texts.clear();
    getResult = 0;
    EXPECT_EQ(ExportParams(target, (dir / "missing" / kParamFileName).string()), kFileOpenFailed);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"文件打开失败"});
}

TEST_F(ParamFileTest, ExportReplacesAnEarlierFileWhole) {
    WriteBytes(kParamFileName, 200);
    // A file of the operator's named like a temporary of ours is not touched.
    WriteBytes(std::string(kParamFileName) + ".tmp", 7);
    ASSERT_EQ(ExportParams(target, (dir / kParamFileName).string()), 0);
    EXPECT_EQ(fs::file_size(dir / kParamFileName), 55u);
    EXPECT_EQ(Read(dir / (std::string(kParamFileName) + ".tmp")), std::vector<char>(7, '\x05'));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

// In a folder the operator may not write to, a file he may write to is
// rewritten in place; one he may not is left whole and reported.
TEST_F(ParamFileTest, ExportIntoALockedFolder) {
    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
    EXPECT_TRUE(InChildBoundByPermissions(locked.string(), [&] {
        const fs::path file = locked / kParamFileName, ro = locked / "readonly.dat";
        std::ofstream(file, std::ios::binary) << std::string(200, 'x');
        std::ofstream(ro, std::ios::binary) << std::string(55, 'y');
        std::error_code ec;
        fs::permissions(ro, fs::perms::owner_read, ec);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec, ec);
        messages.texts.clear();
        const bool inPlace = ExportParams(target, file.string()) == 0 && Read(file).size() == 55 &&
                             std::memcmp(Read(file).data(), &camera, 55) == 0;
        const bool refused = ExportParams(target, ro.string()) == kFileOpenFailed &&
                             Read(ro) == std::vector<char>(55, 'y');
        const bool told =
            messages.texts == std::vector<std::string>{"导出配置成功！", "文件打开失败"};
        fs::permissions(locked, fs::perms::owner_all, ec);
        return inPlace && refused && told;
    }));
}

TEST_F(ParamFileTest, ImportShowsThenSends) {
    ASSERT_EQ(WriteParamFile((dir / "a.dat").string(), camera), 0);
    ASSERT_EQ(ImportParams(target, (dir / "a.dat").string()), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"show", "set"}));
    EXPECT_EQ(std::memcmp(&received, &camera, sizeof camera), 0);
    EXPECT_EQ(std::memcmp(&shown, &camera, sizeof camera), 0);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"导入配置成功！"});
}

TEST_F(ParamFileTest, ImportSendResults) {
    ASSERT_EQ(WriteParamFile((dir / "a.dat").string(), camera), 0);
    setResult = -5;  // the send has shown its own message
    EXPECT_EQ(ImportParams(target, (dir / "a.dat").string()), -5);
    setResult = 2;
    EXPECT_EQ(ImportParams(target, (dir / "a.dat").string()), 2);
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(ParamFileTest, ImportRefusesWrongSizes) {
    for (size_t n : {0u, 54u, 56u, 4096u}) {
        messages.texts.clear();
        std::string path = WriteBytes("f" + std::to_string(n), n);
        EXPECT_EQ(ImportParams(target, path), kFileSizeMismatch) << n;
        EXPECT_EQ(messages.texts, std::vector<std::string>{"数据长度不匹配！"}) << n;
    }
    messages.texts.clear();
    EXPECT_EQ(ImportParams(target, (dir / "nothing.dat").string()), kFileOpenFailed);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"文件打开失败"});
    messages.texts.clear();
    EXPECT_EQ(ImportParams(target, dir.string()), kFileOpenFailed);  // a folder is no file
    EXPECT_EQ(messages.texts, std::vector<std::string>{"文件打开失败"});
    EXPECT_TRUE(events.empty()) << "nothing may be shown or sent";
}
