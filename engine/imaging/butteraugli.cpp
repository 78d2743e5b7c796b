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

}  // namespace

bool ButteraugliDistance(const Pixels& reference, const Pixels& candidate, float& distance, Error& error) {
    if (reference.width != candidate.width || reference.height != candidate.height)
        return Fail(error, Failure::BrokenData, "the decoded output has another size");
    // One instance per call: a batch measures on many threads at once, and the instance is cheap beside
    // the comparison itself.
    const std::unique_ptr<JxlButteraugliApi, ApiDeleter> api(JxlButteraugliApiCreate(nullptr));
    if (!api) return Fail(error, Failure::OutOfMemory);
    const JxlPixelFormat referenceFormat = FormatOf(reference), candidateFormat = FormatOf(candidate);
    const std::unique_ptr<JxlButteraugliResult, ResultDeleter> result(
        JxlButteraugliCompute(api.get(), reference.width, reference.height, &referenceFormat, reference.data.get(),
                              reference.Bytes(), &candidateFormat, candidate.data.get(), candidate.Bytes()));
    if (!result) return Fail(error, Failure::OutOfMemory, "butteraugli could not compare the images");
    distance = JxlButteraugliResultGetDistance(result.get(), kNorm);
    return true;
}

}  // namespace qx::imaging::detail
