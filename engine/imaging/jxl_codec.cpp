// JPEG XL output through libjxl: lossy colour (VarDCT), alpha where the image has any, the colour profile, and
// kept metadata in Exif and xml boxes. A JPEG source whose pixels stay as they are can instead be repacked
// without loss (RepackJpegAsJxl): the file keeps the JPEG's own coefficients and everything needed to give the
// original file back byte for byte. JPEG XL files are read too: the first frame at 8 bits, with alpha and the
// colour profile, turned by our own orientation step as the file's header says.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
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

namespace {

// libjxl's own buffers beside the bitmap it decodes into: 2.9 bytes per pixel for a lossy file and 2.4 for a
// lossless one, measured on a 24 MP photo (bench/FORMATS.md); held generously, as its buffers depend on the
// file's coding tools.
constexpr uint64_t kJxlDecodeBytesPerPixel = 8;

// A crafted file gets numbers outside libjxl's enumerations through, which may not be read as such.
template <typename Enumeration>
int32_t Number(const Enumeration& field) {
    static_assert(sizeof field == sizeof(int32_t));
    int32_t value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

bool Sniff(const uint8_t* head, size_t length) {
    const JxlSignature signature = JxlSignatureCheck(head, length);
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

// The header of nearly every file lies in its first bytes; a container may put other boxes before it.
constexpr size_t kHeaderBytes = 64u << 10;

// A decoder over the file's first `limit` bytes or the whole file (libjxl takes its input in one piece),
// kept in `data`, which must outlive it. The pixels come as stored: our orientation step turns them.
JxlDecoderPtr StartDecoder(FILE* file, int events, std::vector<uint8_t>& data, Error& error, size_t limit = SIZE_MAX) {
    std::rewind(file);
    if (limit != SIZE_MAX) {
        data.resize(limit);
        data.resize(std::fread(data.data(), 1, limit, file));
    } else if (!ReadRest(file, data, error)) {
        return nullptr;
    }
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data.data(), data.size()) != JXL_DEC_SUCCESS) {
        Fail(error, Failure::OutOfMemory);
        return nullptr;
    }
    // The input is not closed even when it is the whole file: a file cut short then asks for more input
    // (read as truncated) where a closed one fails with a line of libjxl's own on standard error.
    return decoder;
}

// Why the decoder stopped where it did not give what was asked.
bool Stopped(JxlDecoderStatus status, Failure failure, Error& error) {
    if (status == JXL_DEC_NEED_MORE_INPUT) return Fail(error, Failure::Truncated);
    return Fail(error, failure, "libjxl could not read the file");
}

// Metadata boxes beyond this size are passed over rather than held in memory.
constexpr size_t kMaxMetadataBox = size_t{16} << 20;

// The EXIF (as its TIFF structure, without the box's offset field) and the XMP of a container's boxes,
// compressed ones included, read without decoding any pixel. A box that cannot be read whole is left out: the
// picture does not depend on it.
void ReadMetadataBoxes(FILE* file, SourceInfo& info) {
    std::vector<uint8_t> data, box;
    Error ignored;
    const JxlDecoderPtr decoder = StartDecoder(file, JXL_DEC_BOX, data, ignored);
    if (!decoder || JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS) return;
    std::vector<uint8_t>* target = nullptr;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && target != nullptr && box.size() < kMaxMetadataBox) {
            const size_t used = box.size() - JxlDecoderReleaseBoxBuffer(decoder.get());
            box.resize(std::min(box.size() * 2, kMaxMetadataBox));
            JxlDecoderSetBoxBuffer(decoder.get(), box.data() + used, box.size() - used);
            continue;
        }
        // A box ends where the next begins or the file does.
        if (target != nullptr && (status == JXL_DEC_BOX || status == JXL_DEC_SUCCESS)) {
            box.resize(box.size() - JxlDecoderReleaseBoxBuffer(decoder.get()));
            target->swap(box);
        }
        target = nullptr;
        if (status != JXL_DEC_BOX) break;
        JxlBoxType type;
        if (JxlDecoderGetBoxType(decoder.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) break;
        if (std::memcmp(type, "Exif", 4) == 0 && info.exif.empty()) target = &info.exif;
        if (std::memcmp(type, "xml ", 4) == 0 && info.xmp.empty()) target = &info.xmp;
        if (target == nullptr) continue;
        box.resize(4096);
        if (JxlDecoderSetBoxBuffer(decoder.get(), box.data(), box.size()) != JXL_DEC_SUCCESS) break;
    }
    // The EXIF box starts with the offset of the TIFF header after its own four bytes.
    if (info.exif.size() >= 4) {
        const size_t offset =
            (size_t{info.exif[0]} << 24 | size_t{info.exif[1]} << 16 | size_t{info.exif[2]} << 8 | info.exif[3]) + 4;
        if (offset < info.exif.size())
            info.exif.erase(info.exif.begin(), info.exif.begin() + static_cast<std::ptrdiff_t>(offset));
        else
            info.exif.clear();
    } else {
        info.exif.clear();
    }
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    std::vector<uint8_t> data;
    JxlDecoderPtr decoder = StartDecoder(file, JXL_DEC_BASIC_INFO, data, error, kHeaderBytes);
    JxlDecoderStatus status = decoder ? JxlDecoderProcessInput(decoder.get()) : JXL_DEC_ERROR;
    if (status == JXL_DEC_NEED_MORE_INPUT && data.size() == kHeaderBytes) {
        decoder = StartDecoder(file, JXL_DEC_BASIC_INFO, data, error);
        status = decoder ? JxlDecoderProcessInput(decoder.get()) : JXL_DEC_ERROR;
    }
    if (!decoder) return false;
    JxlBasicInfo basic;
    if (status != JXL_DEC_BASIC_INFO || JxlDecoderGetBasicInfo(decoder.get(), &basic) != JXL_DEC_SUCCESS)
        return Stopped(status, Failure::BadHeader, error);
    if (!HeaderSizeAllowed(basic.xsize, basic.ysize, error)) return false;
    info.width = basic.xsize;
    info.height = basic.ysize;
    info.hasAlpha = basic.alpha_bits > 0;
    info.channels = info.hasAlpha ? 4 : 3;
    info.animated = basic.have_animation != 0;
    info.orientation = std::clamp(Number(basic.orientation), 1, 8);
    info.workBytes = static_cast<uint64_t>(std::max<int64_t>(info.fileSize, 0)) +
                     uint64_t{info.width} * info.height * kJxlDecodeBytesPerPixel;
    // Only a container has boxes besides the picture.
    if (JxlSignatureCheck(data.data(), data.size()) == JXL_SIG_CONTAINER) ReadMetadataBoxes(file, info);
    return true;
}

