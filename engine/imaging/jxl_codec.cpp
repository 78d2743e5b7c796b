// JPEG XL output through libjxl: lossy colour (VarDCT), alpha where the image has any, the colour profile, and
// kept metadata in Exif and xml boxes. A JPEG source whose pixels stay as they are can instead be repacked
// without loss (RepackJpegAsJxl): the file keeps the JPEG's own coefficients and everything needed to give the
// original file back byte for byte. Reading JPEG XL files is not offered.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

// Rate to libjxl's distance in hundredths (the butteraugli distance it aims at; lower is better), so that a
// JPEG XL file looks about as good as our JPEG file of the same Rate (equal mean SSIM on photos fit into
// 640x480; the measurements stand in bench/FORMATS.md). 0.1 at Rate 100 is the finest distance libjxl's own
// tools give a lossy file; 15 is the coarsest it takes.
constexpr RatePoint kDistanceForRate[] = {{0, 1500}, {50, 380}, {70, 285}, {80, 168}, {90, 94}, {100, 10}};

// libjxl's effort 1 (fast) to 9 (small); 7 is its own default and cjxl's.
constexpr int kEffort = 7;

// Output is taken from the encoder in pieces of this size.
constexpr size_t kChunkBytes = size_t{1} << 16;

const char* EncoderErrorText(JxlEncoderError code) {
    switch (code) {
        case JXL_ENC_ERR_OK: return "no error";
        case JXL_ENC_ERR_GENERIC: return "encoder error";
        case JXL_ENC_ERR_OOM: return "out of memory";
        case JXL_ENC_ERR_JBRD: return "JPEG bitstream reconstruction data cannot be represented";
        case JXL_ENC_ERR_BAD_INPUT: return "input invalid for the encoder";
        case JXL_ENC_ERR_NOT_SUPPORTED: return "not supported by the encoder";
        case JXL_ENC_ERR_API_USAGE: return "encoder used wrongly";
    }
    return "unknown error";
}

bool Failed(Error& error, JxlEncoder* encoder) {
    const JxlEncoderError code = JxlEncoderGetError(encoder);
    return Fail(error, code == JXL_ENC_ERR_OOM ? Failure::OutOfMemory : Failure::EncodeFailed, EncoderErrorText(code));
}

// Runs the encoder to its end, writing what it gives into the file.
bool WriteOutput(JxlEncoder* encoder, FILE* file, Error& error) {
    std::vector<uint8_t> chunk(kChunkBytes);
    for (;;) {
        uint8_t* next = chunk.data();
        size_t available = chunk.size();
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &available);
        if (status == JXL_ENC_ERROR) return Failed(error, encoder);
        const size_t produced = chunk.size() - available;
        if (std::fwrite(chunk.data(), 1, produced, file) != produced)
            return Fail(error, Failure::WriteFailed, ErrnoText(errno));
        if (status == JXL_ENC_SUCCESS) return true;
    }
}

// EXIF goes into its box behind the offset of its TIFF header, which in ours comes first.
bool AddMetadata(JxlEncoder* encoder, const EncodeOptions& options) {
    const bool exif = options.exif != nullptr && !options.exif->empty();
    const bool xmp = options.xmp != nullptr && !options.xmp->empty();
    if (!exif && !xmp) return true;
    if (JxlEncoderUseBoxes(encoder) != JXL_ENC_SUCCESS) return false;
    if (exif) {
        std::vector<uint8_t> box(4, 0);
        box.insert(box.end(), options.exif->begin(), options.exif->end());
        if (JxlEncoderAddBox(encoder, "Exif", box.data(), box.size(), JXL_FALSE) != JXL_ENC_SUCCESS) return false;
    }
    if (xmp &&
        JxlEncoderAddBox(encoder, "xml ", options.xmp->data(), options.xmp->size(), JXL_FALSE) != JXL_ENC_SUCCESS)
        return false;
    JxlEncoderCloseBoxes(encoder);
    return true;
}

