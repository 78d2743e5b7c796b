// Lossless reductions (palette, grey, fewer bits, no alpha), a filter strategy chosen per image, libdeflate.
#include "engine/imaging/png_pack.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <libdeflate.h>
#include <zlib.h>

namespace qx::imaging::detail {
namespace {

constexpr uint8_t kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6;
constexpr size_t kMaxPaletteEntries = 256;

// Filter strategies for the whole image: no filter on any row, or per row the filter whose output has the
// smallest sum of magnitudes.
constexpr int kFilterNone = 0, kFilterAdaptive = 5;

// Palette images rank their two strategies by a fast deflate, the winner alone gets the strong one. Truecolour and
// 8-bit grey images take the adaptive filter without a trial: on the benchmark photos, ranking four strategies cost
// a third more time and saved under 0.1 %.
constexpr int kRankingLevel = 4;
// Level 11 writes 0.1 % more than 12 on the benchmark photos in 10 % less time.
constexpr int kFinalLevel = 11;

uint32_t PixelKey(const uint8_t* p, int channels) {
    switch (channels) {
        case 1: return p[0] * 0x010101u | 0xFF000000u;
        case 3: return p[0] | p[1] << 8 | p[2] << 16 | 0xFF000000u;
        default: return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
    }
}

// The distinct colours of an image while there are at most 256, by open addressing.
class ColourTable {
public:
    // false once a 257th colour comes.
    bool Add(uint32_t key) {
        Slot& slot = slots_[Find(key)];
        if (slot.used) return true;
        if (keys_.size() == kMaxPaletteEntries) return false;
        slot = {key, true, static_cast<uint8_t>(keys_.size())};
        keys_.push_back(key);
        return true;
    }
    uint8_t IndexOf(uint32_t key) const { return slots_[Find(key)].index; }
    const std::vector<uint32_t>& Keys() const { return keys_; }
    // Entries with alpha below 255 first, so that tRNS stays short; then by their value, so that like colours
    // get neighbouring indices.
    void SortForPalette() {
        std::sort(keys_.begin(), keys_.end(), [](uint32_t a, uint32_t b) {
            const bool aOpaque = a >> 24 == 0xFF, bOpaque = b >> 24 == 0xFF;
            return aOpaque != bOpaque ? bOpaque : a < b;
        });
        for (size_t i = 0; i < keys_.size(); ++i) slots_[Find(keys_[i])].index = static_cast<uint8_t>(i);
    }

private:
    struct Slot {
        uint32_t key = 0;
        bool used = false;
        uint8_t index = 0;
    };
    static constexpr size_t kSlots = 1024;  // a quarter full at most: short probes
    size_t Find(uint32_t key) const {
        size_t i = (key * 2654435761u) >> 22;
        while (slots_[i].used && slots_[i].key != key) i = (i + 1) % kSlots;
        return i;
    }
    std::array<Slot, kSlots> slots_{};
    std::vector<uint32_t> keys_;
};

struct Census {
    bool opaque = true;
    bool grey = true;
    int greyDepth = 8;       // fewest bits that hold every grey level exactly (opaque grey images)
    bool fewColours = true;  // at most 256 colours (alpha included)
};

// Fewest bits per sample at which every used 8-bit grey level is exact: 1, 2 or 4 bits scale by 255, 85, 17.
int GreyDepth(const std::array<bool, 256>& used) {
    int depth = 1;
    for (int v = 0; v < 256; ++v) {
        if (!used[v]) continue;
        if (v % 17 != 0) return 8;
        if (v % 85 != 0)
            depth = 4;
        else if (v % 255 != 0 && depth < 2)
            depth = 2;
    }
    return depth;
}

Census TakeCensus(const Pixels& pixels, ColourTable& colours) {
    Census census;
    std::array<bool, 256> greyLevels{};
    const int c = pixels.channels;
    uint32_t lastKey = 0;
    bool haveLast = false;
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const uint8_t* p = pixels.Row(y);
        for (uint32_t x = 0; x < pixels.width; ++x, p += c) {
            if (c == 4 && p[3] != 0xFF) census.opaque = false;
            if (c >= 3 && (p[0] != p[1] || p[0] != p[2])) census.grey = false;
            greyLevels[p[0]] = true;
            const uint32_t key = PixelKey(p, c);
            if (census.fewColours && !(haveLast && key == lastKey)) census.fewColours = colours.Add(key);
            lastKey = key;
            haveLast = true;
        }
        if (!census.fewColours && !census.grey && (c != 4 || !census.opaque)) break;  // nothing left to learn
    }
    census.greyDepth = census.grey ? GreyDepth(greyLevels) : 8;
    return census;
}

int PaletteDepth(size_t entries) { return entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8; }

// The colour type and bit depth: fewest bits per pixel the profile allows, grey before a palette of as many bits.
void ChooseForm(const Census& census, const ColourTable& colours, int channels, PngColourRule rule, PngPacked& packed) {
    const bool greyAllowed = rule != PngColourRule::ColourOnly && census.grey;
    const bool paletteAllowed = rule != PngColourRule::GreyOnly && census.fewColours;
    const int paletteDepth = PaletteDepth(colours.Keys().size());
    if (greyAllowed && census.opaque && !(paletteAllowed && paletteDepth < census.greyDepth)) {
        packed.colourType = kGrey;
        packed.bitDepth = static_cast<uint8_t>(census.greyDepth);
    } else if (paletteAllowed) {
        packed.colourType = kPalette;
        packed.bitDepth = static_cast<uint8_t>(paletteDepth);
    } else if (greyAllowed || channels == 1) {
        packed.colourType = census.opaque ? kGrey : kGreyAlpha;
    } else {
        packed.colourType = census.opaque ? kRgb : kRgba;
    }
}

int SamplesPerPixel(uint8_t colourType) {
    switch (colourType) {
        case kRgb: return 3;
        case kGreyAlpha: return 2;
        case kRgba: return 4;
        default: return 1;
    }
}

// One row in the chosen form, packed as PNG stores it.
class RowPacker {
public:
    RowPacker(const Pixels& pixels, const ColourTable& colours, const PngPacked& packed)
        : pixels_(pixels), colours_(colours), type_(packed.colourType), depth_(packed.bitDepth) {}

