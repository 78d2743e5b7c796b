// The smallest lossless PNG form of a bitmap: colour type, bit depth, palette and compressed image data.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {

// Which colour types the kept ICC profile allows: a grey profile only grey, an RGB profile only colour.
enum class PngColourRule { Any, GreyOnly, ColourOnly };

struct PngPacked {
    uint8_t colourType = 2;  // as in IHDR: 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
    uint8_t bitDepth = 8;
    std::vector<std::array<uint8_t, 4>> palette;  // RGBA; the entries with alpha below 255 come first
    size_t translucentEntries = 0;                // how many entries lead with alpha below 255 (the tRNS length)
    std::vector<uint8_t> zlibStream;              // the image data, filtered and deflated
};

// false when memory is short. Every pixel decodes back exactly as given.
bool PackPng(const Pixels& pixels, PngColourRule rule, PngPacked& packed);

}  // namespace qx::imaging::detail
