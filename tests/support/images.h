// Images written by the real codecs, their decoded sizes, and PNG bytes made by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/imaging/imaging.h"
#include "support/test_support.h"

namespace qx::test {

// The codec table's row of that name ("jpg", "png", ...); nullptr for a name no row has.
inline const imaging::Codec* CodecNamed(std::string_view name) { return imaging::FindCodecByName(name); }

// A width x height image in format `format`, a photo of the corpus drawn into it so that it compresses like one.
inline void WriteImage(const std::string& path, uint32_t width, uint32_t height, std::string_view format = "jpg") {
    auto bitmap = imaging::Bitmap::CreateArgb(width, height);
    ASSERT_TRUE(bitmap) << width << "x" << height;
    auto photo = imaging::Bitmap::FromFile(kCorpus + "/libjpeg-turbo/testorig.jpg");
    ASSERT_TRUE(photo);
    ASSERT_TRUE(imaging::Graphics(*bitmap).DrawImage(*photo, 0, 0, static_cast<int>(width), static_cast<int>(height)));
    const imaging::Codec* codec = CodecNamed(format);
    ASSERT_TRUE(codec) << format;
    ASSERT_TRUE(bitmap->Save(path, *codec, 90)) << path;
}

// Width and height of a fully decoded image file, or nothing when it does not decode.
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedSize(const std::string& path) {
    auto bitmap = imaging::Bitmap::FromFile(path);
    if (!bitmap || !bitmap->Decode()) return std::nullopt;
    return std::make_pair(bitmap->Width(), bitmap->Height());
}

inline std::string BigEndian32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// One PNG chunk: length, `typeAndData` ("IHDR" and its bytes, say), CRC.
inline std::string PngChunk(const std::string& typeAndData) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : typeAndData) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return BigEndian32(static_cast<uint32_t>(typeAndData.size() - 4)) + typeAndData + BigEndian32(~crc);
}

// A PNG with an intact header of width x height pixels whose pixel data is two bytes of garbage.
inline std::string PngWithBrokenPixels(uint32_t width, uint32_t height) {
    const std::string ihdr = "IHDR" + BigEndian32(width) + BigEndian32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk(ihdr) + PngChunk("IDATxx") + PngChunk("IEND");
}

}  // namespace qx::test
