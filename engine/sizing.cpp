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

std::u16string ToWide(const std::string& text, size_t capacity) {
    std::u16string wide;
    if (capacity == 0) return wide;
    const size_t limit = capacity - 1;  // room for the terminator
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned char lead = bytes[i];
        char32_t code = 0xFFFD;
        size_t length = 1;
        size_t expected = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
        if (expected == 1) {
            code = lead;
        } else if (expected > 1 && i + expected <= n) {
            char32_t value = lead & (0x7F >> expected);
            bool valid = true;
            for (size_t k = 1; k < expected; ++k) {
                if ((bytes[i + k] & 0xC0) != 0x80) {
                    valid = false;
                    break;
                }
                value = (value << 6) | (bytes[i + k] & 0x3F);
            }
            static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            if (valid && value >= kLeast[expected] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                code = value;
                length = expected;
            }
        }
        const size_t units = code >= 0x10000 ? 2 : 1;
        if (wide.size() + units > limit) break;
        if (units == 2) {
            code -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return wide;
}

bool GetFileIdentity(const std::string& path, FileIdentity& identity) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    identity = {status.st_dev, status.st_ino};
    return true;
}

}  // namespace qx