    size_t RowBytes() const { return (size_t{pixels_.width} * SamplesPerPixel(type_) * depth_ + 7) / 8; }

    void Pack(uint32_t y, uint8_t* out) const {
        const int c = pixels_.channels;
        const uint8_t* p = pixels_.Row(y);
        const uint32_t width = pixels_.width;
        if (depth_ < 8) return PackLowDepth(p, out);
        if (type_ == kPalette) {
            for (uint32_t x = 0; x < width; ++x, p += c) out[x] = colours_.IndexOf(PixelKey(p, c));
        } else if (SamplesPerPixel(type_) == c) {
            std::memcpy(out, p, RowBytes());
        } else if (type_ == kGrey) {
            for (uint32_t x = 0; x < width; ++x, p += c) out[x] = p[0];
        } else if (type_ == kGreyAlpha) {
            for (uint32_t x = 0; x < width; ++x, p += c) out[2 * x] = p[0], out[2 * x + 1] = p[3];
        } else {  // RGB from RGBA
            for (uint32_t x = 0; x < width; ++x, p += c) std::memcpy(out + 3 * size_t{x}, p, 3);
        }
    }

private:
    // Samples of 1, 2 or 4 bits, the leftmost pixel in the high bits of each byte.
    void PackLowDepth(const uint8_t* p, uint8_t* out) const {
        const int c = pixels_.channels;
        const unsigned greyStep = 255u / ((1u << depth_) - 1);
        std::memset(out, 0, RowBytes());
        for (uint32_t x = 0; x < pixels_.width; ++x, p += c) {
            const unsigned value = type_ == kPalette ? colours_.IndexOf(PixelKey(p, c)) : p[0] / greyStep;
            const size_t bit = size_t{x} * depth_;
            out[bit / 8] |= static_cast<uint8_t>(value << (8 - depth_ - bit % 8));
        }
    }

