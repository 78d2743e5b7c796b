// EXIF kept in outputs, edited in place. Maker notes and other private blocks hold offsets relative to the
// TIFF header or to their own start, and their layout is known only to their maker: any rewrite that moves a
// byte of the block breaks some of them. So the block keeps its length and layout, and only the few entries
// that must follow the output are patched where they stand.
#include <cstring>
#include <optional>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

constexpr uint16_t kTagImageWidth = 0x0100;
constexpr uint16_t kTagImageLength = 0x0101;
constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagGpsIfd = 0x8825;
constexpr uint16_t kTagPixelXDimension = 0xA002;
constexpr uint16_t kTagPixelYDimension = 0xA003;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// Bytes per value of each TIFF field type (index = type), 0 for unknown types.
constexpr uint8_t kTypeSize[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

// A TIFF structure from an untrusted file: every read and write is checked against its end.
class Tiff {
public:
    explicit Tiff(std::vector<uint8_t>& bytes) : b_(bytes) {}

    bool ReadHeader() {
        if (b_.size() < 8) return false;
        if (b_[0] == 'I' && b_[1] == 'I')
            little_ = true;
        else if (b_[0] == 'M' && b_[1] == 'M')
            little_ = false;
        else
            return false;
        return U16(2) == 42;
    }

    struct Ifd {
        size_t at = 0;  // of its entry count
        uint32_t count = 0;
        size_t Entry(uint32_t i) const { return at + 2 + size_t{i} * 12; }
        size_t Next() const { return Entry(count); }  // where the offset of the next directory is
        size_t End() const { return Next() + 4; }
    };

    // The directory at `offset` when all of it, next-directory offset included, lies inside the block.
    std::optional<Ifd> OpenIfd(uint64_t offset) const {
        if (offset < 8 || offset + 2 > b_.size()) return std::nullopt;
        Ifd ifd{static_cast<size_t>(offset), U16(static_cast<size_t>(offset))};
        if (offset + 2 + uint64_t{ifd.count} * 12 + 4 > b_.size()) return std::nullopt;
        return ifd;
    }

    std::optional<size_t> Find(const Ifd& ifd, uint16_t tag) const {
        for (uint32_t i = 0; i < ifd.count; ++i)
            if (U16(ifd.Entry(i)) == tag) return ifd.Entry(i);
        return std::nullopt;
    }

    uint32_t U16(size_t at) const { return little_ ? b_[at] | b_[at + 1] << 8 : b_[at] << 8 | b_[at + 1]; }
    uint32_t U32(size_t at) const { return little_ ? U16(at) | U16(at + 2) << 16 : U16(at) << 16 | U16(at + 2); }
    void Put16(size_t at, uint32_t value) {
        b_[at + (little_ ? 0 : 1)] = static_cast<uint8_t>(value);
        b_[at + (little_ ? 1 : 0)] = static_cast<uint8_t>(value >> 8);
    }
    void Put32(size_t at, uint32_t value) {
        Put16(at + (little_ ? 0 : 2), value & 0xFFFF);
        Put16(at + (little_ ? 2 : 0), value >> 16);
    }

    // One SHORT or LONG value in the entry itself; a count of more values is cut to one, since readers
    // disagree on which of several to use.
    void SetInteger(size_t entry, uint32_t value) {
        const uint32_t type = U16(entry + 2);
        if (type != kTypeShort && type != kTypeLong) return;
        Put32(entry + 4, 1);
        if (type == kTypeShort && value <= 0xFFFF) {
            Put16(entry + 8, value);
            Put16(entry + 10, 0);
        } else {
            // Both types are allowed for these tags; LONG holds what a SHORT cannot.
            Put16(entry + 2, kTypeLong);
            Put32(entry + 8, value);
        }
    }

    // Takes an entry out of its directory: the entries after it and the next-directory offset move up by
    // one slot, the slot freed at the end is zeroed. Data the entries point to does not move.
    void Remove(Ifd& ifd, size_t entry) {
        std::memmove(&b_[entry], &b_[entry + 12], ifd.End() - entry - 12);
        std::memset(&b_[ifd.End() - 12], 0, 12);
        --ifd.count;
        Put16(ifd.at, ifd.count);
    }

    // Zeroes a directory and the values it holds outside its entries, so that nothing of it can be read back.
    void Blank(const Ifd& ifd) {
        for (uint32_t i = 0; i < ifd.count; ++i) {
            const size_t entry = ifd.Entry(i);
            const uint32_t type = U16(entry + 2);
            const uint64_t bytes = type < std::size(kTypeSize) ? uint64_t{kTypeSize[type]} * U32(entry + 4) : 0;
            const uint64_t offset = U32(entry + 8);
            if (bytes > 4 && offset >= 8 && offset + bytes <= b_.size())
                std::memset(&b_[static_cast<size_t>(offset)], 0, static_cast<size_t>(bytes));
        }
        std::memset(&b_[ifd.at], 0, ifd.End() - ifd.at);
    }

private:
    std::vector<uint8_t>& b_;
    bool little_ = true;
};

}  // namespace

