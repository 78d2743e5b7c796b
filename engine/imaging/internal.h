// Pieces shared by the codecs, the resampler and the bitmap inside the imaging layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/imaging/imaging.h"

namespace qx::imaging::detail {

// Longest side a bitmap may have. 2^18 is above any camera or panorama stitcher in common use and keeps every
// row and offset computation far inside 32-bit signed range even at 4 bytes per pixel plus filter margins.
constexpr uint32_t kMaxDimension = 1u << 18;

// The most pixels a video-coded still (HEVC in HEIC, AV1 in AVIF) of these sides may code: whole blocks of up
// to 64 luma samples, the rest cropped. Their decoders set up frames of the coded size before anything
// compares it with the image's, so a small file announcing more could make them ask for gigabytes.
constexpr uint32_t kMostCodingBlock = 64;
inline uint64_t MostCodedPixels(uint32_t width, uint32_t height) {
    return (uint64_t{width} + kMostCodingBlock) * (uint64_t{height} + kMostCodingBlock);
}

// Frees what Pixels::Allocate took.
struct PixelMemoryFree {
    void operator()(uint8_t* memory) const;
};

// Straight (not premultiplied) 8-bit pixels, rows packed without padding.
struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;  // 1 grey, 3 RGB, 4 RGBA
    std::unique_ptr<uint8_t[], PixelMemoryFree> data;

    size_t Stride() const { return size_t{width} * static_cast<size_t>(channels); }
    size_t Bytes() const { return Stride() * height; }
    uint8_t* Row(uint32_t y) { return data.get() + Stride() * y; }
    const uint8_t* Row(uint32_t y) const { return data.get() + Stride() * y; }
    bool Empty() const { return !data; }
    void Reset() {
        data.reset();
        width = height = 0;
        channels = 0;
    }
    // Uninitialised memory with a few bytes of slack so that filters may load a whole word at a row's end.
    // false (and nothing allocated) beyond the size limits or when memory is short.
    bool Allocate(uint32_t w, uint32_t h, int ch);
};

// True when width x height is a size a bitmap may have.
bool SizeAllowed(uint64_t width, uint64_t height);

// What the header of a file says, before any pixel is decoded.
struct SourceInfo {
    const Codec* codec = nullptr;
    uint32_t width = 0;  // as stored in the file (before orientation)
    uint32_t height = 0;
    int channels = 3;  // of the decoded pixels
    bool hasAlpha = false;
    bool animated = false;   // more frames than the first, which is all that is read
    int orientation = 1;     // EXIF 1..8
    uint64_t workBytes = 0;  // memory a decode needs besides its pixels (file data, coefficient buffers)
    int64_t fileSize = 0;
    // The metadata blocks as the file holds them, for outputs that keep them: EXIF as a TIFF structure
    // (without the "Exif\0\0" of JPEG's APP1), XMP as its XML packet. Empty when absent.
    std::vector<uint8_t> exif;
    std::vector<uint8_t> xmp;
};

// What an encoder is given besides the pixels. A format that carries metadata writes the blocks it is
// given; none is given unless the user keeps metadata, and then already fitted to the output (PrepareExif).
struct EncodeOptions {
    int quality = 75;                            // 0..100, for the lossy formats
    const std::vector<uint8_t>* icc = nullptr;   // the colour profile to embed where it fits the output
    const std::vector<uint8_t>* exif = nullptr;  // EXIF as a TIFF structure (no "Exif\0\0"); null: none
    const std::vector<uint8_t>* xmp = nullptr;   // the XMP packet; null: none
    bool baseline = false;                       // JPEG: one sequential scan, for decoders that know no other
};

