#include "ParamFile.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "FileReplace.h"
#include "OperatorMessages.h"

namespace strevo {
namespace fs = std::filesystem;

int32_t WriteParamFile(const std::string& path, const VideoParam& p) {
    // Never truncated in place where it can be avoided: a failed write leaves
    // an earlier export whole.
    switch (ReplaceFileContents(path, &p, sizeof p)) {
        case FileReplaceResult::kReplaced:
            return 0;
        case FileReplaceResult::kWriteFailed:
            return kFileWriteFailed;
        case FileReplaceResult::kOpenFailed:
            break;
    }
    return kFileOpenFailed;
}

int32_t ReadParamFile(const std::string& path, VideoParam* p) {
    std::error_code ec;
    if (fs::is_directory(fs::path(path), ec))  // opens on some systems, but is no file
        return kFileOpenFailed;
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in)
        return kFileOpenFailed;
    // Read one byte more than the record to tell an exact fit from a longer file.
    char buf[sizeof(VideoParam) + 1] = {};
    in.read(buf, sizeof buf);
    if (in.gcount() != static_cast<std::streamsize>(sizeof(VideoParam)))
        return kFileSizeMismatch;
    VideoParam record{};
    std::memcpy(&record, buf, sizeof record);
    *p = record;
    return 0;
}

int32_t ExportParams(const ParamFileTarget& target, const std::string& path) {
    VideoParam p{};
    int32_t rc = target.getVideoParam ? target.getVideoParam(&p) : kRequestBuildFailed;
    if (rc != 0) {
        ShowMessage("获取参数出错： %d", rc);
        return rc;
    }
    rc = WriteParamFile(path, p);
    if (rc == kFileOpenFailed) {
        ShowMessage("文件打开失败");
    } else if (rc == kFileWriteFailed) {
        ShowMessage("文件写入失败");
    } else {
        ShowMessage("导出配置成功！");
    }
    return rc;
}

int32_t LoadParamFile(const std::string& file, VideoParam* p) {
    const int32_t rc = ReadParamFile(file, p);
    if (rc == kFileOpenFailed)
        ShowMessage("文件打开失败");
    else if (rc == kFileSizeMismatch)
        ShowMessage("数据长度不匹配！");
    return rc;
}

int32_t ImportParams(const ParamFileTarget& target, const std::string& file) {
    VideoParam p{};
    int32_t rc = LoadParamFile(file, &p);
    if (rc != 0)
        return rc;
    if (target.show)
        target.show(p);
    rc = target.setVideoParam ? target.setVideoParam(&p) : kRequestBuildFailed;
    // A negative result was shown by the send itself.
    if (rc == 0)
        ShowMessage("导入配置成功！");
    return rc;
}

}  // namespace strevo
