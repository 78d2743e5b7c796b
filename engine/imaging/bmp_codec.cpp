// BMP: our own reader (1/2/4/8-bit palettes, RLE4/RLE8, 16/24/32-bit with bit fields, top-down, OS/2 headers)
// and writer (24-bit, or 32-bit with an alpha mask when the image has alpha).
#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t U32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

struct Layout {
    uint32_t width = 0, height = 0;
    bool topDown = false;
    uint32_t bits = 0;
    uint32_t compression = kRgb;
    uint32_t masks[4] = {0, 0, 0, 0};  // R, G, B, A
    uint64_t pixelOffset = 0;
    uint64_t paletteOffset = 0;
    uint32_t paletteEntries = 0;
    uint32_t paletteEntrySize = 4;
    bool hasAlpha = false;
};

// The header's size, dimensions, bit depth and compression.
bool ParseHeader(const uint8_t* data, size_t size, Layout& layout, uint32_t& headerSize) {
    const uint8_t* h = data + 14;
    headerSize = U32(h);
    int64_t width = 0, height = 0;
    // Plane counts are not checked: wrong ones are common in old writers and harmless.
    if (headerSize == 12) {  // OS/2 1.x core header
        width = U16(h + 4);
        height = static_cast<int16_t>(U16(h + 6));
        layout.bits = U16(h + 10);
        layout.paletteEntrySize = 3;
    } else if (headerSize >= 16 && headerSize <= 124 + 64) {
        if (size < 14 + std::min<size_t>(headerSize, 56)) return false;
        width = static_cast<int32_t>(U32(h + 4));
        height = static_cast<int32_t>(U32(h + 8));
        layout.bits = U16(h + 14);
        const bool os2 = headerSize == 16 || headerSize == 64;
        if (headerSize >= 20) layout.compression = U32(h + 16);
        if (headerSize >= 36) layout.paletteEntries = U32(h + 32);
        if (os2 && layout.compression != kRgb && layout.compression != kRle8 && layout.compression != kRle4)
            return false;  // OS/2 Huffman and RLE24 are not supported
    } else {
        return false;
    }
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    // Top-down RLE is not allowed by the format; reading it as stored is the forgiving choice.
    layout.topDown = height < 0;
    layout.width = static_cast<uint32_t>(width);
    layout.height = static_cast<uint32_t>(height < 0 ? -height : height);
    return SizeAllowed(layout.width, layout.height);
}

bool BitsFitCompression(uint32_t bits, uint32_t compression) {
    switch (compression) {
        case kRgb: return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        case kRle8: return bits == 8;
        case kRle4: return bits == 4;
        case kBitFields:
        case kAlphaBitFields: return bits == 16 || bits == 32;
        default: return false;  // embedded JPEG/PNG and unknown methods
    }
}

// The channel masks, stored or implied; moves afterHeader past masks that follow a plain info header.
bool ReadMasks(const uint8_t* data, size_t size, uint32_t headerSize, Layout& layout, uint64_t& afterHeader) {
    const uint8_t* h = data + 14;
    const uint32_t bits = layout.bits;
    if (layout.compression == kBitFields || layout.compression == kAlphaBitFields) {
        const int count = layout.compression == kAlphaBitFields ? 4 : 3;
        const uint8_t* maskData = nullptr;
        if (headerSize == 40) {
            maskData = data + afterHeader;
            if (size < afterHeader + 4u * count) return false;
            afterHeader += 4u * count;
        } else if (headerSize >= 52) {
            maskData = h + 40;
        } else {
            return false;
        }
        for (int i = 0; i < count; ++i) layout.masks[i] = U32(maskData + 4 * i);
        if (headerSize >= 56 && layout.compression == kBitFields) layout.masks[3] = U32(h + 52);
    } else if (bits == 16) {
        layout.masks[0] = 0x7C00;
        layout.masks[1] = 0x03E0;
        layout.masks[2] = 0x001F;
    } else if (bits == 32) {
        layout.masks[0] = 0xFF0000;
        layout.masks[1] = 0xFF00;
        layout.masks[2] = 0xFF;
    }
    layout.hasAlpha = (bits == 16 || bits == 32) && layout.masks[3] != 0;
    return true;
}

