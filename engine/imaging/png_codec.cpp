// PNG through libspng: header, decode to grey/RGB/RGBA 8-bit with ICC; encode in the smallest lossless form.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <libdeflate.h>
#include <spng.h>

#include "engine/imaging/internal.h"
#include "engine/imaging/png_pack.h"

namespace qx::imaging::detail {
namespace {

// No real ancillary chunk comes near these; larger ones (claimed or inflated, as in text bombs) are refused
// instead of being read into memory.
constexpr size_t kChunkSizeLimit = 64u << 20;
constexpr size_t kChunkCacheLimit = 64u << 20;

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

// The library's number and words for what went wrong.
bool Fail(Error& error, Failure failure, int result) { return detail::Fail(error, failure, spng_strerror(result)); }

Context OpenDecoder(FILE* file, Error& error) {
    Context ctx(spng_ctx_new(0));
    if (!ctx) {
        detail::Fail(error, Failure::OutOfMemory);
        return ctx;
    }
    int result = spng_set_image_limits(ctx.get(), kMaxDimension, kMaxDimension);
    if (result == 0) result = spng_set_chunk_limits(ctx.get(), kChunkSizeLimit, kChunkCacheLimit);
    if (result == 0) result = spng_set_png_file(ctx.get(), file);
    if (result != 0) {
        Fail(error, Failure::BadHeader, result);
        ctx.reset();
    }
    return ctx;
}

// The library deflates only with zlib: the stronger stream is written after the chunks it wrote, as one IDAT
// chunk and IEND.
bool WriteChunk(FILE* file, const char (&type)[5], const uint8_t* data, size_t length, Error& error) {
    uint8_t header[8] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                         static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    std::memcpy(header + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, header + 4, 4);
    if (length > 0) crc = libdeflate_crc32(crc, data, length);  // a null buffer would restart the sum
    const uint8_t trailer[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                                static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    const bool written = std::fwrite(header, 1, 8, file) == 8 &&
                         (length == 0 || std::fwrite(data, 1, length, file) == length) &&
                         std::fwrite(trailer, 1, 4, file) == 4;
    return written || detail::Fail(error, Failure::EncodeFailed, std::strerror(errno));
}

bool WriteImageData(FILE* file, const std::vector<uint8_t>& stream, Error& error) {
    // A chunk holds at most 2^31 - 1 bytes.
    constexpr size_t kMaxChunk = size_t{1} << 30;
    for (size_t offset = 0; offset < stream.size(); offset += kMaxChunk) {
        const size_t length = std::min(kMaxChunk, stream.size() - offset);
        if (!WriteChunk(file, "IDAT", stream.data() + offset, length, error)) return false;
    }
    return WriteChunk(file, "IEND", nullptr, 0, error);
}

bool SetPalette(spng_ctx* ctx, const PngPacked& packed, Error& error) {
    spng_plte plte{};
    plte.n_entries = static_cast<uint32_t>(packed.palette.size());
    for (size_t i = 0; i < packed.palette.size(); ++i) {
        plte.entries[i] = {packed.palette[i][0], packed.palette[i][1], packed.palette[i][2], 0xFF};
    }
    if (const int result = spng_set_plte(ctx, &plte)) return Fail(error, Failure::EncodeFailed, result);
    if (packed.translucentEntries == 0) return true;
    spng_trns trns{};
    trns.n_type3_entries = static_cast<uint32_t>(packed.translucentEntries);
    for (size_t i = 0; i < packed.translucentEntries; ++i) trns.type3_alpha[i] = packed.palette[i][3];
    const int result = spng_set_trns(ctx, &trns);
    return result == 0 || Fail(error, Failure::EncodeFailed, result);
}

bool Sniff(const uint8_t* head, size_t length) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return length >= 8 && std::memcmp(head, kSignature, 8) == 0;
}

// The eXIf chunk and the XMP iTXt chunk before the image data. A broken ancillary chunk here is left to
// the decode to judge: the header read gives no metadata, not a failure.
void ReadMetadata(spng_ctx* ctx, SourceInfo& info) {
    spng_exif exif{};
    if (spng_get_exif(ctx, &exif) == 0 && exif.data != nullptr && exif.length > 0) {
        info.exif.assign(exif.data, exif.data + exif.length);
    }
    uint32_t count = 0;
    if (spng_get_text(ctx, nullptr, &count) != 0 || count == 0) return;
    std::vector<spng_text> texts(count);
    if (spng_get_text(ctx, texts.data(), &count) != 0) return;
    for (const spng_text& text : texts) {
        if (text.type == SPNG_ITXT && std::strcmp(text.keyword, kXmpPngKeyword) == 0 && text.text != nullptr) {
            info.xmp.assign(text.text, text.text + text.length);
            return;
        }
    }
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    Context ctx = OpenDecoder(file, error);
    if (!ctx) return false;
    spng_ihdr ihdr{};
    if (const int result = spng_get_ihdr(ctx.get(), &ihdr)) {
        return Fail(
            error,
            result == SPNG_EWIDTH || result == SPNG_EHEIGHT || result == SPNG_EUSER_WIDTH || result == SPNG_EUSER_HEIGHT
                ? Failure::TooLarge
                : Failure::BadHeader,
            result);
    }
    if (!HeaderSizeAllowed(ihdr.width, ihdr.height, error)) return false;
    spng_trns trns{};
    const int trnsResult = spng_get_trns(ctx.get(), &trns);
    if (trnsResult != 0 && trnsResult != SPNG_ECHUNKAVAIL) return Fail(error, Failure::BadHeader, trnsResult);
    info.width = ihdr.width;
    info.height = ihdr.height;
    info.hasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                    ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || trnsResult == 0;
    info.channels = info.hasAlpha ? 4 : ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ? 1 : 3;
    ReadMetadata(ctx.get(), info);
    // Viewers turn a PNG by its eXIf orientation as they turn a JPEG.
    info.orientation = ParseTiffOrientation(info.exif.data(), info.exif.size());
    info.workBytes = uint64_t{ihdr.width} * 16 * 2;  // two scanlines at up to 64 bits per pixel, and slack
    if (info.channels == 1 && ihdr.bit_depth == 16) info.workBytes += uint64_t{ihdr.width} * ihdr.height * 2;
    return true;
}

// PNG has no reduced decode: `denominator` is always 1.
bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>* icc, Error& error) {
    Context ctx = OpenDecoder(file, error);
    if (!ctx) return false;
    spng_ihdr ihdr{};
    if (const int result = spng_get_ihdr(ctx.get(), &ihdr)) return Fail(error, Failure::SourceChanged, result);
    if (ihdr.width != info.width || ihdr.height != info.height) return detail::Fail(error, Failure::SourceChanged);
    if (!out.Allocate(info.width, info.height, info.channels)) return detail::Fail(error, Failure::OutOfMemory);
    int result = 0;
    if (info.channels == 1 && ihdr.bit_depth == 16) {
        // Native 16-bit grey, reduced to 8 here: cheaper than decoding to RGB.
        const size_t samples = size_t{info.width} * info.height;
        std::unique_ptr<uint16_t[]> wide(new (std::nothrow) uint16_t[samples]);
        if (!wide) return detail::Fail(error, Failure::OutOfMemory);
        result = spng_decode_image(ctx.get(), wide.get(), samples * 2, SPNG_FMT_PNG, 0);
        if (result == 0) {
            uint8_t* dst = out.data.get();
            for (size_t i = 0; i < samples; ++i) dst[i] = static_cast<uint8_t>((wide[i] * 255u + 32895u) >> 16);
        }
    } else {
        const int format = info.channels == 4 ? SPNG_FMT_RGBA8 : info.channels == 3 ? SPNG_FMT_RGB8 : SPNG_FMT_G8;
        size_t size = 0;
        if (spng_decoded_image_size(ctx.get(), format, &size) || size != out.Bytes()) {
            out.Reset();
            return detail::Fail(error, Failure::SourceChanged);
        }
        result = spng_decode_image(ctx.get(), out.data.get(), size, format, info.channels == 4 ? SPNG_DECODE_TRNS : 0);
    }
    // The rest of the file up to IEND: the image's own CRC is checked only when its chunk has been read out.
    if (result == 0) result = spng_decode_chunks(ctx.get());
    if (result != 0) {
        out.Reset();
        return Fail(error, Failure::BrokenData, result);
    }
    if (icc) {
        spng_iccp iccp{};
        if (spng_get_iccp(ctx.get(), &iccp) == 0 && iccp.profile && iccp.profile_len > 0)
            icc->assign(iccp.profile, iccp.profile + iccp.profile_len);
    }
    return true;
}

// An ICC profile goes in only when its colour space is the one of the pixels as given (grey for one channel, RGB
// otherwise); a kept profile then bounds the colour types the reductions may use.
bool KeepsProfile(const std::vector<uint8_t>& icc, int channels, PngColourRule& rule) {
    const std::string space = IccColourSpace(icc);
    if (icc.empty() || space != (channels == 1 ? "GRAY" : "RGB ")) return false;
    rule = channels == 1 ? PngColourRule::GreyOnly : PngColourRule::ColourOnly;
    return true;
}

// Everything before the image data, written by the library as it always was.
bool WriteChunksBeforeImage(spng_ctx* ctx, const Pixels& pixels, const PngPacked& packed, const EncodeOptions& options,
                            bool keepProfile, Error& error) {
    spng_ihdr ihdr{};
    ihdr.width = pixels.width;
    ihdr.height = pixels.height;
    ihdr.bit_depth = packed.bitDepth;
    ihdr.color_type = packed.colourType;
    if (const int result = spng_set_ihdr(ctx, &ihdr)) return Fail(error, Failure::EncodeFailed, result);
    if (!packed.palette.empty() && !SetPalette(ctx, packed, error)) return false;
    if (keepProfile) {
        spng_iccp iccp{};
        std::strcpy(iccp.profile_name, "ICC profile");
        iccp.profile_len = options.icc->size();
        iccp.profile = const_cast<char*>(reinterpret_cast<const char*>(options.icc->data()));
        if (const int result = spng_set_iccp(ctx, &iccp)) return Fail(error, Failure::EncodeFailed, result);
    }
    if (options.exif != nullptr && !options.exif->empty()) {
        spng_exif exif{};
        exif.length = options.exif->size();
        exif.data = const_cast<char*>(reinterpret_cast<const char*>(options.exif->data()));
        if (const int result = spng_set_exif(ctx, &exif)) return Fail(error, Failure::EncodeFailed, result);
    }
    spng_text xmp{};
    // The library measures the text up to its terminating zero.
    const std::string xmpText = options.xmp != nullptr ? std::string(options.xmp->begin(), options.xmp->end()) : "";
    if (!xmpText.empty() && xmpText.find('\0') == std::string::npos) {
        std::strcpy(xmp.keyword, kXmpPngKeyword);
        xmp.type = SPNG_ITXT;
        xmp.length = xmpText.size();
        xmp.text = const_cast<char*>(xmpText.c_str());
        xmp.language_tag = const_cast<char*>("");
        xmp.translated_keyword = const_cast<char*>("");
        if (const int result = spng_set_text(ctx, &xmp, 1)) return Fail(error, Failure::EncodeFailed, result);
    }
    const int result = spng_encode_chunks(ctx);
    return result == 0 || Fail(error, Failure::EncodeFailed, result);
}

bool Encode(FILE* file, const Pixels& pixels, const EncodeOptions& options, Error& error) {
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return detail::Fail(error, Failure::OutOfMemory);
    if (const int result = spng_set_png_file(ctx.get(), file)) return Fail(error, Failure::EncodeFailed, result);
    PngColourRule rule = PngColourRule::Any;
    const bool keepProfile = options.icc != nullptr && KeepsProfile(*options.icc, pixels.channels, rule);
    PngPacked packed;
    if (!PackPng(pixels, rule, packed)) return detail::Fail(error, Failure::OutOfMemory);
    if (!WriteChunksBeforeImage(ctx.get(), pixels, packed, options, keepProfile, error)) return false;
    return WriteImageData(file, packed.zlibStream, error);
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kPngOperations;
const CodecOperations kPngOperations = {Sniff, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