// The image's size, channels and colour space; without a profile that fits, the pixels are sRGB as everywhere
// else in the layer.
bool DescribeImage(JxlEncoder* encoder, const Pixels& pixels, bool alpha, const EncodeOptions& options) {
    const bool grey = pixels.channels == 1;
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = pixels.width;
    info.ysize = pixels.height;
    info.bits_per_sample = 8;
    info.num_color_channels = grey ? 1 : 3;
    info.alpha_bits = alpha ? 8 : 0;
    info.num_extra_channels = alpha ? 1 : 0;
    info.uses_original_profile = JXL_FALSE;  // lossy: the encoder works in its own perceptual space
    if (JxlEncoderSetBasicInfo(encoder, &info) != JXL_ENC_SUCCESS) return false;
    if (options.icc != nullptr && !options.icc->empty() && IccColourSpace(*options.icc) == (grey ? "GRAY" : "RGB "))
        return JxlEncoderSetICCProfile(encoder, options.icc->data(), options.icc->size()) == JXL_ENC_SUCCESS;
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, grey ? JXL_TRUE : JXL_FALSE);
    return JxlEncoderSetColorEncoding(encoder, &colour) == JXL_ENC_SUCCESS;
}

// An opaque alpha channel is not written: the encoder takes only pixels with as many channels as it is told
// the image has, so such pixels go in as a copy without it.
bool WithoutAlpha(const Pixels& rgba, Pixels& rgb) {
    if (!rgb.Allocate(rgba.width, rgba.height, 3)) return false;
    const size_t count = size_t{rgba.width} * rgba.height;
    const uint8_t* s = rgba.data.get();
    uint8_t* d = rgb.data.get();
    for (size_t i = 0; i < count; ++i, s += 4, d += 3) std::memcpy(d, s, 3);
    return true;
}

bool Encode(FILE* file, const Pixels& given, const EncodeOptions& options, Error& error) {
    Pixels opaque;
    if (given.channels == 4 && IsOpaque(given) && !WithoutAlpha(given, opaque))
        return Fail(error, Failure::OutOfMemory);
    const Pixels& pixels = opaque.Empty() ? given : opaque;
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    if (!encoder) return Fail(error, Failure::OutOfMemory);
    // No parallel runner: a batch already runs one image per worker thread.
    const bool alpha = pixels.channels == 4;
    const bool boxes =
        (options.exif != nullptr && !options.exif->empty()) || (options.xmp != nullptr && !options.xmp->empty());
    if (boxes && JxlEncoderUseContainer(encoder.get(), JXL_TRUE) != JXL_ENC_SUCCESS)
        return Failed(error, encoder.get());
    if (!DescribeImage(encoder.get(), pixels, alpha, options)) {
        if (options.icc == nullptr) return Failed(error, encoder.get());
        // A profile libjxl cannot parse is left out, as a viewer would ignore it: the pixels stay sRGB.
        EncodeOptions withoutProfile = options;
        withoutProfile.icc = nullptr;
        return Encode(file, given, withoutProfile, error);
    }

    JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    const float distance = static_cast<float>(SettingForRate(kDistanceForRate, options.quality)) / 100.0f;
    if (frame == nullptr ||
        JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, kEffort) != JXL_ENC_SUCCESS ||
        JxlEncoderSetFrameDistance(frame, distance) != JXL_ENC_SUCCESS)
        return Failed(error, encoder.get());
    if (!AddMetadata(encoder.get(), options)) return Failed(error, encoder.get());

    const JxlPixelFormat format = {static_cast<uint32_t>(pixels.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(frame, &format, pixels.data.get(), pixels.Bytes()) != JXL_ENC_SUCCESS)
        return Failed(error, encoder.get());
    JxlEncoderCloseInput(encoder.get());
    return WriteOutput(encoder.get(), file, error);
}

}  // namespace

bool RepackJpegAsJxl(FILE* file, const std::vector<uint8_t>& jpeg, Error& error) {
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    if (!encoder) return Fail(error, Failure::OutOfMemory);
    // The reconstruction data and the JPEG's own EXIF and XMP travel in boxes.
    JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    if (frame == nullptr || JxlEncoderUseContainer(encoder.get(), JXL_TRUE) != JXL_ENC_SUCCESS ||
        JxlEncoderStoreJPEGMetadata(encoder.get(), JXL_TRUE) != JXL_ENC_SUCCESS ||
        JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, kEffort) != JXL_ENC_SUCCESS)
        return Failed(error, encoder.get());
    if (JxlEncoderAddJPEGFrame(frame, jpeg.data(), jpeg.size()) != JXL_ENC_SUCCESS) return Failed(error, encoder.get());
    JxlEncoderCloseInput(encoder.get());
    return WriteOutput(encoder.get(), file, error);
}

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kJxlOperations;
const CodecOperations kJxlOperations = {nullptr, nullptr, nullptr, nullptr, Encode};

}  // namespace qx::imaging::detail