// Where the palette lies and how many entries it really has.
bool PlacePalette(uint64_t afterHeader, Layout& layout) {
    if (layout.bits > 8) {
        layout.paletteEntries = 0;  // a colour table beside direct colours is only a display hint
        return true;
    }
    const uint32_t maxEntries = 1u << layout.bits;
    if (layout.paletteEntries == 0 || layout.paletteEntries > maxEntries) layout.paletteEntries = maxEntries;
    layout.paletteOffset = afterHeader;
    // A palette may be shorter than claimed when the pixels start earlier.
    if (layout.pixelOffset > afterHeader) {
        const uint64_t room = (layout.pixelOffset - afterHeader) / layout.paletteEntrySize;
        if (room < layout.paletteEntries) layout.paletteEntries = static_cast<uint32_t>(room);
    } else {
        layout.paletteEntries = 0;
    }
    return layout.paletteEntries != 0;
}

// Everything but the pixels, from the first bytes of the file (at most the headers and the palette).
bool ParseLayout(const uint8_t* data, size_t size, int64_t fileSize, Layout& layout) {
    if (size < 14 + 12 || data[0] != 'B' || data[1] != 'M') return false;
    layout.pixelOffset = U32(data + 10);
    uint32_t headerSize = 0;
    if (!ParseHeader(data, size, layout, headerSize) || !BitsFitCompression(layout.bits, layout.compression))
        return false;
    uint64_t afterHeader = 14 + uint64_t{headerSize};
    if (!ReadMasks(data, size, headerSize, layout, afterHeader) || !PlacePalette(afterHeader, layout)) return false;
    if (layout.pixelOffset == 0 || static_cast<int64_t>(layout.pixelOffset) >= fileSize) return false;
    // Uncompressed data must be all there; a cut file is broken, not an image with a grey tail.
    if (layout.compression == kRgb || layout.compression == kBitFields || layout.compression == kAlphaBitFields) {
        const uint32_t bits = layout.bits;
        const uint64_t stride = ((uint64_t{layout.width} * bits + 31) / 32) * 4;
        const uint64_t lastRow = (uint64_t{layout.width} * bits + 7) / 8;
        if (layout.pixelOffset + stride * (layout.height - 1) + lastRow > static_cast<uint64_t>(fileSize)) return false;
    }
    return true;
}

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t maximum = 0;
    uint8_t Extract(uint32_t value, uint8_t absent) const {
        if (mask == 0) return absent;
        const uint64_t v = (value & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + maximum / 2) / maximum);
    }
};

Channel MakeChannel(uint32_t mask) {
    Channel channel;
    if (mask == 0) return channel;
    channel.mask = mask;
    channel.shift = std::countr_zero(mask);
    const uint32_t shifted = mask >> channel.shift;
    channel.maximum = shifted;  // contiguous masks give 2^bits - 1; others still scale into 0..255
    return channel;
}

