// WebP output through libwebp: lossy, with alpha where the image has any, and the colour profile and kept
// metadata in ICCP, EXIF and XMP chunks added by libwebpmux. WebP files are not taken as input: the decoder is
// there to measure how an output of ours looks (it has no sniff, so no file opens through it).
#include <cerrno>
#include <string>
#include <utility>

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

// Rate to libwebp's quality, so that a WebP file looks about as good as our JPEG file of the same Rate
// (equal mean SSIM on photos fit into 640x480; the measurements stand in bench/FORMATS.md).
constexpr RatePoint kQualityForRate[] = {{0, 0}, {50, 35}, {70, 63}, {80, 76}, {90, 87}, {100, 100}};

// libwebp's speed/size trade-off, 0 (fast) to 6 (small); 4 is its own default and cwebp's.
constexpr int kMethod = 4;

const char* EncodingErrorText(WebPEncodingError code) {
    switch (code) {
        case VP8_ENC_OK: return "no error";
        case VP8_ENC_ERROR_OUT_OF_MEMORY: return "out of memory";
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory while flushing bits";
        case VP8_ENC_ERROR_NULL_PARAMETER: return "null parameter";
        case VP8_ENC_ERROR_INVALID_CONFIGURATION: return "invalid configuration";
        case VP8_ENC_ERROR_BAD_DIMENSION: return "bad picture dimension";
        case VP8_ENC_ERROR_PARTITION0_OVERFLOW: return "partition 0 larger than 512 KiB";
        case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "partition larger than 16 MiB";
        case VP8_ENC_ERROR_BAD_WRITE: return "write error";
        case VP8_ENC_ERROR_FILE_TOO_BIG: return "file larger than 4 GiB";
        case VP8_ENC_ERROR_USER_ABORT: return "aborted";
        case VP8_ENC_ERROR_LAST: break;
    }
    return "unknown error";
}

struct Picture {
    WebPPicture picture;
    Picture() { WebPPictureInit(&picture); }
    ~Picture() { WebPPictureFree(&picture); }
};

struct Writer {
    WebPMemoryWriter writer;
    Writer() { WebPMemoryWriterInit(&writer); }
    ~Writer() { WebPMemoryWriterClear(&writer); }
};

struct MuxData {
    WebPData data;
    MuxData() { WebPDataInit(&data); }
    ~MuxData() { WebPDataClear(&data); }
};

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

bool Write(FILE* file, const uint8_t* bytes, size_t size, Error& error) {
    if (std::fwrite(bytes, 1, size, file) != size) return Fail(error, Failure::WriteFailed, ErrnoText(errno));
    return true;
}

// Hands the pixels to the picture: RGB and opaque RGBA without an alpha plane, grey as RGB.
bool Import(const Pixels& pixels, WebPPicture& picture, Error& error) {
    const int stride = static_cast<int>(pixels.Stride());
    int imported = 0;
    if (pixels.channels == 4) {
        imported = IsOpaque(pixels) ? WebPPictureImportRGBX(&picture, pixels.data.get(), stride)
                                    : WebPPictureImportRGBA(&picture, pixels.data.get(), stride);
    } else if (pixels.channels == 3) {
        imported = WebPPictureImportRGB(&picture, pixels.data.get(), stride);
    } else {
        Pixels rgb;
        if (!rgb.Allocate(pixels.width, pixels.height, 3)) return Fail(error, Failure::OutOfMemory);
        const size_t count = size_t{pixels.width} * pixels.height;
        const uint8_t* s = pixels.data.get();
        uint8_t* d = rgb.data.get();
        for (size_t i = 0; i < count; ++i, d += 3) d[0] = d[1] = d[2] = s[i];
        imported = WebPPictureImportRGB(&picture, rgb.data.get(), static_cast<int>(rgb.Stride()));
    }
    return imported != 0 || Fail(error, Failure::OutOfMemory);
}

