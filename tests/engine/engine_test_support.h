// Real folders, real image files and recorders for the engine tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/compress.h"
#include "engine/imaging/imaging.h"

namespace qx::test {

// A fresh folder under a mkdtemp directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quendrix-engine-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = made;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class RecordingMessages : public MessageBoxService {
public:
    void ShowMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

inline const imaging::Guid& EncoderFor(const std::u16string& mime) {
    static std::mutex mutex;
    static std::vector<std::pair<std::u16string, imaging::Guid>> cache;
    std::lock_guard lock(mutex);
    for (auto& [m, g] : cache)
        if (m == mime) return g;
    imaging::Guid clsid{};
    EXPECT_GE(FindEncoderByMime(mime, clsid), 0);
    cache.emplace_back(mime, clsid);
    return cache.back().second;
}

// Writes a width x height image of type `mime` with a real photo drawn into it, so the pixels are not blank.
inline void MakeImage(const std::string& path, uint32_t width, uint32_t height,
                      const std::u16string& mime = u"image/png") {
    auto bitmap = imaging::Bitmap::CreateArgb(width, height);
    ASSERT_TRUE(bitmap) << width << "x" << height;
    auto photo = imaging::Bitmap::FromFile(std::string(QUENDRIX_CORPUS) + "/libjpeg-turbo/testorig.jpg");
    if (photo) imaging::Graphics(*bitmap).DrawImage(*photo, 0, 0, static_cast<int>(width), static_cast<int>(height));
    uint32_t quality = 90;
    imaging::EncoderParameters parameters = {
        {imaging::EncoderQuality, 1, imaging::EncoderParameterValueTypeLong, &quality}};
    ASSERT_TRUE(bitmap->Save(path, EncoderFor(mime), parameters)) << path;
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// Width and height of a fully decoded image file, or nothing when it does not decode.
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedSize(const std::string& path) {
    auto bitmap = imaging::Bitmap::FromFile(path);
    if (!bitmap || !bitmap->Decode()) return std::nullopt;
    return std::make_pair(bitmap->Width(), bitmap->Height());
}

inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace qx::test
