// How far an output of a lossy format strays from the image it was made of, as butteraugli sees it.
#include <jxl/butteraugli.h>

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

// The 3-norm over the image's distance map: how bad the output looks as a whole, where the maximum would let
// one unlucky block decide for the whole picture.
constexpr float kNorm = 3;

JxlPixelFormat FormatOf(const Pixels& pixels) {
    return {static_cast<uint32_t>(pixels.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
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
    const JxlPixelFormat originalFormat = FormatOf(*original), outputFormat = FormatOf(*output);
    const std::unique_ptr<JxlButteraugliResult, ResultDeleter> result(
        JxlButteraugliCompute(api.get(), original->width, original->height, &originalFormat, original->data.get(),
                              original->Bytes(), &outputFormat, output->data.get(), output->Bytes()));
    if (!result) return Fail(error, Failure::OutOfMemory, "butteraugli could not compare the images");
    distance = JxlButteraugliResultGetDistance(result.get(), kNorm);
    return true;
}

}  // namespace qx::imaging::detail
