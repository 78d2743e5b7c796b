// PNG through libspng: header, decode to grey/RGB/RGBA 8-bit with ICC, encode.
#include <cstring>

#include <spng.h>

#include "engine/imaging/internal.h"

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
    if (!SizeAllowed(ihdr.width, ihdr.height)) return detail::Fail(error, Failure::TooLarge);
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

bool Encode(FILE* file, const Pixels& pixels, const EncodeOptions& options, Error& error) {
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return detail::Fail(error, Failure::OutOfMemory);
    if (const int result = spng_set_png_file(ctx.get(), file)) return Fail(error, Failure::EncodeFailed, result);
    // An alpha channel that is opaque everywhere is not written: an RGB file as for any opaque image.
    const bool dropAlpha = pixels.channels == 4 && IsOpaque(pixels);
    const int channels = dropAlpha ? 3 : pixels.channels;
    spng_ihdr ihdr{};
    ihdr.width = pixels.width;
    ihdr.height = pixels.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = channels == 4   ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                      : channels == 3 ? SPNG_COLOR_TYPE_TRUECOLOR
                                      : SPNG_COLOR_TYPE_GRAYSCALE;
    if (const int result = spng_set_ihdr(ctx.get(), &ihdr)) return Fail(error, Failure::EncodeFailed, result);
    static const std::vector<uint8_t> kNoProfile;
    const std::vector<uint8_t>& icc = options.icc != nullptr ? *options.icc : kNoProfile;
    const std::string space = IccColourSpace(icc);
    if (!icc.empty() && space == (channels == 1 ? "GRAY" : "RGB ")) {
        spng_iccp iccp{};
        std::strcpy(iccp.profile_name, "ICC profile");
        iccp.profile_len = icc.size();
        iccp.profile = const_cast<char*>(reinterpret_cast<const char*>(icc.data()));
        if (const int result = spng_set_iccp(ctx.get(), &iccp)) return Fail(error, Failure::EncodeFailed, result);
    }
    if (options.exif != nullptr && !options.exif->empty()) {
        spng_exif exif{};
        exif.length = options.exif->size();
        exif.data = const_cast<char*>(reinterpret_cast<const char*>(options.exif->data()));
        if (const int result = spng_set_exif(ctx.get(), &exif)) return Fail(error, Failure::EncodeFailed, result);
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
        if (const int result = spng_set_text(ctx.get(), &xmp, 1)) return Fail(error, Failure::EncodeFailed, result);
    }
    if (channels == pixels.channels) {
        const int result =
            spng_encode_image(ctx.get(), pixels.data.get(), pixels.Bytes(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
        return result == 0 || Fail(error, Failure::EncodeFailed, result);
    }
    // Row by row, so that dropping the alpha channel needs no second image.
    const size_t rowBytes = size_t{pixels.width} * 3;
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[rowBytes]);
    if (!row) return detail::Fail(error, Failure::OutOfMemory);
    if (const int result =
            spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE)) {
        return Fail(error, Failure::EncodeFailed, result);
    }
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* src = pixels.Row(y);
        for (uint32_t x = 0; x < pixels.width; ++x) std::memcpy(row.get() + size_t{x} * 3, src + size_t{x} * 4, 3);
        const int result = spng_encode_row(ctx.get(), row.get(), rowBytes);
        if (result != 0 && !(result == SPNG_EOI && y + 1 == pixels.height)) {
            return Fail(error, Failure::EncodeFailed, result);
        }
    }
    return true;
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kPngOperations;
const CodecOperations kPngOperations = {Sniff, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
