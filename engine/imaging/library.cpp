#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

namespace qx::imaging {

const Guid EncoderQuality = {0xb5, 0xe4, 0x5b, 0x1d, 0x4a, 0xfa, 0x2d, 0x45,
                             0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb};

// 256 megapixels: above any camera sensor (the largest take about 150), and at 4 bytes per pixel 1 GiB, the
// most one image may take on a desktop that runs several at once. Headers claiming more are refused before
// any pixel memory is allocated.
const uint64_t kMaxPixels = uint64_t{1} << 28;

// Fixed class identifiers: the same in every run and every build.
const Guid kJpegEncoder = {0x01, 0xf4, 0x7c, 0x55, 0x04, 0x1a, 0xd3, 0x11,
                           0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e};
const Guid kBmpEncoder = {0x00, 0xf4, 0x7c, 0x55, 0x04, 0x1a, 0xd3, 0x11,
                          0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e};
const Guid kPngEncoder = {0x06, 0xf4, 0x7c, 0x55, 0x04, 0x1a, 0xd3, 0x11,
                          0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e};

std::vector<ImageCodecInfo> GetImageEncoders() {
    return {
        {kBmpEncoder, u"image/bmp", "BMP", "*.BMP;*.DIB;*.RLE"},
        {kJpegEncoder, u"image/jpeg", "JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF"},
        {kPngEncoder, u"image/png", "PNG", "*.PNG"},
    };
}

Library::Library() = default;
Library::~Library() = default;

}  // namespace qx::imaging
