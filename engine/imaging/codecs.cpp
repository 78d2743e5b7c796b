// The codec table: every file format the layer knows, in one place. A new format is a codec file with its
// CodecOperations and one row here.
#include <cstring>

#include "engine/ascii.h"
#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

namespace qx::imaging {

// Each codec file defines its operations.
namespace detail {
extern const CodecOperations kJpegOperations;
extern const CodecOperations kBmpOperations;
extern const CodecOperations kPngOperations;
extern const CodecOperations kWebpOperations;
extern const CodecOperations kAvifOperations;
extern const CodecOperations kHeifOperations;
extern const CodecOperations kJxlOperations;
}  // namespace detail

namespace {

// The JPEG encoder optimises its Huffman tables, so it keeps every DCT coefficient of the image: 64 16-bit
// values per 8x8 block and component, 6 bytes per pixel with full-resolution chroma. BMP encodes row by row.
constexpr uint64_t kJpegEncodeBytesPerPixel = 6;
// The PNG encoder deflates the whole filtered image at once: the filtered rows and room for the compressed stream,
// each up to 4 bytes per pixel, and the compressor's tables. Measured above the bitmap: 7.2 bytes per pixel on a
// 10 MP RGB photo, 10.8 on a 6 MP RGBA picture.
constexpr uint64_t kPngEncodeBytesPerPixel = 11;
// libwebp converts the whole picture to YUV 4:2:0 before it encodes (1.5 bytes per pixel) and keeps the
// bitstream and per-macroblock state beside it: 2.6 bytes per pixel above the bitmap, measured on a 24 MP photo.
// An alpha plane adds 1 more.
constexpr uint64_t kWebpEncodeBytesPerPixel = 4;
// libavif converts the whole image to 10-bit YUV planes, and aom keeps its own padded frame buffers (source,
// lookahead, reconstruction) in 16-bit samples: 20 bytes per pixel above the bitmap at 4:2:0 and 36 at 4:4:4
// (Rate 90 and more), measured on a 24 MP photo. With an alpha plane (encoded at 8 bits) it took 28.
constexpr uint64_t kAvifEncodeBytesPerPixel = 40;
// libjxl keeps the whole picture as 32-bit float planes in its own colour space, with its coefficients and
// per-block state beside them: 46 bytes per pixel above the bitmap at Rate 80 and 95, 52 at Rate 30, and 65 with
// an alpha plane, measured on a 24 MP photo. A lossless repack of a JPEG source takes less (26).
constexpr uint64_t kJxlEncodeBytesPerPixel = 68;

// Output types and input-type bits are stored in settings files: a row keeps its numbers for good.
constexpr Codec kCodecs[] = {
    // name  description  MIME type     extension  more input names  output type, input bit, encoder bytes/pixel,
    // operations, whether its encoder takes a quality
    {"jpg", "JPG", "image/jpeg", ".jpg", {".jpeg"}, 0, 1, kJpegEncodeBytesPerPixel, &detail::kJpegOperations, true},
    {"bmp", "BMP", "image/bmp", ".bmp", {}, 1, 0, 0, &detail::kBmpOperations, false},
    {"png", "PNG", "image/png", ".png", {}, 2, 2, kPngEncodeBytesPerPixel, &detail::kPngOperations, false},
    // Their input bits 3..5 (and JPEG XL's 6) are stored as bits 0..3 of WeitereEingabeTypen, beside
    // EingabeTyp's three.
    {"webp", "WebP", "image/webp", ".webp", {}, 3, 4, kWebpEncodeBytesPerPixel, &detail::kWebpOperations, true},
    {"avif", "AVIF", "image/avif", ".avif", {}, 4, 5, kAvifEncodeBytesPerPixel, &detail::kAvifOperations, true},
    // Read only: no output type.
    {"heic", "HEIC/HEIF", "image/heic", ".heic", {".heif", ".hif"}, -1, 3, 0, &detail::kHeifOperations, false},
    {"jxl", "JPEG XL", "image/jxl", ".jxl", {}, 5, 6, kJxlEncodeBytesPerPixel, &detail::kJxlOperations, true},
};

template <typename Match>
const Codec* Find(Match match) {
    for (const Codec& codec : kCodecs) {
        if (match(codec)) return &codec;
    }
    return nullptr;
}

}  // namespace

bool Codec::HasExtension(std::string_view text) const {
    if (extension != nullptr && EqualsIgnoringAsciiCase(text, extension)) return true;
    for (const char* more : moreExtensions) {
        if (more != nullptr && EqualsIgnoringAsciiCase(text, more)) return true;
    }
    return false;
}

std::span<const Codec> Codecs() { return kCodecs; }

const Codec* FindCodecByMimeType(std::string_view mimeType) {
    return Find([&](const Codec& codec) { return mimeType == codec.mimeType; });
}

const Codec* FindCodecByOutputType(int32_t outputType) {
    return Find([&](const Codec& codec) { return outputType >= 0 && codec.outputType == outputType; });
}

const Codec* FindCodecByName(std::string_view name) {
    return Find([&](const Codec& codec) { return name == codec.name; });
}

namespace detail {

const Codec* SniffCodec(const uint8_t* head, size_t length) {
    return Find([&](const Codec& codec) {
        return codec.operations->sniff != nullptr && codec.operations->sniff(head, length);
    });
}

}  // namespace detail

const char* FailureName(Failure failure) {
    switch (failure) {
        case Failure::None: return "no failure";
        case Failure::OpenFailed: return "cannot open the file";
        case Failure::NotAFile: return "not a regular file";
        case Failure::UnknownFormat: return "unknown file format";
        case Failure::BadHeader: return "broken or unsupported header";
        case Failure::TooLarge: return "image too large";
        case Failure::BrokenData: return "broken image data";
        case Failure::SourceChanged: return "file changed since its header was read";
        case Failure::OutOfMemory: return "out of memory";
        case Failure::BadSize: return "no bitmap of that size";
        case Failure::NoEncoder: return "no encoder";
        case Failure::TargetIsSource: return "target is a source";
        case Failure::CreateFailed: return "cannot create the target file";
        case Failure::EncodeFailed: return "encoder failed";
        case Failure::WriteFailed: return "write failed";
        case Failure::Abandoned: return "process ending";
        case Failure::Truncated: return "image data cut short";
    }
    return "unknown failure";
}

}  // namespace qx::imaging
