// The imaging layer: bitmaps from files, scaled drawing, saving in one of the formats of its codec table.
// Every operation reports success or failure, and on request why it failed. Safe for many threads at once, each
// on its own bitmaps.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::imaging {

namespace detail {
struct CodecOperations;
}

// One file format the layer reads and writes: a row of the codec table (codecs.cpp). The operations behind it
// (content sniff, header read, decode, encode) live in the format's own codec file.
struct Codec {
    const char* name;                           // the command line's word for it: "jpg"
    const char* description;                    // "JPG": its name in the window's texts
    const char* mimeType;                       // "image/jpeg"
    const char* extension;                      // ".jpg": of its output files, and taken as input (letter case ignored)
    std::array<const char*, 3> moreExtensions;  // ".jpeg": further names taken as input; nullptr ends the list
    int outputType;                             // its AusgabeTyp, -1 when it is no output type
    int inputTypeBit;                           // its bit in InputTypeFlags, -1 when no input type selects it
    uint64_t encodeBytesPerPixel;               // memory the encoder takes per pixel besides the bitmap's own
    const detail::CodecOperations* operations;
    bool takesQuality;  // its encoder uses the quality (and so can meet a size limit by it)

    // True when `extension` (with its dot) is one of its extensions, letter case ignored.
    bool HasExtension(std::string_view extension) const;
};

// The codec table, in a fixed order.
std::span<const Codec> Codecs();
// Lookups in the codec table; nullptr when no row matches.
const Codec* FindCodecByMimeType(std::string_view mimeType);  // exact, case-sensitive
const Codec* FindCodecByOutputType(int32_t outputType);
const Codec* FindCodecByName(std::string_view name);  // exact

// Why an operation failed. Each value has a fixed meaning; Error::detail adds the words of whoever noticed
// it, where there are any: the codec library's own message, or the system's text for errno.
enum class Failure {
    None = 0,
    OpenFailed,     // the file cannot be opened (detail: errno text)
    NotAFile,       // a folder, a pipe or a device
    UnknownFormat,  // the first bytes belong to no format of the codec table
    BadHeader,      // the header is broken or of a kind the codec does not read
    TooLarge,       // more pixels than a bitmap may have
    BrokenData,     // the pixel data cannot be decoded
    SourceChanged,  // the file was replaced or changed since its header was read
    OutOfMemory,
    BadSize,         // no bitmap can have the size asked for (0, or too many pixels)
    NoEncoder,       // no format to save in
    TargetIsSource,  // the target names the file the bitmap was read from
    CreateFailed,    // no new file can be made in the target folder (detail: errno text)
    EncodeFailed,    // the encoder refused the image
    WriteFailed,     // writing or completing the file failed (detail: errno text)
    Abandoned,       // the process is ending: no save replaces anything any more
    Truncated,       // the file ends before its pixel data does
};

struct Error {
    Failure failure = Failure::None;
    std::string detail;
};

// A short English name of the failure ("broken data"), for logs and test output.
const char* FailureName(Failure failure);

// A bitmap: created from a file (only the header is read; pixels are decoded when first needed) or blank.
class Bitmap {
public:
    // Reads the file's header. nullptr when the file is missing, unreadable, in no format of the codec
    // table, or claims more pixels than the layer accepts; `error` (if given) then says which.
    static std::unique_ptr<Bitmap> FromFile(const std::string& path, Error* error = nullptr);
    // A new, blank (transparent) 32-bit ARGB bitmap. nullptr for a size of 0 or too large.
    static std::unique_ptr<Bitmap> CreateArgb(uint32_t width, uint32_t height);

    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // The codec table's row the file was read with, found by its content; a blank bitmap has none (nullptr).
    const Codec* Format() const;
    uint32_t Width() const;  // as viewers show it (EXIF orientation applied)
    uint32_t Height() const;
    bool HasAlpha() const;
    bool IsAnimated() const;  // the source has more frames than the one read

    // Decoded pixel memory this bitmap will need to be drawn at (width x height), so that callers can
    // budget memory before the decode happens. Drawing at the bitmap's own size gives the full decode.
    uint64_t DecodeBytesFor(uint32_t width, uint32_t height) const;

    // Decodes the whole image at its own size now, if not done yet. false when the data is broken.
    bool Decode(Error* error = nullptr);

    // Encodes to `path` in `format` with `quality` (0..100, used by the lossy formats); a temporary file in
    // the target folder is renamed over the target only when complete. false on any failure; an old file at
    // `path` then stays as it was.
    bool Save(const std::string& path, const Codec& format, int quality, Error* error = nullptr);
    // What a save may do besides encoding at one quality.
    struct SaveOptions {
        int quality = 75;             // 0..100; the highest tried when maxBytes is set
        bool keepMetadata = false;    // EXIF and XMP of the source into formats that carry them
        bool dropGps = true;          // kept EXIF without its GPS position
        uint64_t maxBytes = 0;        // > 0: for a format with a quality, the highest quality whose output fits
        uint64_t onlyBelowBytes = 0;  // > 0: an output of at least this many bytes is not written
        // > 0: for a format with a quality and a decoder, the lowest quality up to `quality` whose decoded
        // output stays within this butteraugli distance; maxBytes, when set too, may lower it further.
        float maxDistance = 0;
        int qualityGuess = -1;  // where that search starts (the answer for a similar image); -1: at `quality`
        // A JPEG file saved as JPEG XL at its own size, upright as stored and with its metadata as it would be
        // kept, is repacked without loss instead of encoded from its pixels (when that fits maxBytes).
        bool repackJpeg = false;
        bool jpegBaseline = false;  // JPEG in one sequential scan instead of progressive ones
    };
    struct SaveOutcome {
        int quality = -1;          // the quality encoded with
        int encodes = 0;           // encodes made (more than 1 while searching for the size limit)
        uint64_t bytes = 0;        // size of the output (also of one not written)
        bool limitMissed = false;  // not even quality 0 fits maxBytes: written at 0
        bool notSmaller = false;   // not written: not fewer bytes than onlyBelowBytes (Save gives false, no error)
        float distance = -1;       // butteraugli distance of the output from the pixels; -1 when not measured
        bool limitWon = false;     // maxBytes took the quality below the one maxDistance asked for
        bool repacked = false;     // the JPEG file's own data, repacked without loss
    };
    bool Save(const std::string& path, const Codec& format, const SaveOptions& options, SaveOutcome* outcome,
              Error* error = nullptr);

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
    // the source if needed (at a reduced scale that suits the rectangle where its codec decodes at one). The
    // target adopts the source's colour profile. false when the source cannot be decoded.
    bool DrawImage(Bitmap& source, int x, int y, int width, int height, Error* error = nullptr);

private:
    Bitmap& target_;
};

// Memory a save of this many pixels takes besides the encoder's when it searches by butteraugli distance:
// libjxl's butteraugli (about 256 bytes a pixel, measured at 640x480 and 1280x960, up to the largest piece it
// is given at once), and per pixel the decoded candidate, the decoder's planes and two encoded candidates.
uint64_t DistanceSearchBytes(uint64_t pixels);

// Largest number of pixels a bitmap may have; larger headers are refused before any pixel memory is taken.
extern const uint64_t kMaxPixels;

}  // namespace qx::imaging
