// AVIF output through libavif with the aom AV1 encoder: lossy colour, lossless alpha where the image has any,
// the colour profile and kept metadata (EXIF and XMP items) embedded. AVIF files are not taken as input: the
// decoder is there to measure how an output of ours looks (it has no sniff, so no file opens through it).
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <avif/avif.h>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

// Rate to the AV1 quantizer (0 best .. 63 worst), so that an AVIF file looks about as good as our JPEG file of
// the same Rate (equal mean SSIM on photos fit into 640x480; the measurements stand in bench/FORMATS.md).
constexpr RatePoint kQuantizerForRate[] = {{0, 63}, {50, 37}, {70, 32}, {80, 28}, {90, 18}, {100, 0}};

// Of the encoders Debian's libavif is built with (aom, rav1e, SVT-AV1), aom was the fastest at equal quality
// for pictures of this kind. Its speed 6 (at 10 bits) is the fastest that writes no more bytes than libvips'
// slower default at the same SSIM: speed 7 and 8 take 7-10% more, speed 5 three times the time for 5% less.
// See bench/FORMATS.md.
constexpr avifCodecChoice kEncoder = AVIF_CODEC_CHOICE_AOM;
constexpr int kSpeed = 6;
// The encoder predicts and filters more exactly at 10 bits: 1.7% fewer bytes at the same SSIM for a fifth more
// time, and every AVIF decoder reads 10 bits (the format's main profile). libavif gives the alpha plane the
// colour's depth, and lossless alpha stretched to 10 bits took 41% more bytes (PngSuite's alpha images,
// a photo with a photographic mask): an image with alpha stays at 8 bits.
constexpr uint32_t kDepth = 10;
constexpr uint32_t kDepthWithAlpha = 8;
// Largest side an AV1 frame header can describe.
constexpr uint32_t kMaxSide = 65536;

struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
struct EncoderDeleter {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
struct Output {
    avifRWData data = AVIF_DATA_EMPTY;
    ~Output() { avifRWDataFree(&data); }
};

bool Failed(Error& error, avifResult result, const char* diagnostics = nullptr) {
    std::string detail = avifResultToString(result);
    if (diagnostics != nullptr && diagnostics[0] != '\0') detail += std::string(": ") + diagnostics;
    return Fail(error, result == AVIF_RESULT_OUT_OF_MEMORY ? Failure::OutOfMemory : Failure::EncodeFailed, detail);
}

bool Encode(FILE* file, const Pixels& pixels, const EncodeOptions& options, Error& error) {
    if (pixels.width > kMaxSide || pixels.height > kMaxSide) {
        return Fail(error, Failure::EncodeFailed, "AVIF takes at most " + std::to_string(kMaxSide) + " pixels a side");
    }
    const bool grey = pixels.channels == 1;
    const bool alpha = pixels.channels == 4 && !IsOpaque(pixels);
    // 4:2:0 below 90 as our JPEG files have it; above, the chroma detail is worth its bytes. Grey needs no chroma.
    const avifPixelFormat format = grey                    ? AVIF_PIXEL_FORMAT_YUV400
                                   : options.quality >= 90 ? AVIF_PIXEL_FORMAT_YUV444
                                                           : AVIF_PIXEL_FORMAT_YUV420;
    std::unique_ptr<avifImage, ImageDeleter> image(
        avifImageCreate(pixels.width, pixels.height, alpha ? kDepthWithAlpha : kDepth, format));
    if (!image) return Fail(error, Failure::OutOfMemory);
    image->yuvRange = AVIF_RANGE_FULL;
    image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;

    static const std::vector<uint8_t> kNoProfile;
    const std::vector<uint8_t>& icc = options.icc != nullptr ? *options.icc : kNoProfile;
    if (!icc.empty() && IccColourSpace(icc) == (grey ? "GRAY" : "RGB ")) {
        avifImageSetProfileICC(image.get(), icc.data(), icc.size());
    } else {
        // Without a profile the pixels are sRGB, as everywhere else in the layer: say so.
        image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
        image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    }

    // libavif finds the TIFF header in the EXIF payload itself; ours starts with it.
    if (options.exif != nullptr && !options.exif->empty())
        avifImageSetMetadataExif(image.get(), options.exif->data(), options.exif->size());
    if (options.xmp != nullptr && !options.xmp->empty())
        avifImageSetMetadataXMP(image.get(), options.xmp->data(), options.xmp->size());

    if (grey) {
        // Full-range luma of a grey pixel is its value, stretched from 8 bits to the plane's depth with rounding
        // as libavif stretches colour.
        if (const avifResult result = avifImageAllocatePlanes(image.get(), AVIF_PLANES_YUV); result != AVIF_RESULT_OK)
            return Failed(error, result);
        static_assert(kDepth > 8, "a grey image has no alpha: its plane has 16-bit samples");
        constexpr uint32_t kTop = (1u << kDepth) - 1;
        for (uint32_t y = 0; y < pixels.height; ++y) {
            const uint8_t* in = pixels.Row(y);
            auto* out = reinterpret_cast<uint16_t*>(image->yuvPlanes[AVIF_CHAN_Y] +
                                                    size_t{image->yuvRowBytes[AVIF_CHAN_Y]} * y);
            for (uint32_t x = 0; x < pixels.width; ++x) out[x] = static_cast<uint16_t>((in[x] * kTop + 127) / 255);
        }
    } else {
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image.get());
        rgb.depth = 8;
        rgb.format = pixels.channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
        rgb.ignoreAlpha = pixels.channels == 4 && !alpha;  // an opaque alpha channel is not written
        rgb.pixels = pixels.data.get();
        rgb.rowBytes = static_cast<uint32_t>(pixels.Stride());
        if (const avifResult result = avifImageRGBToYUV(image.get(), &rgb); result != AVIF_RESULT_OK)
            return Failed(error, result);
    }

