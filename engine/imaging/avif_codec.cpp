// AVIF through libavif. Output with the aom AV1 encoder: lossy colour, lossless alpha where the image has any,
// the colour profile and kept metadata (EXIF and XMP items) embedded. Input with whichever AV1 decoder libavif
// has (dav1d or aom): the primary image, or the first frame of a sequence, at 8 bits.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

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

// Still images and image sequences; files of the general HEIF brands (mif1, msf1) name AVIF among the
// compatible brands.
bool Sniff(const uint8_t* head, size_t length) {
    return HasFileTypeBrand(head, length, "avif") || HasFileTypeBrand(head, length, "avis");
}

// libavif reads through this from the open file, so that a header read takes only the boxes it needs.
struct FileReader {
    avifIO io{};
    FILE* file = nullptr;
    std::vector<uint8_t> buffer;
};

avifResult ReadAt(avifIO* io, uint32_t, uint64_t offset, size_t size, avifROData* out) {
    auto* reader = static_cast<FileReader*>(io->data);
    if (offset > io->sizeHint) return AVIF_RESULT_IO_ERROR;
    size = static_cast<size_t>(std::min<uint64_t>(size, io->sizeHint - offset));
    if (size > 0) {
        reader->buffer.resize(size);
        if (std::fseek(reader->file, static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fread(reader->buffer.data(), 1, size, reader->file) != size)
            return AVIF_RESULT_IO_ERROR;
    }
    out->data = reader->buffer.data();
    out->size = size;
    return AVIF_RESULT_OK;
}

struct DecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using Decoder = std::unique_ptr<avifDecoder, DecoderDeleter>;

bool ReadFailed(Error& error, Failure failure, avifResult result, const avifDecoder& decoder) {
    std::string detail = avifResultToString(result);
    if (decoder.diag.error[0] != '\0') detail += std::string(": ") + decoder.diag.error;
    if (result == AVIF_RESULT_OUT_OF_MEMORY) failure = Failure::OutOfMemory;
    if (result == AVIF_RESULT_TRUNCATED_DATA || result == AVIF_RESULT_IO_ERROR) failure = Failure::Truncated;
    return Fail(error, failure, detail);
}

// A decoder that has parsed the file's boxes, reading through `reader` (which must outlive it).
Decoder Parse(FILE* file, FileReader& reader, Error& error) {
    Decoder decoder(avifDecoderCreate());
    if (!decoder) {
        Fail(error, Failure::OutOfMemory);
        return decoder;
    }
    if (std::fseek(file, 0, SEEK_END) != 0 || std::ftell(file) < 0) {
        Fail(error, Failure::OpenFailed, ErrnoText(errno));
        return nullptr;
    }
    reader.file = file;
    reader.io.read = ReadAt;
    reader.io.data = &reader;
    reader.io.sizeHint = static_cast<uint64_t>(std::ftell(file));
    avifDecoderSetIO(decoder.get(), &reader.io);  // the decoder does not own it: no destroy function
    decoder->maxThreads = 1;                      // a batch already runs one image per thread
    decoder->imageDimensionLimit = kMaxDimension;
    // Files of lenient writers (no pixi box, odd clean apertures) are still pictures people have.
    decoder->strictFlags = AVIF_STRICT_DISABLED;
    if (const avifResult result = avifDecoderParse(decoder.get()); result != AVIF_RESULT_OK) {
        ReadFailed(error, Failure::BadHeader, result, *decoder);
        return nullptr;
    }
    return decoder;
}

// The container's rotation (anti-clockwise, then) mirroring as the EXIF orientation that turns the same way.
int OrientationOf(const avifImage& image) {
    const int angle = (image.transformFlags & AVIF_TRANSFORM_IROT) ? image.irot.angle % 4 : 0;
    if (!(image.transformFlags & AVIF_TRANSFORM_IMIR)) return std::array{1, 8, 3, 6}[angle];
    // Mode 1 exchanges left and right, mode 0 top and bottom (the same as left and right after a half turn).
    const int mirroredAngle = image.imir.mode == 1 ? angle : (angle + 2) % 4;
    return std::array{2, 7, 4, 5}[mirroredAngle];
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    FileReader reader;
    const Decoder decoder = Parse(file, reader, error);
    if (!decoder) return false;
    const avifImage& image = *decoder->image;
    if (!HeaderSizeAllowed(image.width, image.height, error)) return false;
    info.width = image.width;
    info.height = image.height;
    info.hasAlpha = decoder->alphaPresent != 0;
    info.channels = info.hasAlpha ? 4 : 3;
    info.animated = decoder->imageCount > 1;
    // The container's transform is what viewers follow; an EXIF orientation beside it is only a copy.
    info.orientation = OrientationOf(image);
    if (image.exif.size > 0) info.exif = TiffFromExifBlock(image.exif.data, image.exif.size);
    if (image.xmp.size > 0) info.xmp.assign(image.xmp.data, image.xmp.data + image.xmp.size);
    // The AV1 decoder's frame buffers and libavif's planes: up to four planes of 16-bit samples each.
    info.workBytes = uint64_t{image.width} * image.height * 16;
    return true;
}

bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>* icc, Error& error) {
    FileReader reader;
    const Decoder decoder = Parse(file, reader, error);
    if (!decoder) return false;
    if (decoder->image->width != info.width || decoder->image->height != info.height ||
        (decoder->alphaPresent != 0) != info.hasAlpha)
        return Fail(error, Failure::SourceChanged);
    decoder->imageSizeLimit =
        static_cast<uint32_t>(std::min<uint64_t>(MostCodedPixels(info.width, info.height), decoder->imageSizeLimit));
    if (const avifResult result = avifDecoderNextImage(decoder.get()); result != AVIF_RESULT_OK)
        return ReadFailed(error, Failure::BrokenData, result, *decoder);
    const avifImage& image = *decoder->image;
    if (image.width != info.width || image.height != info.height) return Fail(error, Failure::BrokenData);
    if (!out.Allocate(info.width, info.height, info.channels)) return Fail(error, Failure::OutOfMemory);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.depth = 8;
    rgb.format = info.channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    rgb.pixels = out.data.get();
    rgb.rowBytes = static_cast<uint32_t>(out.Stride());
    if (const avifResult result = avifImageYUVToRGB(&image, &rgb); result != AVIF_RESULT_OK) {
        out.Reset();
        return ReadFailed(error, Failure::BrokenData, result, *decoder);
    }
    if (icc != nullptr && image.icc.size > 0) icc->assign(image.icc.data, image.icc.data + image.icc.size);
    return true;
}

