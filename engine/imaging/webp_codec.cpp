// WebP through libwebp. Output: lossy, with alpha where the image has any, and the colour profile and kept
// metadata in ICCP, EXIF and XMP chunks added by libwebpmux. Input: still images (lossy or lossless, scaled
// while decoding where that is asked), and the first frame of an animation.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <webp/decode.h>
#include <webp/demux.h>
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

// The RIFF header and the chunk headers that follow it carry everything the header read needs: the canvas
// size and flags, and where EXIF and XMP stand.
constexpr size_t kRiffHeaderBytes = 12;
constexpr size_t kChunkHeaderBytes = 8;
// What WebPGetFeatures needs to see of a file: the RIFF header, the first chunk and the bitstream's own header.
constexpr size_t kFeatureBytes = 64;
// No real EXIF or XMP block comes near this; larger ones are not read into memory.
constexpr uint32_t kMetadataLimit = 16u << 20;

uint32_t Little32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

bool Sniff(const uint8_t* head, size_t length) {
    return length >= kRiffHeaderBytes && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

// The EXIF and XMP chunks of an extended file, walked by their headers without reading the image data. A
// broken chunk list ends the walk: the decode judges the file.
void ReadMetadata(FILE* file, SourceInfo& info) {
    if (std::fseek(file, kRiffHeaderBytes, SEEK_SET) != 0) return;
    uint8_t header[kChunkHeaderBytes];
    while (std::fread(header, 1, sizeof header, file) == sizeof header) {
        const uint32_t size = Little32(header + 4);
        const bool exif = std::memcmp(header, "EXIF", 4) == 0, xmp = std::memcmp(header, "XMP ", 4) == 0;
        if ((exif || xmp) && size <= kMetadataLimit) {
            std::vector<uint8_t> block(size);
            if (std::fread(block.data(), 1, size, file) != size) return;
            if (exif) info.exif = TiffFromExifBlock(block.data(), block.size());
            if (xmp) info.xmp = std::move(block);
            if (size % 2 != 0 && std::fseek(file, 1, SEEK_CUR) != 0) return;
        } else if (std::fseek(file, static_cast<long>(size) + size % 2, SEEK_CUR) != 0) {
            return;
        }
    }
}

bool Features(const uint8_t* data, size_t size, WebPBitstreamFeatures& features, Error& error) {
    switch (WebPGetFeatures(data, size, &features)) {
        case VP8_STATUS_OK: return true;
        case VP8_STATUS_NOT_ENOUGH_DATA: return Fail(error, Failure::Truncated, "WebP header cut short");
        case VP8_STATUS_OUT_OF_MEMORY: return Fail(error, Failure::OutOfMemory);
        default: return Fail(error, Failure::BadHeader, "not a WebP header libwebp reads");
    }
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    uint8_t head[kFeatureBytes];
    const size_t got = std::fread(head, 1, sizeof head, file);
    WebPBitstreamFeatures features;
    if (!Features(head, got, features, error)) return false;
    const auto width = static_cast<uint32_t>(features.width), height = static_cast<uint32_t>(features.height);
    if (!HeaderSizeAllowed(width, height, error)) return false;
    info.width = width;
    info.height = height;
    info.hasAlpha = features.has_alpha != 0;
    info.channels = info.hasAlpha ? 4 : 3;
    info.animated = features.has_animation != 0;
    if (std::memcmp(head + kRiffHeaderBytes, "VP8X", 4) == 0) ReadMetadata(file, info);
    info.orientation = ParseTiffOrientation(info.exif.data(), info.exif.size());
    // The decoder works on the whole file in memory. Lossless keeps a full ARGB plane, an animation its
    // canvas twice and our copy of the first frame before it is scaled; lossy decodes a few rows at a time.
    const uint64_t pixels = uint64_t{width} * height;
    info.workBytes = static_cast<uint64_t>(std::max<int64_t>(info.fileSize, 0)) + uint64_t{width} * 64;
    if (features.has_animation) {
        info.workBytes += pixels * 12;
    } else if (features.format == 2) {
        info.workBytes += pixels * 4;
    }
    return true;
}

bool ReadWholeFile(FILE* file, std::vector<uint8_t>& data, Error& error) {
    if (std::fseek(file, 0, SEEK_END) != 0) return Fail(error, Failure::OpenFailed, ErrnoText(errno));
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) return Fail(error, Failure::OpenFailed, ErrnoText(errno));
    data.resize(static_cast<size_t>(size));
    if (std::fread(data.data(), 1, data.size(), file) != data.size()) return Fail(error, Failure::SourceChanged);
    return true;
}