bool ReadWholeFile(FILE* file, std::vector<uint8_t>& bytes, int64_t fileSize) {
    if (fileSize <= 0) return false;
    try {
        bytes.resize(static_cast<size_t>(fileSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    bytes.resize(got);
    return got > 0;
}

// RLE into one palette index per pixel (rows in file order); undefined pixels keep index 0.
void DecodeRle(const uint8_t* p, const uint8_t* end, const Layout& layout, uint8_t* indices) {
    const bool four = layout.compression == kRle4;
    uint32_t x = 0, y = 0;
    const uint32_t w = layout.width, h = layout.height;
    auto put = [&](uint8_t index) {
        if (x < w && y < h) indices[size_t{y} * w + x] = index;
        ++x;
    };
    while (p + 2 <= end && y < h) {
        const uint8_t count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // delta
            if (p + 2 > end) return;
            x += p[0];
            y += p[1];
            p += 2;
        } else {  // absolute run, padded to 16 bits
            const unsigned n = value;
            const size_t bytes = four ? (n + 1) / 2 : n;
            if (p + bytes > end) return;
            for (unsigned i = 0; i < n; ++i) put(four ? ((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4)) : p[i]);
            p += (bytes + 1) & ~size_t{1};
        }
    }
}

bool Sniff(const uint8_t* head, size_t length) { return length >= 2 && head[0] == 'B' && head[1] == 'M'; }

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    uint8_t head[14 + 124 + 64 + 16];
    const size_t got = std::fread(head, 1, sizeof head, file);
    Layout layout;
    if (!ParseLayout(head, got, info.fileSize, layout)) {
        return Fail(error, SizeAllowed(layout.width, layout.height) || layout.width == 0 ? Failure::BadHeader
                                                                                         : Failure::TooLarge);
    }
    info.width = layout.width;
    info.height = layout.height;
    info.hasAlpha = layout.hasAlpha;
    info.channels = layout.hasAlpha ? 4 : 3;
    info.orientation = 1;
    info.workBytes = static_cast<uint64_t>(info.fileSize);
    if (layout.compression == kRle4 || layout.compression == kRle8)
        info.workBytes += uint64_t{layout.width} * layout.height;
    return true;
}

// The whole file is read at once; BMP has no reduced decode (`denominator` is always 1) and no colour profile
// the layer uses.
// The palette in RGB order. Indices beyond it show as its first missing colour: black.
class PaletteColours {
public:
    PaletteColours(const std::vector<uint8_t>& bytes, const Layout& layout) : entries_(layout.paletteEntries) {
        for (uint32_t i = 0; i < entries_; ++i) {
            const uint8_t* e = bytes.data() + layout.paletteOffset + uint64_t{i} * layout.paletteEntrySize;
            rgb_[i][0] = e[2];
            rgb_[i][1] = e[1];
            rgb_[i][2] = e[0];
        }
    }
    const uint8_t* operator()(uint32_t index) const {
        static constexpr uint8_t kBlack[3] = {0, 0, 0};
        return index < entries_ ? rgb_[index] : kBlack;
    }

private:
    uint8_t rgb_[256][3] = {};
    uint32_t entries_;
};

// The bit fields of red, green, blue and alpha.
struct ChannelMasks {
    explicit ChannelMasks(const Layout& layout)
        : r(MakeChannel(layout.masks[0])),
          g(MakeChannel(layout.masks[1])),
          b(MakeChannel(layout.masks[2])),
          a(MakeChannel(layout.masks[3])) {}
    Channel r, g, b, a;
};

// One stored row of an uncompressed picture into RGB, or RGBA when the picture has alpha.
void DecodeRow(const uint8_t* src, uint8_t* dst, const Layout& layout, const PaletteColours& colour,
               const ChannelMasks& masks, uint32_t channels) {
    const uint32_t w = layout.width, bits = layout.bits;
    if (bits <= 8) {
        const uint32_t perByte = 8 / bits, mask = (1u << bits) - 1;
        for (uint32_t x = 0; x < w; ++x, dst += 3) {
            const uint32_t shift = 8 - bits * (x % perByte + 1);
            std::memcpy(dst, colour((src[x / perByte] >> shift) & mask), 3);
        }
    } else if (bits == 24 || (bits == 32 && layout.compression == kRgb)) {
        const uint32_t step = bits / 8;
        for (uint32_t x = 0; x < w; ++x, src += step, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    } else {
        const int step = bits / 8;
        for (uint32_t x = 0; x < w; ++x, src += step) {
            const uint32_t value = step == 2 ? U16(src) : U32(src);
            *dst++ = masks.r.Extract(value, 0);
            *dst++ = masks.g.Extract(value, 0);
            *dst++ = masks.b.Extract(value, 0);
            if (channels == 4) *dst++ = masks.a.Extract(value, 255);
        }
    }
}

bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>*, Error& error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(file, bytes, info.fileSize)) return Fail(error, Failure::SourceChanged);
    Layout layout;
    if (!ParseLayout(bytes.data(), bytes.size(), static_cast<int64_t>(bytes.size()), layout) ||
        layout.width != info.width || layout.height != info.height || layout.hasAlpha != info.hasAlpha) {
        return Fail(error, Failure::SourceChanged);
    }
    if (!out.Allocate(layout.width, layout.height, info.channels)) return Fail(error, Failure::OutOfMemory);

    const PaletteColours colour(bytes, layout);
    const uint32_t w = layout.width, h = layout.height;
    const uint8_t* data = bytes.data() + layout.pixelOffset;
    auto target = [&](uint32_t fileRow) { return out.Row(layout.topDown ? fileRow : h - 1 - fileRow); };

    if (layout.compression == kRle4 || layout.compression == kRle8) {
        std::unique_ptr<uint8_t[]> indices(new (std::nothrow) uint8_t[size_t{w} * h]);
        if (!indices) {
            out.Reset();
            return Fail(error, Failure::OutOfMemory);
        }
        std::memset(indices.get(), 0, size_t{w} * h);
        DecodeRle(data, bytes.data() + bytes.size(), layout, indices.get());
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t* dst = target(y);
            const uint8_t* src = indices.get() + size_t{y} * w;
            for (uint32_t x = 0; x < w; ++x, dst += 3) std::memcpy(dst, colour(src[x]), 3);
        }
        return true;
    }

    const size_t stride = ((size_t{w} * layout.bits + 31) / 32) * 4;
    const ChannelMasks masks(layout);
    for (uint32_t y = 0; y < h; ++y) DecodeRow(data + stride * y, target(y), layout, colour, masks, info.channels);
    return true;
}

