// WebP, AVIF and JPEG XL files decoded by their own libraries, and the boxes and repacked JPEG of a JPEG XL file.
#pragma once

#include <avif/avif.h>
#include <jxl/butteraugli.h>
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <webp/decode.h>
#include <webp/mux.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qx::test {

// libjxl's butteraugli 3-norm of `output` from `reference` (width x height, `channels` of 8 bits each), over the
// whole image at once: the yardstick the program's own measure is held to. -1 when libjxl gives no result.
inline float WholeImageButteraugli(uint32_t width, uint32_t height, uint32_t channels, const uint8_t* reference,
                                   const uint8_t* output) {
    JxlButteraugliApi* api = JxlButteraugliApiCreate(nullptr);
    const JxlPixelFormat format{channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const size_t bytes = size_t{width} * height * channels;
    JxlButteraugliResult* result =
        JxlButteraugliCompute(api, width, height, &format, reference, bytes, &format, output, bytes);
    const float distance = result != nullptr ? JxlButteraugliResultGetDistance(result, 3) : -1;
    if (result != nullptr) JxlButteraugliResultDestroy(result);
    JxlButteraugliApiDestroy(api);
    return distance;
}

// An output decoded by its format's own library (the imaging layer writes WebP, AVIF and JPEG XL but reads
// only some of them, and a test should not trust its own reader): the pixels as straight RGBA, and what the
// file says besides.
struct Decoded {
    uint32_t width = 0;
    uint32_t height = 0;
    bool alpha = false;  // the file has an alpha channel
    std::vector<uint8_t> rgba;
    size_t channels = 4;       // of `rgba`: 3 for an AVIF file decoded as RGB
    std::vector<uint8_t> icc;  // JPEG XL: none when the file describes its colours as an sRGB encoding instead
    avifPixelFormat yuv = AVIF_PIXEL_FORMAT_NONE;  // AVIF only
    avifColorPrimaries primaries = AVIF_COLOR_PRIMARIES_UNSPECIFIED;
    avifTransferCharacteristics transfer = AVIF_TRANSFER_CHARACTERISTICS_UNSPECIFIED;

    uint32_t Argb(uint32_t x, uint32_t y) const {
        const uint8_t* p = rgba.data() + (size_t{y} * width + x) * 4;
        return uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }
};

inline std::optional<Decoded> DecodeWebp(const std::string& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, bytes.size(), &features) != VP8_STATUS_OK) return std::nullopt;
    Decoded decoded;
    int w = 0, h = 0;
    uint8_t* pixels = WebPDecodeRGBA(data, bytes.size(), &w, &h);
    if (pixels == nullptr) return std::nullopt;
    decoded.width = static_cast<uint32_t>(w);
    decoded.height = static_cast<uint32_t>(h);
    decoded.alpha = features.has_alpha != 0;
    decoded.rgba.assign(pixels, pixels + size_t(w) * h * 4);
    WebPFree(pixels);
    const WebPData whole = {data, bytes.size()};
    WebPMux* mux = WebPMuxCreate(&whole, 0);
    if (mux == nullptr) return std::nullopt;
    WebPData icc;
    if (WebPMuxGetChunk(mux, "ICCP", &icc) == WEBP_MUX_OK) decoded.icc.assign(icc.bytes, icc.bytes + icc.size);
    WebPMuxDelete(mux);
    return decoded;
}

// As RGB, libavif converts from YUV along another path, whose results differ from RGBA's by a step or two.
inline std::optional<Decoded> DecodeAvif(const std::string& bytes, avifRGBFormat format = AVIF_RGB_FORMAT_RGBA) {
    avifDecoder* decoder = avifDecoderCreate();
    avifImage* image = avifImageCreateEmpty();
    std::optional<Decoded> result;
    if (avifDecoderReadMemory(decoder, image, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) ==
        AVIF_RESULT_OK) {
        Decoded decoded;
        decoded.width = image->width;
        decoded.height = image->height;
        decoded.alpha = image->alphaPlane != nullptr;
        decoded.icc.assign(image->icc.data, image->icc.data + image->icc.size);
        decoded.yuv = image->yuvFormat;
        decoded.primaries = image->colorPrimaries;
        decoded.transfer = image->transferCharacteristics;
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image);
        rgb.format = format;
        rgb.depth = 8;
        decoded.channels = avifRGBFormatChannelCount(format);
        avifRGBImageAllocatePixels(&rgb);
        if (avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK) {
            for (uint32_t y = 0; y < rgb.height; ++y)
                decoded.rgba.insert(decoded.rgba.end(), rgb.pixels + size_t{rgb.rowBytes} * y,
                                    rgb.pixels + size_t{rgb.rowBytes} * y + rgb.width * decoded.channels);
            result = std::move(decoded);
        }
        avifRGBImageFreePixels(&rgb);
    }
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return result;
}

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

inline std::optional<Decoded> DecodeJxl(const std::string& bytes) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    JxlDecoderCloseInput(decoder.get());
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    Decoded decoded;
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

// An output of a codec table's format name that the layer writes but does not read, decoded; nothing for
// another name or when it does not decode.
inline std::optional<Decoded> DecodeOutput(const std::string& name, const std::string& bytes) {
    if (name == "webp") return DecodeWebp(bytes);
    if (name == "avif") return DecodeAvif(bytes);
    if (name == "jxl") return DecodeJxl(bytes);
    return std::nullopt;
}

inline std::optional<std::pair<uint32_t, uint32_t>> DecodedOutputSize(const std::string& name,
                                                                      const std::string& bytes) {
    const std::optional<Decoded> decoded = DecodeOutput(name, bytes);
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

}  // namespace qx::test