std::vector<uint8_t> TiffFromExifBlock(const uint8_t* data, size_t size) {
    const auto tiffAt = [&](size_t offset) {
        if (offset > size || size - offset < 8) return false;
        const uint8_t* p = data + offset;
        return (std::memcmp(p, "II*\0", 4) == 0) || (std::memcmp(p, "MM\0*", 4) == 0);
    };
    size_t offset = 0;
    if (tiffAt(0)) {
        offset = 0;
    } else if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0 && tiffAt(6)) {
        offset = 6;
    } else if (size >= 4) {
        const uint64_t skip =
            4 + (uint64_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3]);
        if (skip > size || !tiffAt(static_cast<size_t>(skip))) return {};
        offset = static_cast<size_t>(skip);
    } else {
        return {};
    }
    return std::vector<uint8_t>(data + offset, data + size);
}

std::vector<uint8_t> PrepareExif(const std::vector<uint8_t>& tiff, uint32_t width, uint32_t height, bool dropGps) {
    std::vector<uint8_t> block = tiff;
    Tiff t(block);
    if (!t.ReadHeader()) return {};
    std::optional<Tiff::Ifd> ifd0 = t.OpenIfd(t.U32(4));
    if (!ifd0) return {};

    // The pixels were turned by the orientation the decoder read (the first Orientation of IFD0, SHORT or
    // LONG, 2..8). The thumbnail in IFD1 was not: it would show the picture sideways, so it is unlinked.
    const int turned = ParseTiffOrientation(tiff.data(), tiff.size());
    if (turned != 1) t.Put32(ifd0->Next(), 0);

    // Every copy of an entry is set: a reader may take the first or the last.
    const auto set = [&t](const Tiff::Ifd& ifd, uint16_t tag, uint32_t value) {
        for (uint32_t i = 0; i < ifd.count; ++i)
            if (t.U16(ifd.Entry(i)) == tag) t.SetInteger(ifd.Entry(i), value);
    };
    set(*ifd0, kTagOrientation, 1);
    set(*ifd0, kTagImageWidth, width);
    set(*ifd0, kTagImageLength, height);
    if (const auto pointer = t.Find(*ifd0, kTagExifIfd)) {
        if (const auto exif = t.OpenIfd(t.U32(*pointer + 8))) {
            set(*exif, kTagPixelXDimension, width);
            set(*exif, kTagPixelYDimension, height);
        }
    }

    while (dropGps) {
        const auto pointer = t.Find(*ifd0, kTagGpsIfd);
        if (!pointer) break;
        const std::optional<Tiff::Ifd> gps = t.OpenIfd(t.U32(*pointer + 8));
        t.Remove(*ifd0, *pointer);
        // A GPS directory laid over IFD0 (only a forged file has one) would take IFD0 with it.
        if (gps && (gps->End() <= ifd0->at || gps->at >= ifd0->End() + 12)) t.Blank(*gps);
    }
    return block;
}

}  // namespace qx::imaging::detail
