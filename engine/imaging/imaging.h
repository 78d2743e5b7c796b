// The imaging layer: bitmaps from files, scaled drawing, encoders by MIME type, saving.
// Every operation reports only success or failure. Safe for many threads at once, each on its own bitmaps.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx::imaging {

// Start-up and shutdown of the layer, held for the process's lifetime by the application object.
class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

using Guid = std::array<uint8_t, 16>;

// The encoder quality parameter's identifier {1d5be4b5-fa4a-452d-9cdd-5db35105e7eb}.
extern const Guid EncoderQuality;
constexpr uint32_t EncoderParameterValueTypeLong = 4;

struct EncoderParameter {
    Guid guid{};
    uint32_t numberOfValues = 0;
    uint32_t type = 0;
    const void* value = nullptr;  // numberOfValues values of `type`
};
using EncoderParameters = std::vector<EncoderParameter>;

struct ImageCodecInfo {
    Guid clsid{};
    std::u16string mimeType;       // "image/jpeg", "image/bmp", "image/png"
    std::string formatDescription; // "JPEG", "BMP", "PNG"
    std::string filenameExtension; // "*.JPG;*.JPEG;*.JPE;*.JFIF"
};

// A copy of the table of encoders, freshly made on each call.
std::vector<ImageCodecInfo> GetImageEncoders();

// A bitmap: created from a file (only the header is read; pixels are decoded when first needed) or blank.
class Bitmap {
public:
    // Reads the file's header. nullptr when the file is missing, unreadable, not a JPEG/PNG/BMP image,
    // or claims more pixels than the layer accepts.
    static std::unique_ptr<Bitmap> FromFile(const std::string& path);
    // A new, blank (transparent) 32-bit ARGB bitmap. nullptr for a size of 0 or too large.
    static std::unique_ptr<Bitmap> CreateArgb(uint32_t width, uint32_t height);

    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    uint32_t Width() const;   // as viewers show it (EXIF orientation applied)
    uint32_t Height() const;
    bool HasAlpha() const;

    // Decoded pixel memory this bitmap will need to be drawn at (width x height), so that callers can
    // budget memory before the decode happens. Drawing at the bitmap's own size gives the full decode.
    uint64_t DecodeBytesFor(uint32_t width, uint32_t height) const;

    // Decodes the whole image at its own size now, if not done yet. false when the data is broken.
    bool Decode();

    // Encodes to `path` with the encoder `clsid`; a temporary file in the target folder is renamed over the
    // target only when complete. false on any failure; an old file at `path` then stays as it was.
    bool Save(const std::string& path, const Guid& clsid, const EncoderParameters& parameters);

    // One pixel as 0xAARRGGBB (straight alpha); decodes first if needed. false outside the bitmap or when
    // the data is broken.
    bool GetPixel(uint32_t x, uint32_t y, uint32_t& argb);
    bool SetPixel(uint32_t x, uint32_t y, uint32_t argb);

    struct Impl;
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }

private:
    explicit Bitmap(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A drawing surface on a bitmap.
class Graphics {
public:
    explicit Graphics(Bitmap& target);
    // Draws the whole source scaled into the rectangle with a high-quality antialiasing filter; decodes
    // the source if needed (a JPEG at the DCT scale that suits the rectangle). The target adopts the
    // source's colour profile. false when the source cannot be decoded.
    bool DrawImage(Bitmap& source, int x, int y, int width, int height);

private:
    Bitmap& target_;
};

// Largest number of pixels a bitmap may have; larger headers are refused before any pixel memory is taken.
extern const uint64_t kMaxPixels;

}  // namespace qx::imaging