// The profile of the decoded pixels; none when they are sRGB, which every output assumes without one.
void ReadProfile(JxlDecoder* decoder, std::vector<uint8_t>& icc) {
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
            JXL_DEC_SUCCESS &&
        (Number(encoding.color_space) == JXL_COLOR_SPACE_RGB || Number(encoding.color_space) == JXL_COLOR_SPACE_GRAY) &&
        Number(encoding.primaries) == JXL_PRIMARIES_SRGB && Number(encoding.white_point) == JXL_WHITE_POINT_D65 &&
        Number(encoding.transfer_function) == JXL_TRANSFER_FUNCTION_SRGB)
        return;
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS) return;
    icc.resize(size);
    // A grey file's profile does not fit the RGB pixels it is decoded to.
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), size) !=
            JXL_DEC_SUCCESS ||
        IccColourSpace(icc) != "RGB ")
        icc.clear();
}

// JPEG XL has no reduced decode here: `denominator` is always 1.
bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>* icc, Error& error) {
    std::vector<uint8_t> data;
    const JxlDecoderPtr decoder =
        StartDecoder(file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE, data, error);
    if (!decoder) return false;
    // Our rows lie one after the other without padding: libjxl writes straight into them.
    const JxlPixelFormat format = {static_cast<uint32_t>(info.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        JxlBasicInfo basic;
        switch (status) {
            case JXL_DEC_BASIC_INFO:
                if (JxlDecoderGetBasicInfo(decoder.get(), &basic) != JXL_DEC_SUCCESS || basic.xsize != info.width ||
                    basic.ysize != info.height || (basic.alpha_bits > 0) != info.hasAlpha)
                    return Fail(error, Failure::SourceChanged);
                break;
            case JXL_DEC_COLOR_ENCODING:
                if (icc != nullptr) ReadProfile(decoder.get(), *icc);
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                if (!out.Allocate(info.width, info.height, info.channels)) return Fail(error, Failure::OutOfMemory);
                if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, out.data.get(), out.Bytes()) != JXL_DEC_SUCCESS)
                    return Fail(error, Failure::BrokenData);
                break;
            case JXL_DEC_FULL_IMAGE: return true;
            default: return Stopped(status, Failure::BrokenData, error);
        }
    }
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kJxlOperations;
const CodecOperations kJxlOperations = {Sniff, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
