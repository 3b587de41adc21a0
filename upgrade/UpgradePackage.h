// Firmware package files: the name shown for each, the upgrade request that
// announces one, and reading them whole before any camera is touched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace strevo {

constexpr size_t kMaxPackagePath = 259;  // characters, without the terminator
constexpr size_t kMaxTypeName = 63;

struct UpgradePackage {
    std::string path;
    std::string typeName;
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> contents;  // size bytes
};

// The name shown in the status texts for the package at position index of
// the list: the first of uimage, uboot, extrootfs, rootfs, terrans, updata
// found anywhere in the lower-cased path, else the position counted from 1.
std::string PackageTypeName(const std::string& path, int index);

// The upgrade request's text (cJSON's formatted print of FileType 2 and
// FileSize), without the terminating zero that goes with it on the wire.
std::string BuildUpgradeRequest(uint32_t fileSize);

// Reads every listed file whole, in list order. On the first file that
// cannot be opened or read in full (its path too long, or no memory for it)
// the operator is told and -1 is returned, out unchanged; otherwise 0 and out
// holds the packages.
int ReadPackages(const std::vector<std::string>& paths, std::vector<UpgradePackage>* out);

}  // namespace strevo
