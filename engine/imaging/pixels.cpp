// Pixel buffers, size limits, EXIF orientation, errno texts.
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

// Slack after every buffer so that a filter may read one whole 4-byte word at the last pixel of a row.
constexpr size_t kSlack = 16;

// A photo decoded at full size takes tens of MB, which the system hands out in 4 KB pages, each faulted in on
// first touch: measured, a fifth of the time of recompressing photos at their own size. Buffers this large are
// aligned to and marked for 2 MB pages, which take one fault where small pages take 512.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeBufferBytes = size_t{8} << 20;

uint8_t* AllocatePixelMemory(size_t bytes) {
    if (bytes < kHugeBufferBytes) return static_cast<uint8_t*>(std::malloc(bytes));
    void* memory = nullptr;
    if (::posix_memalign(&memory, kHugePage, bytes) != 0) return nullptr;
    ::madvise(memory, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);  // a hint: without it, small pages
    return static_cast<uint8_t*>(memory);
}

template <int Channels>
void Transform(const Pixels& in, Pixels& out, int orientation) {
    const uint32_t w = in.width, h = in.height;
    for (uint32_t dy = 0; dy < out.height; ++dy) {
        uint8_t* dst = out.Row(dy);
        for (uint32_t dx = 0; dx < out.width; ++dx, dst += Channels) {
            uint32_t sx = dx, sy = dy;
            switch (orientation) {
                case 2:
                    sx = w - 1 - dx;
                    sy = dy;
                    break;
                case 3:
                    sx = w - 1 - dx;
                    sy = h - 1 - dy;
                    break;
                case 4:
                    sx = dx;
                    sy = h - 1 - dy;
                    break;
                case 5:
                    sx = dy;
                    sy = dx;
                    break;
                case 6:
                    sx = dy;
                    sy = h - 1 - dx;
                    break;
                case 7:
                    sx = w - 1 - dy;
                    sy = h - 1 - dx;
                    break;
                case 8:
                    sx = w - 1 - dy;
                    sy = dx;
                    break;
                default: break;
            }
            std::memcpy(dst, in.Row(sy) + size_t{sx} * Channels, Channels);
        }
    }
}

}  // namespace

bool SizeAllowed(uint64_t width, uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension && width * height <= kMaxPixels;
}

void PixelMemoryFree::operator()(uint8_t* memory) const { std::free(memory); }

bool Pixels::Allocate(uint32_t w, uint32_t h, int ch) {
    Reset();
    if (!SizeAllowed(w, h) || ch < 1 || ch > 4) return false;
    const size_t bytes = size_t{w} * h * static_cast<size_t>(ch) + kSlack;
    data.reset(AllocatePixelMemory(bytes));
    if (!data) return false;
    std::memset(data.get() + bytes - kSlack, 0, kSlack);
    width = w;
    height = h;
    channels = ch;
    return true;
}

int SettingForRate(std::span<const RatePoint> points, int rate) {
    if (points.empty()) return rate;
    if (rate <= points.front().rate) return points.front().setting;
    for (size_t i = 1; i < points.size(); ++i) {
        const RatePoint& a = points[i - 1];
        const RatePoint& b = points[i];
        if (rate > b.rate) continue;
        // Rounded half away from zero, in whole numbers only.
        const int span = b.rate - a.rate;
        const int scaled = (b.setting - a.setting) * (rate - a.rate);
        const int step = scaled >= 0 ? (2 * scaled + span) / (2 * span) : -((-2 * scaled + span) / (2 * span));
        return a.setting + step;
    }
    return points.back().setting;
}

bool ReadRest(FILE* file, std::vector<uint8_t>& bytes, Error& error, uint64_t limit) {
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes.size() + got > limit) return Fail(error, Failure::TooLarge);
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return !std::ferror(file) || Fail(error, Failure::Truncated, ErrnoText(errno));
}

std::string ErrnoText(int number) {
    char buffer[256];
    return ::strerror_r(number, buffer, sizeof buffer);  // the GNU form: returns the text
}

bool HasFileTypeBrand(const uint8_t* head, size_t length, const char* brand) {
    if (length < 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    if (std::memcmp(head + 8, brand, 4) == 0) return true;
    const size_t boxSize = size_t{head[0]} << 24 | size_t{head[1]} << 16 | size_t{head[2]} << 8 | head[3];
    // The minor version stands between the major brand and the compatible ones.
    for (size_t at = 16; at + 4 <= std::min(length, boxSize); at += 4) {
        if (std::memcmp(head + at, brand, 4) == 0) return true;
    }
    return false;
}

int ParseExifOrientation(const uint8_t* data, size_t length) {
    if (length < 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0) return 1;
    return ParseTiffOrientation(data + 6, length - 6);
}

int ParseTiffOrientation(const uint8_t* tiff, size_t size) {
    if (size < 8) return 1;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    auto u16 = [&](size_t at) -> uint32_t {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) return 1;
    const uint64_t ifd = u32(4);
    if (ifd + 2 > size) return 1;
    const uint32_t entries = u16(static_cast<size_t>(ifd));
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t at = ifd + 2 + uint64_t{i} * 12;
        if (at + 12 > size) return 1;
        if (u16(static_cast<size_t>(at)) != 0x0112) continue;
        const uint32_t type = u16(static_cast<size_t>(at + 2));
        uint32_t value = 0;
        if (type == 3)
            value = u16(static_cast<size_t>(at + 8));  // SHORT
        else if (type == 4)
            value = u32(static_cast<size_t>(at + 8));  // LONG, seen from some writers
        else
            return 1;
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

bool ApplyOrientation(Pixels& pixels, int orientation) {
    if (orientation < 2 || orientation > 8 || pixels.Empty()) return true;
    Pixels out;
    const bool swap = orientation >= 5;
    if (!out.Allocate(swap ? pixels.height : pixels.width, swap ? pixels.width : pixels.height, pixels.channels))
        return false;
    switch (pixels.channels) {
        case 1: Transform<1>(pixels, out, orientation); break;
        case 3: Transform<3>(pixels, out, orientation); break;
        default: Transform<4>(pixels, out, orientation); break;
    }
    pixels = std::move(out);
    return true;
}

bool IsOpaque(const Pixels& pixels) {
    if (pixels.channels != 4) return true;
    const uint8_t* p = pixels.data.get() + 3;
    const size_t count = size_t{pixels.width} * pixels.height;
    uint8_t all = 255;
    for (size_t i = 0; i < count; ++i) all &= p[i * 4];
    return all == 255;
}

std::string IccColourSpace(const std::vector<uint8_t>& icc) {
    if (icc.size() < 128) return {};
    return std::string(reinterpret_cast<const char*>(icc.data()) + 16, 4);
}

}  // namespace qx::imaging::detail