bool Encode(FILE* file, const Pixels& pixels, const EncodeOptions&, Error& error) {
    // An alpha channel that is opaque everywhere is not written: 24 bits as for any opaque image.
    const bool alpha = pixels.channels == 4 && !IsOpaque(pixels);
    const uint32_t headerSize = alpha ? 108 : 40;  // a V4 header carries the alpha mask that readers honour
    const uint32_t bytesPerPixel = alpha ? 4 : 3;
    const uint64_t stride = (uint64_t{pixels.width} * bytesPerPixel + 3) & ~uint64_t{3};
    const uint64_t imageBytes = stride * pixels.height;
    const uint64_t offset = 14 + headerSize;
    if (offset + imageBytes > UINT32_MAX) {  // the format's size fields are 32-bit
        return Fail(error, Failure::EncodeFailed, "more than 4 GiB");
    }

    uint8_t header[14 + 108] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<uint32_t>(offset + imageBytes));
    Put32(header + 10, static_cast<uint32_t>(offset));
    uint8_t* h = header + 14;
    Put32(h, headerSize);
    Put32(h + 4, pixels.width);
    Put32(h + 8, pixels.height);  // bottom-up, which every reader understands
    Put16(h + 12, 1);
    Put16(h + 14, bytesPerPixel * 8);
    Put32(h + 16, alpha ? kBitFields : kRgb);
    Put32(h + 20, static_cast<uint32_t>(imageBytes));
    Put32(h + 24, 2835);  // 72 dpi
    Put32(h + 28, 2835);
    if (alpha) {
        Put32(h + 40, 0x00FF0000);
        Put32(h + 44, 0x0000FF00);
        Put32(h + 48, 0x000000FF);
        Put32(h + 52, 0xFF000000);
        std::memcpy(h + 56, "BGRs", 4);  // LCS_sRGB, stored little-endian as 'sRGB'
    }
    if (std::fwrite(header, 1, offset, file) != offset) return Fail(error, Failure::WriteFailed);

    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[stride]);
    if (!row) return Fail(error, Failure::OutOfMemory);
    std::memset(row.get(), 0, stride);
    for (uint32_t y = pixels.height; y-- > 0;) {
        const uint8_t* src = pixels.Row(y);
        uint8_t* dst = row.get();
        for (uint32_t x = 0; x < pixels.width; ++x) {
            if (pixels.channels == 1) {
                dst[0] = dst[1] = dst[2] = src[0];
                src += 1;
                dst += 3;
            } else {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                if (alpha) dst[3] = src[3];
                src += pixels.channels;
                dst += bytesPerPixel;
            }
        }
        if (std::fwrite(row.get(), 1, stride, file) != stride) return Fail(error, Failure::WriteFailed);
    }
    return true;
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kBmpOperations;
const CodecOperations kBmpOperations = {Sniff, ReadHeader, Decode, nullptr, Encode};

}  // namespace qx::imaging::detail