    const Pixels& pixels_;
    const ColourTable& colours_;
    uint8_t type_;
    uint8_t depth_;
};

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// `out[0]` takes the filter type, the filtered bytes follow. One loop per type: the adaptive strategy runs all five
// on every row.
void FilterRow(int type, const uint8_t* row, const uint8_t* prev, size_t length, size_t bpp, uint8_t* out) {
    out[0] = static_cast<uint8_t>(type);
    uint8_t* f = out + 1;
    const size_t lead = std::min(bpp, length);  // the first pixel has no left neighbour
    switch (type) {
        case 1:
            std::memcpy(f, row, lead);
            for (size_t i = lead; i < length; ++i) f[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
            break;
        case 2:
            for (size_t i = 0; i < length; ++i) f[i] = static_cast<uint8_t>(row[i] - prev[i]);
            break;
        case 3:
            for (size_t i = 0; i < lead; ++i) f[i] = static_cast<uint8_t>(row[i] - (prev[i] >> 1));
            for (size_t i = lead; i < length; ++i)
                f[i] = static_cast<uint8_t>(row[i] - ((row[i - bpp] + prev[i]) >> 1));
            break;
        case 4:
            for (size_t i = 0; i < lead; ++i) f[i] = static_cast<uint8_t>(row[i] - prev[i]);
            for (size_t i = lead; i < length; ++i)
                f[i] = static_cast<uint8_t>(row[i] - Paeth(row[i - bpp], prev[i], prev[i - bpp]));
            break;
        default: std::memcpy(f, row, length); break;
    }
}

// Bytes as signed values: the usual cost by which an adaptive encoder picks a row's filter.
uint64_t SignedSum(const uint8_t* filtered, size_t length) {
    uint64_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(filtered[i])));
    return sum;
}

class ImageFilter {
public:
    ImageFilter(const RowPacker& packer, uint32_t height, size_t bpp)
        : packer_(packer), height_(height), length_(packer.RowBytes()), bpp_(bpp) {}

    size_t FilteredBytes() const { return size_t{height_} * (length_ + 1); }

    // false when memory is short. `out` holds FilteredBytes().
    bool Run(int strategy, uint8_t* out) const {
        std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[2 * length_ + 5 * (length_ + 1)]());
        if (!rows) return false;
        uint8_t* row = rows.get();
        uint8_t* prev = row + length_;  // zero above the first row
        uint8_t* trials = prev + length_;
        for (uint32_t y = 0; y < height_; ++y, out += length_ + 1) {
            packer_.Pack(y, row);
            if (strategy != kFilterAdaptive) {
                FilterRow(strategy, row, prev, length_, bpp_, out);
            } else {
                uint64_t best = UINT64_MAX;
                int bestType = 0;
                for (int type = 0; type < 5; ++type) {
                    uint8_t* trial = trials + size_t(type) * (length_ + 1);
                    FilterRow(type, row, prev, length_, bpp_, trial);
                    const uint64_t cost = SignedSum(trial + 1, length_);
                    if (cost < best) best = cost, bestType = type;
                }
                std::memcpy(out, trials + size_t(bestType) * (length_ + 1), length_ + 1);
            }
            std::swap(row, prev);
        }
        return true;
    }

private:
    const RowPacker& packer_;
    uint32_t height_;
    size_t length_;
    size_t bpp_;
};

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// The strategies worth a trial: filters often only blur palette indices and packed low-depth samples.
std::vector<int> Strategies(const PngPacked& packed) {
    if (packed.colourType == kPalette || packed.bitDepth < 8) return {kFilterNone, kFilterAdaptive};
    return {kFilterAdaptive};
}

// The strategy whose image deflates smallest at the ranking level.
bool RankStrategies(const ImageFilter& filter, const std::vector<int>& strategies, uint8_t* filtered,
                    std::vector<uint8_t>& scratch, int& winner) {
    winner = strategies.front();
    if (strategies.size() == 1) return true;
    Compressor ranking(libdeflate_alloc_compressor(kRankingLevel));
    if (!ranking) return false;
    size_t best = scratch.size();
    for (int strategy : strategies) {
        if (!filter.Run(strategy, filtered)) return false;
        // A trial that would not beat the best so far stops as soon as it fills the best one's room.
        const size_t size =
            libdeflate_zlib_compress(ranking.get(), filtered, filter.FilteredBytes(), scratch.data(), best);
        if (size != 0 && size < best) best = size, winner = strategy;
    }
    return true;
}

