// Pieces shared by the codecs, the resampler and the bitmap inside the imaging layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/imaging/imaging.h"

namespace qx::imaging {
extern const Guid kJpegEncoder;
extern const Guid kBmpEncoder;
extern const Guid kPngEncoder;
}  // namespace qx::imaging

namespace qx::imaging::detail {

// Longest side a bitmap may have. 2^18 is above any camera or panorama stitcher in common use and keeps every
// row and offset computation far inside 32-bit signed range even at 4 bytes per pixel plus filter margins.
constexpr uint32_t kMaxDimension = 1u << 18;

// Straight (not premultiplied) 8-bit pixels, rows packed without padding.
struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;  // 1 grey, 3 RGB, 4 RGBA
    std::unique_ptr<uint8_t[]> data;

    size_t Stride() const { return size_t{width} * static_cast<size_t>(channels); }
    size_t Bytes() const { return Stride() * height; }
    uint8_t* Row(uint32_t y) { return data.get() + Stride() * y; }
    const uint8_t* Row(uint32_t y) const { return data.get() + Stride() * y; }
    bool Empty() const { return !data; }
    void Reset() { data.reset(); width = height = 0; channels = 0; }
    // Uninitialised memory with a few bytes of slack so that filters may load a whole word at a row's end.
    // false (and nothing allocated) beyond the size limits or when memory is short.
    bool Allocate(uint32_t w, uint32_t h, int ch);
};

// True when width x height is a size a bitmap may have.
bool SizeAllowed(uint64_t width, uint64_t height);

enum class FileFormat { Unknown, Jpeg, Png, Bmp };

// What the header of a file says, before any pixel is decoded.
struct SourceInfo {
    FileFormat format = FileFormat::Unknown;
    uint32_t width = 0;   // as stored in the file (before orientation)
    uint32_t height = 0;
    int channels = 3;     // of the decoded pixels
    bool hasAlpha = false;
    int orientation = 1;  // EXIF 1..8
    uint64_t workBytes = 0;  // memory a decode needs besides its pixels (file data, coefficient buffers)
    int64_t fileSize = 0;
};

FileFormat SniffFormat(const uint8_t* head, size_t length);

// Each returns false on anything it cannot handle; none of them throws or exits.
bool ReadJpegInfo(FILE* file, SourceInfo& info);
// denominator 1, 2, 4 or 8 (DCT scaling); the pixels come out as stored, orientation not yet applied.
bool DecodeJpeg(FILE* file, const SourceInfo& info, unsigned denominator, Pixels& out,
                std::vector<uint8_t>* icc);
bool EncodeJpeg(FILE* file, const Pixels& pixels, int quality, const std::vector<uint8_t>& icc);
// Denominator that suits drawing into target (in stored orientation), and the decoded size it gives.
unsigned ChooseJpegDenominator(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight);
inline uint32_t ScaledDimension(uint32_t dimension, unsigned denominator) {
    return static_cast<uint32_t>((uint64_t{dimension} + denominator - 1) / denominator);
}

bool ReadPngInfo(FILE* file, SourceInfo& info);
bool DecodePng(FILE* file, const SourceInfo& info, Pixels& out, std::vector<uint8_t>* icc);
// dropAlpha writes RGB from RGBA pixels (for images whose every pixel is opaque).
bool EncodePng(FILE* file, const Pixels& pixels, const std::vector<uint8_t>& icc, bool dropAlpha);

bool ReadBmpInfo(FILE* file, SourceInfo& info);
bool DecodeBmp(FILE* file, const SourceInfo& info, Pixels& out);
bool EncodeBmp(FILE* file, const Pixels& pixels, bool dropAlpha);
// True when every pixel is fully opaque (always for pixels without an alpha channel).
bool IsOpaque(const Pixels& pixels);

// EXIF Orientation from an APP1 payload ("Exif\0\0" + TIFF); 1 when absent or malformed.
int ParseExifOrientation(const uint8_t* data, size_t length);
// The image as viewers show it; out gets swapped sides for orientations 5..8.
bool ApplyOrientation(Pixels& pixels, int orientation);

// Separable Lanczos3 into width x height. Alpha is filtered premultiplied; `in` may be premultiplied in
// place when mayModifyInput is true (saves a copy).
bool Resample(Pixels& in, bool mayModifyInput, uint32_t width, uint32_t height, Pixels& out);

// Colour space signature of an ICC profile ("RGB ", "GRAY", "CMYK"), empty when too short.
std::string IccColourSpace(const std::vector<uint8_t>& icc);

}  // namespace qx::imaging::detail
