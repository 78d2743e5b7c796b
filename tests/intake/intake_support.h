// Real folders and real image files for the intake and command-line tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "engine/compress.h"
#include "engine/imaging/imaging.h"

namespace qx::test {

// A fresh folder under a mkdtemp directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quendrix-intake-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A width x height image of type `mime`, written by the imaging layer, with a gradient so that it is no blank.
inline void WriteImage(const std::string& path, uint32_t width, uint32_t height, const std::u16string& mime) {
    auto bitmap = imaging::Bitmap::CreateArgb(width, height);
    ASSERT_TRUE(bitmap);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t r = x * 255 / width, g = y * 255 / height, b = (x + y) & 0xFF;
            bitmap->SetPixel(x, y, 0xFF000000u | r << 16 | g << 8 | b);
        }
    }
    imaging::Guid clsid{};
    ASSERT_GE(FindEncoderByMime(mime, clsid), 0);
    uint32_t quality = 85;
    const imaging::EncoderParameters parameters = {
        {imaging::EncoderQuality, 1, imaging::EncoderParameterValueTypeLong, &quality}};
    ASSERT_TRUE(bitmap->Save(path, clsid, parameters)) << path;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

namespace detail {
inline uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
inline std::string BigEndian32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
inline std::string Chunk(const std::string& typeAndData) {
    return BigEndian32(static_cast<uint32_t>(typeAndData.size() - 4)) + typeAndData + BigEndian32(Crc32(typeAndData));
}
}  // namespace detail

// A PNG with an intact header of width x height pixels whose pixel data is two bytes of garbage.
inline std::string PngWithBrokenPixels(uint32_t width, uint32_t height) {
    using namespace detail;
    const std::string ihdr = "IHDR" + BigEndian32(width) + BigEndian32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk(ihdr) + Chunk("IDATxx") + Chunk("IEND");
}

}  // namespace qx::test
