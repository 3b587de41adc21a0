// Parameter files: the 55-byte VideoParam record, byte for byte. Export and
// import work over any transport; the caller binds the camera's operations.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "VideoParam.h"

namespace strevo {

constexpr char kParamFileName[] = "video_params.dat";

// Results of export and import besides the camera's own codes.
enum : int32_t {
    kFileOpenFailed = -320,
    kFileSizeMismatch = -321,
    kFileWriteFailed = -322,
};

// The camera a file is exported from or imported into.
struct ParamFileTarget {
    std::function<int32_t(VideoParam*)> getVideoParam;
    std::function<int32_t(const VideoParam*)> setVideoParam;
    // Hands the imported record to the pages before it is sent (may be empty).
    std::function<void(const VideoParam&)> show;
};

// Reads the camera's record and writes it to path, used as given (the path
// dialog has already added the file name to a chosen folder). Returns 0, the
// read's result ("获取参数出错： %d" shown) or a file code (message shown).
// An existing file is replaced only once the new one is completely written.
int32_t ExportParams(const ParamFileTarget& target, const std::string& path);

// Reads a 55-byte file, shows it and sends it whole. Returns the send's result
// (0: "导入配置成功！" shown) or a file code (message shown, nothing sent).
int32_t ImportParams(const ParamFileTarget& target, const std::string& file);

// Reads a parameter file for an import: 0, or a file code with its message
// shown ("文件打开失败", "数据长度不匹配！"). Used by every import.
int32_t LoadParamFile(const std::string& file, VideoParam* p);

// The file alone, for callers without a camera.
int32_t WriteParamFile(const std::string& path, const VideoParam& p);
int32_t ReadParamFile(const std::string& path, VideoParam* p);

}  // namespace strevo
