// Decoded sizes of WebP, AVIF and JPEG XL files by their own libraries, which the imaging layer only writes.
#pragma once

#include <avif/avif.h>
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <webp/decode.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qx::test {

// Width and height of a WebP or AVIF file with every pixel decoded by libwebp or libavif (the layer writes
// these formats but does not read them), or nothing when it does not decode.
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedWebpSize(const std::string& bytes) {
    int width = 0, height = 0;
    uint8_t* pixels = WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &width, &height);
    if (pixels == nullptr) return std::nullopt;
    WebPFree(pixels);
    return std::make_pair(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
}
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedAvifSize(const std::string& bytes) {
    avifDecoder* decoder = avifDecoderCreate();
    avifImage* image = avifImageCreateEmpty();
    std::optional<std::pair<uint32_t, uint32_t>> size;
    if (avifDecoderReadMemory(decoder, image, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) ==
        AVIF_RESULT_OK)
        size = std::make_pair(image->width, image->height);
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return size;
}

// A JPEG XL file decoded by libjxl: the pixels as straight RGBA, and the colour profile it holds (none when it
// describes its colours as an sRGB encoding instead).
struct DecodedJxl {
    uint32_t width = 0;
    uint32_t height = 0;
    bool alpha = false;
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> icc;
};

inline std::vector<uint8_t> JxlProfile(JxlDecoder* decoder) {
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &encoding) ==
        JXL_DEC_SUCCESS)
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &size) != JXL_DEC_SUCCESS)
        return {};
    std::vector<uint8_t> icc(size);
    JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, icc.data(), size);
    return icc;
}

inline std::optional<DecodedJxl> DecodeJxl(const std::string& bytes) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    JxlDecoderCloseInput(decoder.get());
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    DecodedJxl decoded;
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_BASIC_INFO: {
                JxlBasicInfo info;
                JxlDecoderGetBasicInfo(decoder.get(), &info);
                decoded.width = info.xsize;
                decoded.height = info.ysize;
                decoded.alpha = info.alpha_bits > 0;
                break;
            }
            case JXL_DEC_COLOR_ENCODING: decoded.icc = JxlProfile(decoder.get()); break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                decoded.rgba.resize(size_t{decoded.width} * decoded.height * 4);
                JxlDecoderSetImageOutBuffer(decoder.get(), &format, decoded.rgba.data(), decoded.rgba.size());
                break;
            case JXL_DEC_FULL_IMAGE: return decoded;
            default: return std::nullopt;
        }
    }
}

inline std::optional<std::pair<uint32_t, uint32_t>> DecodedJxlSize(const std::string& bytes) {
    const std::optional<DecodedJxl> decoded = DecodeJxl(bytes);
    if (!decoded) return std::nullopt;
    return std::make_pair(decoded->width, decoded->height);
}

// The boxes of a JPEG XL file by type (the last of each type), Brotli-compressed ones unpacked by libjxl.
inline std::map<std::string, std::string> JxlBoxes(const std::string& bytes) {
    std::map<std::string, std::string> boxes;
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
        JxlDecoderSetDecompressBoxes(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS)
        return boxes;
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    JxlDecoderCloseInput(decoder.get());
    std::string type, contents;
    auto give = [&](size_t used) {
        JxlDecoderSetBoxBuffer(decoder.get(), reinterpret_cast<uint8_t*>(contents.data()) + used,
                               contents.size() - used);
    };
    auto finish = [&] {
        if (type.empty()) return;
        contents.resize(contents.size() - JxlDecoderReleaseBoxBuffer(decoder.get()));
        boxes[type] = contents;
        type.clear();
    };
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BOX) {
            finish();
            JxlBoxType name;
            JxlDecoderGetBoxType(decoder.get(), name, JXL_TRUE);
            type.assign(name, 4);
            contents.assign(size_t{1} << 12, '\0');
            give(0);
        } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
            const size_t used = contents.size() - JxlDecoderReleaseBoxBuffer(decoder.get());
            contents.resize(contents.size() * 2);
            give(used);
        } else {
            finish();
            return boxes;
        }
    }
}

// The JPEG file a JPEG XL file was repacked from, rebuilt by libjxl; nothing when the file holds no
// reconstruction data or does not decode.
inline std::optional<std::string> ReconstructedJpeg(const std::string& bytes) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    JxlDecoderCloseInput(decoder.get());
    std::string jpeg(size_t{1} << 16, '\0');
    size_t used = 0;
    auto give = [&] {
        JxlDecoderSetJPEGBuffer(decoder.get(), reinterpret_cast<uint8_t*>(jpeg.data()) + used, jpeg.size() - used);
    };
    bool reconstructing = false;
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_JPEG_RECONSTRUCTION:
                reconstructing = true;
                give();
                break;
            case JXL_DEC_JPEG_NEED_MORE_OUTPUT:
                used = jpeg.size() - JxlDecoderReleaseJPEGBuffer(decoder.get());
                jpeg.resize(jpeg.size() * 2);
                give();
                break;
            case JXL_DEC_FULL_IMAGE: break;
            case JXL_DEC_SUCCESS:
                if (!reconstructing) return std::nullopt;
                jpeg.resize(jpeg.size() - JxlDecoderReleaseJPEGBuffer(decoder.get()));
                return jpeg;
            default: return std::nullopt;  // an error, or pixels asked for: no JPEG to rebuild
        }
    }
}

// The decoder for the output files of a codec table's format name that the layer writes but does not read.
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedOutputSize(const std::string& name,
                                                                      const std::string& bytes) {
    if (name == "webp") return DecodedWebpSize(bytes);
    if (name == "avif") return DecodedAvifSize(bytes);
    if (name == "jxl") return DecodedJxlSize(bytes);
    return std::nullopt;
}

}  // namespace qx::test
