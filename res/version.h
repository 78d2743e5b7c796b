// The version record of a program file, read back from the file on disk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qx {

struct VersionInfo {
    std::array<uint16_t, 4> fileVersion{};  // major, minor, build, revision
    std::array<uint16_t, 4> productVersion{};
    uint32_t fileFlagsMask = 0;
    uint32_t fileFlags = 0;
    uint32_t fileOs = 0;
    uint32_t fileType = 0;
    uint16_t language = 0;
    uint16_t codePage = 0;
    std::vector<std::pair<std::string, std::string>> strings;  // in record order
};

// The record of the executable `fileName`; false when the file cannot be read, is not an ELF file, or
// holds no (intact) record.
bool ReadVersionRecord(const std::string& fileName, VersionInfo& info);

// The file version of `fileName` (the running program when empty) as "1,0,0,6"; "" on any failure.
std::string GetVersionString(const std::string& fileName = std::string());

}  // namespace qx
