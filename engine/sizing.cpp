// The size rules and text helpers of compress.h that need no image.
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <optional>

#include "engine/compress.h"

namespace qx {
namespace {

// The candidate side w * box / h, computed wide: a source of up to 262144 pixels per side times a box of up
// to 10000 does not fit in 32 bits. Truncates toward zero like the 32-bit division always did. Nothing
// when the result cannot be held as a side (it then fits no box).
std::optional<int32_t> ScaledSide(int32_t side, int32_t box, int32_t other) {
    const int64_t scaled = int64_t{side} * box / other;  // |side * box| < 2^62: neither step overflows
    if (scaled < INT32_MIN || scaled > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(scaled);
}

}  // namespace

void FitIntoBox(int32_t& width, int32_t& height, int32_t maxWidth, int32_t maxHeight) {
    if (width == 0 || height == 0) return;
    const std::optional<int32_t> candidateWidth = ScaledSide(width, maxHeight, height);
    if (candidateWidth && *candidateWidth <= maxWidth) {
        width = *candidateWidth;
        height = maxHeight;
        return;
    }
    const std::optional<int32_t> candidateHeight = ScaledSide(height, maxWidth, width);
    if (candidateHeight && *candidateHeight <= maxHeight) {
        width = maxWidth;
        height = *candidateHeight;
    }
}

TargetSize ComputeTargetSize(const MainSettings& settings, uint32_t width, uint32_t height) {
    switch (settings.Bildsize) {
        case kSizePercent: return {width * settings.Prozent / 100, height * settings.Prozent / 100};
        case kSizeBox: {
            int32_t w = static_cast<int32_t>(width);
            int32_t h = static_cast<int32_t>(height);
            FitIntoBox(w, h, static_cast<int32_t>(settings.Breite), static_cast<int32_t>(settings.Hoehe));
            return {static_cast<uint32_t>(w), static_cast<uint32_t>(h)};
        }
        default: return {width, height};
    }
}

bool IsLeftAloneByNoEnlarge(const MainSettings& settings, uint32_t width, uint32_t height, TargetSize target) {
    return settings.NichtVergroessern != 0 && width <= target.width && height <= target.height;
}

bool GetFileIdentity(const std::string& path, FileIdentity& identity) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    identity = {status.st_dev, status.st_ino};
    return true;
}

}  // namespace qx