// Noisy photographs deflate smaller with few or no string matches: a match of a few bytes costs more than the
// literals it replaces, which libdeflate's parser does not always see. zlib's Huffman-only coding and its runs of
// repeated pixels alone are cheap to try. With `out` null, the stream is only measured. 0 when zlib fails or
// `capacity` is too small.
size_t ZlibDeflate(int strategy, const uint8_t* data, size_t size, uint8_t* out, size_t capacity) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, strategy) != Z_OK) return 0;
    std::array<uint8_t, 1 << 16> scratch;
    stream.next_in = const_cast<uint8_t*>(data);
    size_t written = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        // zlib counts in 32 bits: the input goes in slices.
        const size_t slice = std::min<size_t>(size - (stream.next_in - data), 1u << 30);
        stream.avail_in = static_cast<uInt>(slice);
        stream.next_out = out != nullptr ? out + written : scratch.data();
        stream.avail_out =
            static_cast<uInt>(out != nullptr ? std::min<size_t>(capacity - written, 1u << 30) : scratch.size());
        const uInt room = stream.avail_out;
        result = deflate(&stream, stream.next_in + slice == data + size ? Z_FINISH : Z_NO_FLUSH);
        written += room - stream.avail_out;
    }
    deflateEnd(&stream);
    return result == Z_STREAM_END ? written : 0;
}

bool Deflate(const ImageFilter& filter, const std::vector<int>& strategies, std::vector<uint8_t>& stream) {
    std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[filter.FilteredBytes()]);
    Compressor final(libdeflate_alloc_compressor(kFinalLevel));
    if (!filtered || !final) return false;
    try {
        stream.resize(libdeflate_zlib_compress_bound(final.get(), filter.FilteredBytes()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    int winner = 0;
    if (!RankStrategies(filter, strategies, filtered.get(), stream, winner)) return false;
    if (!(strategies.size() > 1 && winner == strategies.back()) && !filter.Run(winner, filtered.get())) return false;
    size_t cheapest = stream.size();
    int cheapStrategy = 0;
    for (int strategy : {Z_HUFFMAN_ONLY, Z_RLE}) {
        const size_t size = ZlibDeflate(strategy, filtered.get(), filter.FilteredBytes(), nullptr, 0);
        if (size != 0 && size < cheapest) cheapest = size, cheapStrategy = strategy;
    }
    // The strong compression gives up as soon as it fills the room of the cheap one.
    size_t size =
        libdeflate_zlib_compress(final.get(), filtered.get(), filter.FilteredBytes(), stream.data(), cheapest);
    if (size == 0 && cheapStrategy != 0) {
        size = ZlibDeflate(cheapStrategy, filtered.get(), filter.FilteredBytes(), stream.data(), stream.size());
    }
    if (size == 0) return false;  // cannot happen with the bound's room
    stream.resize(size);
    stream.shrink_to_fit();
    return true;
}

}  // namespace

bool PackPng(const Pixels& pixels, PngColourRule rule, PngPacked& packed) {
    auto colours = std::make_unique<ColourTable>();
    const Census census = TakeCensus(pixels, *colours);
    ChooseForm(census, *colours, pixels.channels, rule, packed);
    if (packed.colourType == kPalette) {
        colours->SortForPalette();
        for (uint32_t key : colours->Keys()) {
            packed.palette.push_back({static_cast<uint8_t>(key), static_cast<uint8_t>(key >> 8),
                                      static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 24)});
            if (key >> 24 != 0xFF) ++packed.translucentEntries;
        }
    }
    const RowPacker packer(pixels, *colours, packed);
    const size_t bpp = std::max<size_t>(1, size_t(SamplesPerPixel(packed.colourType)) * packed.bitDepth / 8);
    const ImageFilter filter(packer, pixels.height, bpp);
    return Deflate(filter, Strategies(packed), packed.zlibStream);
}

}  // namespace qx::imaging::detail