// The colour profile where it fits the picture's colours, else sRGB said outright; kept EXIF and XMP.
void SetColourAndMetadata(avifImage& image, const EncodeOptions& options, bool grey) {
    static const std::vector<uint8_t> kNoProfile;
    const std::vector<uint8_t>& icc = options.icc != nullptr ? *options.icc : kNoProfile;
    if (!icc.empty() && IccColourSpace(icc) == (grey ? "GRAY" : "RGB ")) {
        avifImageSetProfileICC(&image, icc.data(), icc.size());
    } else {
        // Without a profile the pixels are sRGB, as everywhere else in the layer: say so.
        image.colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
        image.transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    }
    // libavif finds the TIFF header in the EXIF payload itself; ours starts with it.
    if (options.exif != nullptr && !options.exif->empty())
        avifImageSetMetadataExif(&image, options.exif->data(), options.exif->size());
    if (options.xmp != nullptr && !options.xmp->empty())
        avifImageSetMetadataXMP(&image, options.xmp->data(), options.xmp->size());
}

// The pixels into the image's planes: grey straight into luma, colour through libavif's conversion.
bool FillPlanes(avifImage& image, const Pixels& pixels, bool alpha, Error& error) {
    if (pixels.channels != 1) {
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, &image);
        rgb.depth = 8;
        rgb.format = pixels.channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
        rgb.ignoreAlpha = pixels.channels == 4 && !alpha;  // an opaque alpha channel is not written
        rgb.pixels = pixels.data.get();
        rgb.rowBytes = static_cast<uint32_t>(pixels.Stride());
        const avifResult result = avifImageRGBToYUV(&image, &rgb);
        return result == AVIF_RESULT_OK || Failed(error, result);
    }
    // Full-range luma of a grey pixel is its value, stretched from 8 bits to the plane's depth with rounding as
    // libavif stretches colour.
    if (const avifResult result = avifImageAllocatePlanes(&image, AVIF_PLANES_YUV); result != AVIF_RESULT_OK)
        return Failed(error, result);
    static_assert(kDepth > 8, "a grey image has no alpha: its plane has 16-bit samples");
    constexpr uint32_t kTop = (1u << kDepth) - 1;
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* in = pixels.Row(y);
        auto* out =
            reinterpret_cast<uint16_t*>(image.yuvPlanes[AVIF_CHAN_Y] + size_t{image.yuvRowBytes[AVIF_CHAN_Y]} * y);
        for (uint32_t x = 0; x < pixels.width; ++x) out[x] = static_cast<uint16_t>((in[x] * kTop + 127) / 255);
    }
    return true;
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

    SetColourAndMetadata(*image, options, grey);
    if (!FillPlanes(*image, pixels, alpha, error)) return false;

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

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kAvifOperations;
const CodecOperations kAvifOperations = {Sniff, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
