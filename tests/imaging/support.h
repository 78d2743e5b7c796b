// Helpers for the imaging tests: scratch folders, corpus paths, pixel access.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/imaging/imaging.h"
#include "tests/support/test_support.h"

namespace qx::test {

using namespace qx::imaging;

inline std::string Corpus(const std::string& relative) { return std::string(QUENDRIX_CORPUS) + "/" + relative; }

inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }
inline int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

inline int MaxDifference(uint32_t p, uint32_t q) {
    int worst = 0;
    for (int shift : {0, 8, 16, 24}) worst = std::max(worst, std::abs(Channel(p, shift) - Channel(q, shift)));
    return worst;
}

// The image of the file at `path` drawn into a new w x h bitmap; nullptr when that fails.
inline std::unique_ptr<Bitmap> Thumbnail(const std::string& path, uint32_t w, uint32_t h) {
    std::unique_ptr<Bitmap> source = Bitmap::FromFile(path);
    std::unique_ptr<Bitmap> target = Bitmap::CreateArgb(w, h);
    if (!source || !target || !Graphics(*target).DrawImage(*source, 0, 0, int(w), int(h))) return nullptr;
    return target;
}

// Mean of one channel over a rectangle.
inline double MeanChannel(Bitmap& bitmap, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, int shift) {
    double sum = 0;
    uint64_t n = 0;
    for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
            uint32_t argb = 0;
            if (!bitmap.GetPixel(x, y, argb)) return -1;
            sum += Channel(argb, shift);
            ++n;
        }
    return n ? sum / n : -1;
}

}  // namespace qx::test
