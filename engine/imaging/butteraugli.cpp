// How far an output of a lossy format strays from the image it was made of, as butteraugli sees it.
#include <jxl/butteraugli.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

struct ApiDeleter {
    void operator()(JxlButteraugliApi* api) const { JxlButteraugliApiDestroy(api); }
};
struct ResultDeleter {
    void operator()(JxlButteraugliResult* result) const { JxlButteraugliResultDestroy(result); }
};
using Result = std::unique_ptr<JxlButteraugliResult, ResultDeleter>;

// The 3-norm over the image's distance map: how bad the output looks as a whole, where the maximum would let
// one unlucky block decide for the whole picture.
constexpr float kNorm = 3;

JxlPixelFormat FormatOf(const Pixels& pixels) {
    return {static_cast<uint32_t>(pixels.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
}

Result Compare(JxlButteraugliApi* api, const Pixels& reference, const Pixels& candidate) {
    const JxlPixelFormat referenceFormat = FormatOf(reference), candidateFormat = FormatOf(candidate);
    return Result(JxlButteraugliCompute(api, reference.width, reference.height, &referenceFormat, reference.data.get(),
                                        reference.Bytes(), &candidateFormat, candidate.data.get(), candidate.Bytes()));
}

bool CopyRegion(const Pixels& from, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Pixels& to) {
    if (!to.Allocate(width, height, from.channels)) return false;
    const size_t offset = size_t{x} * static_cast<size_t>(from.channels);
    for (uint32_t row = 0; row < height; ++row) std::memcpy(to.Row(row), from.Row(y + row) + offset, to.Stride());
    return true;
}

// libjxl holds about 256 bytes a pixel while it compares, and beyond a few megapixels its page faults cost
// more than the comparison itself (10.5 MP: 2.5 GB, and twice the time of the same image in tiles). A large
// image is therefore compared in tiles, each with a margin wider than the reach of butteraugli's filters, its
// blurs and its comparison at half the size: the distances inside a tile then match the whole image's to a
// few millionths. Margins and tiles start on even pixels, where the half-size comparison's pixels fall.
constexpr uint32_t kTile = 1024;
constexpr uint32_t kMargin = 64;
constexpr uint32_t kLargestWhole = kTile + 2 * kMargin;

// libjxl's 3-norm: the mean of the 3-, 6- and 12-norms over the distance map, so that the worst regions
// weigh more than a plain mean would let them.
struct PowerSums {
    double cubes = 0, sixths = 0, twelfths = 0;

    void Add(const float* distances, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            const double d = distances[i], cube = d * d * d, sixth = cube * cube;
            cubes += cube;
            sixths += sixth;
            twelfths += sixth * sixth;
        }
    }
    double Norm(double pixels) const {
        return (std::pow(cubes / pixels, 1.0 / 3) + std::pow(sixths / pixels, 1.0 / 6) +
                std::pow(twelfths / pixels, 1.0 / 12)) /
               3;
    }
};

bool TiledDistance(JxlButteraugliApi* api, const Pixels& reference, const Pixels& candidate, float& distance,
                   Error& error) {
    PowerSums sums;
    Pixels referenceTile, candidateTile;
    for (uint32_t top = 0; top < reference.height; top += kTile) {
        const uint32_t y = top - std::min(top, kMargin);
        const uint32_t bottom = std::min(reference.height, top + kTile);
        const uint32_t height = std::min(reference.height, bottom + kMargin) - y;
        for (uint32_t left = 0; left < reference.width; left += kTile) {
            const uint32_t x = left - std::min(left, kMargin);
            const uint32_t right = std::min(reference.width, left + kTile);
            const uint32_t width = std::min(reference.width, right + kMargin) - x;
            if (!CopyRegion(reference, x, y, width, height, referenceTile) ||
                !CopyRegion(candidate, x, y, width, height, candidateTile))
                return Fail(error, Failure::OutOfMemory);
            const Result result = Compare(api, referenceTile, candidateTile);
            if (!result) return Fail(error, Failure::OutOfMemory, "butteraugli could not compare the images");
            const float* map = nullptr;
            uint32_t mapStride = 0;
            JxlButteraugliResultGetDistmap(result.get(), &map, &mapStride);
            for (uint32_t row = top; row < bottom; ++row)
                sums.Add(map + size_t{row - y} * mapStride + (left - x), right - left);
        }
    }
    distance = static_cast<float>(sums.Norm(double(reference.width) * reference.height));
    return true;
}

// libjxl 0.7 takes grey pixels and then stops the whole process on a check of its own colour encoding, so grey
// is compared as the RGB picture it shows.
const Pixels* InColour(const Pixels& pixels, Pixels& colour) {
    if (pixels.channels != 1) return &pixels;
    if (!colour.Allocate(pixels.width, pixels.height, 3)) return nullptr;
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* grey = pixels.Row(y);
        uint8_t* rgb = colour.Row(y);
        for (uint32_t x = 0; x < pixels.width; ++x, rgb += 3) rgb[0] = rgb[1] = rgb[2] = grey[x];
    }
    return &colour;
}

}  // namespace

bool ButteraugliDistance(const Pixels& reference, const Pixels& candidate, float& distance, Error& error) {
    if (reference.width != candidate.width || reference.height != candidate.height)
        return Fail(error, Failure::BrokenData, "the decoded output has another size");
    // One instance per call: a batch measures on many threads at once, and the instance is cheap beside
    // the comparison itself.
    const std::unique_ptr<JxlButteraugliApi, ApiDeleter> api(JxlButteraugliApiCreate(nullptr));
    if (!api) return Fail(error, Failure::OutOfMemory);
    Pixels referenceColour, candidateColour;
    const Pixels* const original = InColour(reference, referenceColour);
    const Pixels* const output = InColour(candidate, candidateColour);
    if (original == nullptr || output == nullptr) return Fail(error, Failure::OutOfMemory);
    if (reference.width > kLargestWhole || reference.height > kLargestWhole)
        return TiledDistance(api.get(), *original, *output, distance, error);
    const Result result = Compare(api.get(), *original, *output);
    if (!result) return Fail(error, Failure::OutOfMemory, "butteraugli could not compare the images");
    distance = JxlButteraugliResultGetDistance(result.get(), kNorm);
    return true;
}

}  // namespace qx::imaging::detail

namespace qx::imaging {

uint64_t DistanceSearchBytes(uint64_t pixels) {
    constexpr uint64_t kLargestComparison = uint64_t{detail::kLargestWhole} * detail::kLargestWhole;
    return pixels * 32 + std::min(pixels, kLargestComparison) * 256;
}

}  // namespace qx::imaging