    std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avifEncoderCreate());
    if (!encoder) return Fail(error, Failure::OutOfMemory);
    encoder->codecChoice = kEncoder;
    encoder->maxThreads = 1;  // a batch already runs one image per thread
    encoder->speed = kSpeed;
    const int quantizer = SettingForRate(kQuantizerForRate, options.quality);
    encoder->minQuantizer = encoder->maxQuantizer = quantizer;
    // Edges of cut-outs show every error: alpha is kept exactly, and a flat or simple mask costs little.
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
    Output output;
    if (const avifResult result = avifEncoderWrite(encoder.get(), image.get(), &output.data); result != AVIF_RESULT_OK)
        return Failed(error, result, encoder->diag.error);
    if (std::fwrite(output.data.data, 1, output.data.size, file) != output.data.size)
        return Fail(error, Failure::WriteFailed, ErrnoText(errno));
    return true;
}

struct DecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};

// A decoder over the whole file, its header parsed.
std::unique_ptr<avifDecoder, DecoderDeleter> Parse(FILE* file, std::vector<uint8_t>& bytes, Error& error) {
    if (!ReadRest(file, bytes, error)) return nullptr;
    std::unique_ptr<avifDecoder, DecoderDeleter> decoder(avifDecoderCreate());
    if (!decoder) {
        Fail(error, Failure::OutOfMemory);
        return nullptr;
    }
    decoder->maxThreads = 1;  // a batch already runs one image per thread
    avifResult result = avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size());
    if (result == AVIF_RESULT_OK) result = avifDecoderParse(decoder.get());
    if (result != AVIF_RESULT_OK) {
        Fail(error, Failure::BadHeader, avifResultToString(result));
        return nullptr;
    }
    return decoder;
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    std::vector<uint8_t> bytes;
    const auto decoder = Parse(file, bytes, error);
    if (!decoder) return false;
    if (!SizeAllowed(decoder->image->width, decoder->image->height)) return Fail(error, Failure::TooLarge);
    info.width = decoder->image->width;
    info.height = decoder->image->height;
    info.hasAlpha = decoder->alphaPresent != 0;
    info.channels = info.hasAlpha ? 4 : 3;
    return true;
}

bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>*, Error& error) {
    std::vector<uint8_t> bytes;
    const auto decoder = Parse(file, bytes, error);
    if (!decoder) return false;
    if (const avifResult result = avifDecoderNextImage(decoder.get()); result != AVIF_RESULT_OK)
        return Fail(error, Failure::BrokenData, avifResultToString(result));
    avifImage* image = decoder->image;
    if (image->width != info.width || image->height != info.height)
        return Fail(error, Failure::BrokenData, "size differs from the header");
    if (!out.Allocate(info.width, info.height, info.channels)) return Fail(error, Failure::OutOfMemory);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.depth = 8;
    rgb.format = info.channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.pixels = out.data.get();
    rgb.rowBytes = static_cast<uint32_t>(out.Stride());
    if (const avifResult result = avifImageYUVToRGB(image, &rgb); result != AVIF_RESULT_OK)
        return Fail(error, Failure::BrokenData, avifResultToString(result));
    return true;
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kAvifOperations;
const CodecOperations kAvifOperations = {nullptr, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
