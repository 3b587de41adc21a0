#include "UpgradePackage.h"

#include <cJSON.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <new>

#include "OperatorMessages.h"
#include "TextConv.h"

namespace strevo {

std::string PackageTypeName(const std::string& path, int index) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // extrootfs before rootfs: the longer name contains the shorter one.
    for (const char* name : {"uimage", "uboot", "extrootfs", "rootfs", "terrans", "updata"}) {
        if (lower.find(name) != std::string::npos)
            return name;
    }
    return std::to_string(index + 1);
}

std::string BuildUpgradeRequest(uint32_t fileSize) {
    cJSON* req = cJSON_CreateObject();
    cJSON_AddNumberToObject(req, "FileType", 2);
    cJSON_AddNumberToObject(req, "FileSize", static_cast<double>(fileSize));
    char* text = cJSON_Print(req);
    std::string out = text ? text : "";
    cJSON_free(text);
    cJSON_Delete(req);
    return out;
}

int ReadPackages(const std::vector<std::string>& paths, std::vector<UpgradePackage>* out) {
    std::vector<UpgradePackage> packages;
    for (size_t i = 0; i < paths.size(); ++i) {
        UpgradePackage p;
        p.path = paths[i];
        p.typeName = PackageTypeName(p.path, static_cast<int>(i));
        packages.push_back(std::move(p));
    }
    for (UpgradePackage& p : packages) {
        if (PathLength(p.path) > kMaxPackagePath) {
            ShowMessage("文件路径过长:%s", p.path.c_str());
            return -1;
        }
        std::ifstream f(p.path, std::ios::binary);
        if (!f) {
            ShowMessage("无法打开文件:%s", p.path.c_str());
            return -1;
        }
        // The request carries the size in 32 bits: a larger file cannot be announced.
        f.seekg(0, std::ios::end);
        const std::streamoff size = f ? static_cast<std::streamoff>(f.tellg()) : -1;
        f.seekg(0, std::ios::beg);
        if (!f || size < 0 || size > std::numeric_limits<uint32_t>::max()) {
            ShowMessage("文件读取失败！");
            return -1;
        }
        p.size = static_cast<uint32_t>(size);
        // Up to 4 GiB: not getting the memory is a failed read, not the end of
        // the program. Not zero-filled, the read overwrites it.
        p.contents.reset(new (std::nothrow) uint8_t[p.size]);
        if (!p.contents) {
            ShowMessage("文件读取失败！");
            return -1;
        }
        f.read(reinterpret_cast<char*>(p.contents.get()), static_cast<std::streamsize>(p.size));
        if (static_cast<uint64_t>(f.gcount()) != p.size) {
            ShowMessage("文件读取失败！");
            return -1;
        }
    }
    *out = std::move(packages);
    return 0;
}

}  // namespace strevo