// The XMP namespace that heads a JPEG APP1 segment holding XMP, with its terminating zero.
inline constexpr char kXmpJpegHeader[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr size_t kXmpJpegHeaderSize = sizeof kXmpJpegHeader;  // the zero included
// The PNG iTXt keyword of an XMP packet.
inline constexpr char kXmpPngKeyword[] = "XML:com.adobe.xmp";

// EXIF fitted to an output of width x height whose pixels are already upright: Orientation 1 (one value), the
// pixel dimensions it states set to the output's, no thumbnail when the picture was turned, and without the
// GPS position when `dropGps`. Every other byte stays where it was. Empty when the block cannot be read (the
// output then carries no EXIF rather than a broken one).
std::vector<uint8_t> PrepareExif(const std::vector<uint8_t>& tiff, uint32_t width, uint32_t height, bool dropGps);
// The XMP packet fitted the same way: tiff:Orientation 1, the pixel dimensions of EXIF and TIFF it states set
// to the output's, every GPS property of the EXIF namespaces gone when `dropGps`, and no pointer to an
// extension that is not carried. Empty when the packet cannot be read.
std::vector<uint8_t> PrepareXmp(const std::vector<uint8_t>& xmp, uint32_t width, uint32_t height, bool dropGps);

// What a codec file gives its row of the codec table. Each operation returns false on anything it cannot
// handle, with the reason in `error`; none of them throws or exits. A format that is only written has no
// sniff, readHeader and decode (nullptr).
struct CodecOperations {
    // Bytes the sniff is given at most (fewer for shorter files).
    static constexpr size_t kSniffBytes = 32;  // HEIF and AVIF name their kind in the first brands
    // True when the first bytes of a file are this format's.
    bool (*sniff)(const uint8_t* head, size_t length);
    // Fills `info` (all but codec and fileSize, which the caller sets) from the header; the file is at its start.
    bool (*readHeader)(FILE* file, SourceInfo& info, Error& error);
    // The pixels as stored (orientation not applied) at 1/denominator of the size, and the colour profile into
    // `icc` when given; the file is at its start.
    bool (*decode)(FILE* file, const SourceInfo& info, unsigned denominator, Pixels& out, std::vector<uint8_t>* icc,
                   Error& error);
    // The denominator (1, 2, 4 or 8) that suits drawing a width x height image into target (both in stored
    // orientation); nullptr when the codec decodes at full size only.
    unsigned (*scaleDenominator)(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight);
    // Writes the pixels into the file, which is at its start.
    bool (*encode)(FILE* file, const Pixels& pixels, const EncodeOptions& options, Error& error);
};

// The JPEG file `jpeg` repacked into the file as JPEG XL without loss: the same coefficients, and what it takes
// to give the JPEG file back byte for byte. Fails (EncodeFailed) for a JPEG the format cannot carry so, such as
// arithmetic-coded or CMYK ones.
bool RepackJpegAsJxl(FILE* file, const std::vector<uint8_t>& jpeg, Error& error);

// One point of a lossy encoder's quality curve: the encoder's own setting that gives, at this Rate, about
// the look of our JPEG file of the same Rate.
struct RatePoint {
    int rate;
    int setting;
};
// The setting for `rate` (0..100), linear between the points (in rising rate order), rounded to the nearest.
int SettingForRate(std::span<const RatePoint> points, int rate);

// True when the first bytes of a file are an ISO base media file type box that names `brand` (four
// characters) as its major brand or as one of the compatible brands among these bytes.
bool HasFileTypeBrand(const uint8_t* head, size_t length, const char* brand);

// The codec whose sniff takes these first bytes of a file; nullptr for none.
const Codec* SniffCodec(const uint8_t* head, size_t length);

inline uint32_t ScaledDimension(uint32_t dimension, unsigned denominator) {
    return static_cast<uint32_t>((uint64_t{dimension} + denominator - 1) / denominator);
}

// The reduction while decoding (1, 2, 4 or 8) that leaves at least 2.5 times the target for the resampler: a
// codec's own reduction is a crude filter, and one real Lanczos step of that size hides it (measured on JPEG:
// 2x loses a little against the peers, 3x gains little more for 15% more time).
inline unsigned ReductionLeavingRoom(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight) {
    for (unsigned denominator : {8u, 4u, 2u}) {
        if (uint64_t{ScaledDimension(width, denominator)} >= uint64_t{targetWidth} * 5 / 2 &&
            uint64_t{ScaledDimension(height, denominator)} >= uint64_t{targetHeight} * 5 / 2)
            return denominator;
    }
    return 1;
}

// True when every pixel is fully opaque (always for pixels without an alpha channel).
bool IsOpaque(const Pixels& pixels);

// Sets `error` and gives false, for `return Fail(...)` where an operation gives up.
inline bool Fail(Error& error, Failure failure, std::string detail = {}) {
    error = {failure, std::move(detail)};
    return false;
}

// True when a header's width x height is a size a bitmap may have; otherwise false with the reason: a header
// without pixels is a broken one, not a large one.
inline bool HeaderSizeAllowed(uint64_t width, uint64_t height, Error& error) {
    if (SizeAllowed(width, height)) return true;
    if (width == 0 || height == 0) return Fail(error, Failure::BadHeader, "image without pixels");
    return Fail(error, Failure::TooLarge);
}

// The rest of a file from where it stands, for decoders that take their input in one piece. false when it
// cannot be read or is larger than `limit`.
bool ReadRest(FILE* file, std::vector<uint8_t>& bytes, Error& error, uint64_t limit = uint64_t{1} << 31);

// The butteraugli distance (libjxl, the 3-norm over the image) of `candidate` from `reference`, both of one
// size. false when it cannot be computed; `error` then says why.
bool ButteraugliDistance(const Pixels& reference, const Pixels& candidate, float& distance, Error& error);

// The system's text for an errno value.
std::string ErrnoText(int number);

// EXIF Orientation from an APP1 payload ("Exif\0\0" + TIFF); 1 when absent or malformed.
int ParseExifOrientation(const uint8_t* data, size_t length);
// The same from the TIFF structure alone (as a PNG's eXIf chunk holds it).
int ParseTiffOrientation(const uint8_t* tiff, size_t size);
// The TIFF structure of an EXIF block as the containers store it: bare, after "Exif\0\0" (JPEG's APP1 and
// some WebP writers), or after the 4-byte offset to the TIFF header that HEIF and AVIF items begin with. Empty
// when no TIFF header is where one of these puts it.
std::vector<uint8_t> TiffFromExifBlock(const uint8_t* data, size_t size);
// The image as viewers show it; out gets swapped sides for orientations 5..8.
bool ApplyOrientation(Pixels& pixels, int orientation);

// Separable Lanczos3 into width x height. Alpha is filtered premultiplied; `in` may be premultiplied in
// place when mayModifyInput is true (saves a copy).
bool Resample(Pixels& in, bool mayModifyInput, uint32_t width, uint32_t height, Pixels& out);
// Whether the resampler may use AVX2 where the processor has it (it does unless told otherwise); tests compare
// its output with the SSE2 path's.
void AllowAvx2Resampling(bool allowed);

// Colour space signature of an ICC profile ("RGB ", "GRAY", "CMYK"), empty when too short.
std::string IccColourSpace(const std::vector<uint8_t>& icc);

}  // namespace qx::imaging::detail
