#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

namespace qx::imaging {

// 256 megapixels: above any camera sensor (the largest take about 150), and at 4 bytes per pixel 1 GiB, the
// most one image may take on a desktop that runs several at once. Headers claiming more are refused before
// any pixel memory is allocated.
const uint64_t kMaxPixels = uint64_t{1} << 28;

Library::Library() = default;
Library::~Library() = default;

}  // namespace qx::imaging
