// Metadata fuzz target: an EXIF block (a TIFF structure) and an XMP packet through the editors that fit
// them to an output when metadata is kept. Both edit in place, following offsets and lengths the file
// states, so every offset may lie.
//
// Input: [flags] [width: 2 bytes] [height: 2 bytes] EXIF bytes, then from the first "<?xpacket" or
// "<x:xmpmeta" on the XMP packet. Flags: bit 0 drops the GPS position.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/imaging/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return -1;
    const bool dropGps = (data[0] & 1) != 0;
    const uint32_t width = 1u + (data[1] | data[2] << 8), height = 1u + (data[3] | data[4] << 8);
    const std::string_view rest(reinterpret_cast<const char*>(data + 5), size - 5);
    size_t split = std::min(rest.find("<?xpacket"), rest.find("<x:xmpmeta"));
    if (split == std::string_view::npos) split = rest.size();
    const std::vector<uint8_t> exif(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(split));
    const std::vector<uint8_t> xmp(rest.begin() + static_cast<std::ptrdiff_t>(split), rest.end());

    using qx::imaging::detail::PrepareExif;
    const std::vector<uint8_t> fitted = PrepareExif(exif, width, height, dropGps);
    // A block that is kept says the pixels are upright, and is read like any other.
    if (!fitted.empty() && qx::imaging::detail::ParseTiffOrientation(fitted.data(), fitted.size()) != 1)
        __builtin_trap();
    if (!fitted.empty()) (void)PrepareExif(fitted, width, height, dropGps);
    (void)qx::imaging::detail::PrepareXmp(xmp, width, height, dropGps);
    return 0;
}
