// Helpers for the imaging tests: scratch folders, corpus paths, pixel access.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/imaging/imaging.h"

namespace qx::imaging::testing {

inline std::string Corpus(const std::string& relative) { return std::string(QUENDRIX_CORPUS) + "/" + relative; }

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qx-imaging-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        // A test may leave a folder read-only; make it writable again so that it can go.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    size_t EntryCount() const {
        size_t n = 0;
        for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(path_)) ++n;
        return n;
    }

private:
    std::string path_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline Guid EncoderFor(const std::u16string& mime) {
    for (const ImageCodecInfo& codec : GetImageEncoders())
        if (codec.mimeType == mime) return codec.clsid;
    return Guid{};
}

inline EncoderParameters Quality(const uint32_t& quality) {
    return {{EncoderQuality, 1, EncoderParameterValueTypeLong, &quality}};
}

inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }
inline int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

inline int MaxDifference(uint32_t p, uint32_t q) {
    int worst = 0;
    for (int shift : {0, 8, 16, 24}) worst = std::max(worst, std::abs(Channel(p, shift) - Channel(q, shift)));
    return worst;
}

// Mean of one channel over a rectangle.
inline double MeanChannel(Bitmap& bitmap, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, int shift) {
    double sum = 0;
    uint64_t n = 0;
    for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
            uint32_t argb = 0;
            if (!bitmap.GetPixel(x, y, argb)) return -1;
            sum += Channel(argb, shift);
            ++n;
        }
    return n ? sum / n : -1;
}

}  // namespace qx::imaging::testing
