// The picture sizes an HEVC-coded HEIF file announces to its decoder, read from the file's own boxes.
#pragma once

#include <cstdint>
#include <cstdio>

namespace qx::imaging::detail {

struct CodedSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The largest picture any decoder configuration (hvcC) of the file's item properties announces in its
// sequence parameter set: libheif hands these to the HEVC decoder, which sets up frames of that size before
// anything compares them with the image's declared size, so a small file can make it ask for gigabytes.
// {0, 0} when the file has no such configuration; false when its boxes cannot be read.
bool LargestCodedPicture(FILE* file, int64_t fileSize, CodedSize& largest);

}  // namespace qx::imaging::detail
