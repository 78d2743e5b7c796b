// Decoded sizes of WebP and AVIF files by their own libraries, which the imaging layer only writes.
#pragma once

#include <avif/avif.h>
#include <webp/decode.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

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

}  // namespace qx::test