bool Encode(FILE* file, const Pixels& pixels, const EncodeOptions& options, Error& error) {
    if (pixels.width > WEBP_MAX_DIMENSION || pixels.height > WEBP_MAX_DIMENSION) {
        return Fail(error, Failure::EncodeFailed,
                    "WebP takes at most " + std::to_string(WEBP_MAX_DIMENSION) + " pixels a side");
    }
    WebPConfig config;
    if (!WebPConfigInit(&config)) return Fail(error, Failure::EncodeFailed, "libwebp version mismatch");
    config.quality = static_cast<float>(SettingForRate(kQualityForRate, options.quality));
    config.method = kMethod;
    config.thread_level = 0;  // a batch already runs one image per thread
    if (!WebPValidateConfig(&config)) return Fail(error, Failure::EncodeFailed, "invalid configuration");

    Picture picture;
    picture.picture.use_argb = 0;
    picture.picture.width = static_cast<int>(pixels.width);
    picture.picture.height = static_cast<int>(pixels.height);
    if (!Import(pixels, picture.picture, error)) return false;
    Writer writer;
    picture.picture.writer = WebPMemoryWrite;
    picture.picture.custom_ptr = &writer.writer;
    if (!WebPEncode(&config, &picture.picture)) {
        const WebPEncodingError code = picture.picture.error_code;
        const bool memory = code == VP8_ENC_ERROR_OUT_OF_MEMORY || code == VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY;
        return Fail(error, memory ? Failure::OutOfMemory : Failure::EncodeFailed, EncodingErrorText(code));
    }
    WebPPictureFree(&picture.picture);  // the bitstream is all that is needed from here on

    // WebP pixels are always RGB: only an RGB profile describes them. Without a profile or metadata the plain
    // bitstream is the file; anything else goes into chunks beside it, and the mux sets the VP8X flags.
    const std::vector<uint8_t>* icc = options.icc;
    if (icc != nullptr && (icc->empty() || IccColourSpace(*icc) != "RGB ")) icc = nullptr;
    const std::vector<uint8_t>* exif = options.exif != nullptr && !options.exif->empty() ? options.exif : nullptr;
    const std::vector<uint8_t>* xmp = options.xmp != nullptr && !options.xmp->empty() ? options.xmp : nullptr;
    if (icc == nullptr && exif == nullptr && xmp == nullptr)
        return Write(file, writer.writer.mem, writer.writer.size, error);
    std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxNew());
    if (!mux) return Fail(error, Failure::OutOfMemory);
    const WebPData bitstream = {writer.writer.mem, writer.writer.size};
    WebPMuxError result = WebPMuxSetImage(mux.get(), &bitstream, 0);
    // The mux orders the chunks as the container wants them, whatever order they are set in.
    for (const auto& [fourcc, block] : {std::pair{"ICCP", icc}, std::pair{"EXIF", exif}, std::pair{"XMP ", xmp}}) {
        if (block == nullptr || result != WEBP_MUX_OK) continue;
        const WebPData data = {block->data(), block->size()};
        result = WebPMuxSetChunk(mux.get(), fourcc, &data, 0);
    }
    MuxData assembled;
    if (result == WEBP_MUX_OK) result = WebPMuxAssemble(mux.get(), &assembled.data);
    if (result == WEBP_MUX_MEMORY_ERROR) return Fail(error, Failure::OutOfMemory);
    if (result != WEBP_MUX_OK) return Fail(error, Failure::EncodeFailed, "WebPMux error " + std::to_string(result));
    return Write(file, assembled.data.bytes, assembled.data.size, error);
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    uint8_t head[64];
    const size_t length = std::fread(head, 1, sizeof head, file);
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(head, length, &features) != VP8_STATUS_OK) return Fail(error, Failure::BadHeader);
    if (!SizeAllowed(uint32_t(features.width), uint32_t(features.height))) return Fail(error, Failure::TooLarge);
    info.width = static_cast<uint32_t>(features.width);
    info.height = static_cast<uint32_t>(features.height);
    info.hasAlpha = features.has_alpha != 0;
    info.channels = info.hasAlpha ? 4 : 3;
    return true;
}

bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>*, Error& error) {
    std::vector<uint8_t> bytes;
    if (!ReadRest(file, bytes, error)) return false;
    if (!out.Allocate(info.width, info.height, info.channels)) return Fail(error, Failure::OutOfMemory);
    const auto decode = info.channels == 4 ? WebPDecodeRGBAInto : WebPDecodeRGBInto;
    if (decode(bytes.data(), bytes.size(), out.data.get(), out.Bytes(), static_cast<int>(out.Stride())) == nullptr)
        return Fail(error, Failure::BrokenData, "libwebp could not decode the picture");
    return true;
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kWebpOperations;
const CodecOperations kWebpOperations = {nullptr, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
