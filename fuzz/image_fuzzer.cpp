// Decoder fuzz target: the input as an image file through Bitmap::FromFile, a full Decode, pixel reads and
// a scaled DrawImage, the way a batch and a drop use them. Built once per format (QX_FUZZ_FORMAT, a name of
// the codec table) so that each run stays on one decoder; the bytes reach the decoder through an in-memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

#ifndef QX_FUZZ_FORMAT
#define QX_FUZZ_FORMAT ""
#endif

namespace {

// Inputs the codec table's sniffers give to this target's format; every input without one.
bool IsTargetFormat(const uint8_t* data, size_t size) {
    static const qx::imaging::Codec* const format = qx::imaging::FindCodecByName(QX_FUZZ_FORMAT);
    using qx::imaging::detail::CodecOperations;
    return format == nullptr ||
           qx::imaging::detail::SniffCodec(data, std::min(size, CodecOperations::kSniffBytes)) == format;
}

// Decodes of huge but well-formed images are covered by the bomb tests; here they would only make the
// fuzzer slow.
constexpr uint64_t kFuzzMaxPixels = 4u << 20;

struct MemoryFile {
    int fd = -1;
    std::string path;
    MemoryFile() {
        fd = ::memfd_create("qx-fuzz", 0);
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    // False when the memory file could not take the input: the decoders would read something else.
    bool Fill(const uint8_t* data, size_t size) {
        return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size);
    }
};

struct ScratchFolder {
    std::string folder;
    ScratchFolder() {
        char name[] = "/tmp/qx-fuzz-XXXXXX";
        if (::mkdtemp(name) != nullptr) folder = name;
    }
    ~ScratchFolder() {
        std::remove(Output().c_str());
        ::rmdir(folder.c_str());
    }
    std::string Output() const { return folder + "/kept.png"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile file;
    if (!IsTargetFormat(data, size)) return -1;
    if (!file.Fill(data, size)) return -1;

    auto bitmap = qx::imaging::Bitmap::FromFile(file.path);
    if (!bitmap) return 0;
    const uint32_t width = bitmap->Width(), height = bitmap->Height();
    if (width == 0 || height == 0) __builtin_trap();  // a bitmap is never empty
    if (uint64_t{width} * height > kFuzzMaxPixels) return 0;
    (void)bitmap->HasAlpha();
    (void)bitmap->DecodeBytesFor(width, height);
    if (bitmap->Decode()) {
        uint32_t argb = 0;
        bitmap->GetPixel(0, 0, argb);
        bitmap->GetPixel(width - 1, height - 1, argb);
        if (bitmap->GetPixel(width, 0, argb)) __builtin_trap();
        // Kept metadata: the file's EXIF and XMP go through their editors into a PNG (quick to encode).
        static const ScratchFolder scratch;
        const qx::imaging::Codec* png = qx::imaging::FindCodecByName("png");
        if (png != nullptr && !scratch.folder.empty() && uint64_t{width} * height <= 1u << 16) {
            const qx::imaging::Bitmap::SaveOptions keep{.keepMetadata = true};
            bitmap->Save(scratch.Output(), *png, keep, nullptr);
        }
    }

    // A fresh bitmap drawn small takes the scaled-decode path (JPEG DCT scaling) and the resampler.
    auto again = qx::imaging::Bitmap::FromFile(file.path);
    if (!again) __builtin_trap();  // the header read must not depend on anything but the bytes
    const uint32_t targetWidth = std::max<uint32_t>(1, std::min<uint32_t>(width, 1 + width / 7));
    const uint32_t targetHeight = std::max<uint32_t>(1, std::min<uint32_t>(height, 1 + height / 7));
    auto target = qx::imaging::Bitmap::CreateArgb(targetWidth, targetHeight);
    if (!target) __builtin_trap();
    qx::imaging::Graphics graphics(*target);
    graphics.DrawImage(*again, 0, 0, static_cast<int>(targetWidth), static_cast<int>(targetHeight));
    return 0;
}