void ReadProfile(const std::vector<uint8_t>& data, std::vector<uint8_t>* icc) {
    if (icc == nullptr) return;
    const WebPData whole = {data.data(), data.size()};
    WebPDemuxer* demux = WebPDemux(&whole);
    if (demux == nullptr) return;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        icc->assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
}

// Straight RGBA of the canvas to the channels the header promised (dropping an alpha the header said absent).
void CopyRgba(const uint8_t* rgba, Pixels& out) {
    const size_t count = size_t{out.width} * out.height;
    uint8_t* d = out.data.get();
    if (out.channels == 4) {
        std::memcpy(d, rgba, count * 4);
        return;
    }
    for (size_t i = 0; i < count; ++i, rgba += 4, d += 3) std::memcpy(d, rgba, 3);
}

struct AnimationDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation on its canvas, scaled by the resampler when a reduced size is asked:
// libwebp does not scale animations.
bool DecodeFirstFrame(const std::vector<uint8_t>& data, const SourceInfo& info, unsigned denominator, Pixels& out,
                      Error& error) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return Fail(error, Failure::BrokenData, "libwebp version mismatch");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData whole = {data.data(), data.size()};
    std::unique_ptr<WebPAnimDecoder, AnimationDeleter> decoder(WebPAnimDecoderNew(&whole, &options));
    WebPAnimInfo animation;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &animation))
        return Fail(error, Failure::BrokenData, "animation not readable");
    if (animation.canvas_width != info.width || animation.canvas_height != info.height)
        return Fail(error, Failure::SourceChanged);
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp))
        return Fail(error, Failure::BrokenData, "first frame not decodable");
    Pixels full;
    if (!full.Allocate(info.width, info.height, info.channels)) return Fail(error, Failure::OutOfMemory);
    CopyRgba(canvas, full);
    decoder.reset();
    if (denominator <= 1) {
        out = std::move(full);
        return true;
    }
    return Resample(full, true, ScaledDimension(info.width, denominator), ScaledDimension(info.height, denominator),
                    out) ||
           Fail(error, Failure::OutOfMemory);
}

bool DecodeStill(const std::vector<uint8_t>& data, const SourceInfo& info, unsigned denominator, Pixels& out,
                 Error& error) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return Fail(error, Failure::BrokenData, "libwebp version mismatch");
    const uint32_t width = ScaledDimension(info.width, denominator);
    const uint32_t height = ScaledDimension(info.height, denominator);
    if (denominator > 1) {
        config.options.use_scaling = 1;
        config.options.scaled_width = static_cast<int>(width);
        config.options.scaled_height = static_cast<int>(height);
    }
    if (!out.Allocate(width, height, info.channels)) return Fail(error, Failure::OutOfMemory);
    config.output.colorspace = info.channels == 4 ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out.data.get();
    config.output.u.RGBA.stride = static_cast<int>(out.Stride());
    config.output.u.RGBA.size = out.Bytes();
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status == VP8_STATUS_OK) return true;
    out.Reset();
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return Fail(error, Failure::Truncated, "WebP data cut short");
    if (status == VP8_STATUS_OUT_OF_MEMORY) return Fail(error, Failure::OutOfMemory);
    return Fail(error, Failure::BrokenData, "libwebp status " + std::to_string(status));
}

bool Decode(FILE* file, const SourceInfo& info, unsigned denominator, Pixels& out, std::vector<uint8_t>* icc,
            Error& error) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(file, data, error)) return false;
    WebPBitstreamFeatures features;
    if (!Features(data.data(), data.size(), features, error)) return false;
    if (static_cast<uint32_t>(features.width) != info.width || static_cast<uint32_t>(features.height) != info.height ||
        (features.has_alpha != 0) != info.hasAlpha)
        return Fail(error, Failure::SourceChanged);
    const bool decoded = features.has_animation ? DecodeFirstFrame(data, info, denominator, out, error)
                                                : DecodeStill(data, info, denominator, out, error);
    if (decoded) ReadProfile(data, icc);
    return decoded;
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

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kWebpOperations;
// libwebp's scaler averages the pixels it drops, a better filter than JPEG's DCT reduction, but the Lanczos step
// still wants room: the same 2.5 times the target as for JPEG.
const CodecOperations kWebpOperations = {Sniff, ReadHeader, Decode, ReductionLeavingRoom, Encode};

}  // namespace qx::imaging::detail
