// Just enough of ISO BMFF and of HEVC's sequence parameter set to find the coded picture sizes.
#include "engine/imaging/hevc_boxes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qx::imaging::detail {
namespace {

// Item properties of real files take a few kilobytes; a meta box beyond this is not searched.
constexpr uint64_t kMetaLimit = 64u << 20;

uint64_t BigEndian(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

struct Box {
    uint64_t start = 0;   // of the payload
    uint64_t length = 0;  // of the payload
    char type[5] = {};
};

// The box whose header `header` holds (`readable` bytes of it at hand), starting at `at` within [at, end).
bool BoxAt(const uint8_t* header, uint64_t readable, uint64_t at, uint64_t end, Box& box) {
    if (end < at || readable < 8) return false;
    uint64_t size = BigEndian(header, 4);
    uint64_t headerSize = 8;
    if (size == 1) {
        if (readable < 16) return false;
        size = BigEndian(header + 8, 8);
        headerSize = 16;
    } else if (size == 0) {
        size = end - at;
    }
    if (size < headerSize || size > end - at) return false;
    std::memcpy(box.type, header + 4, 4);
    box.start = at + headerSize;
    box.length = size - headerSize;
    return true;
}

bool BoxIn(const std::vector<uint8_t>& bytes, uint64_t at, uint64_t end, Box& box) {
    return end <= bytes.size() && at <= end && BoxAt(bytes.data() + at, end - at, at, end, box);
}

// The payload of the first child of type `type` within [start, start + length).
bool FindChild(const std::vector<uint8_t>& bytes, uint64_t start, uint64_t length, const char* type, Box& found) {
    for (uint64_t at = start; at < start + length; at = found.start + found.length) {
        if (!BoxIn(bytes, at, start + length, found)) return false;
        if (std::strcmp(found.type, type) == 0) return true;
    }
    return false;
}

// Exp-Golomb reading over a parameter set with its emulation prevention bytes removed.
class BitReader {
public:
    explicit BitReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const size_t byte = position_ >> 3;
            const uint32_t bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - (position_ & 7))) & 1u : 0u;
            overrun_ |= byte >= bytes_.size();
            value = value << 1 | bit;
            ++position_;
        }
        return value;
    }
    void Skip(size_t count) { position_ += count; }
    uint32_t Golomb() {
        int zeros = 0;
        while (Bits(1) == 0) {
            if (++zeros > 31 || overrun_) return 0;
        }
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
    }
    bool Overrun() const { return overrun_ || (position_ >> 3) > bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    bool overrun_ = false;
};

std::vector<uint8_t> WithoutEmulationPrevention(const uint8_t* nal, size_t length) {
    std::vector<uint8_t> raw;
    raw.reserve(length);
    int zeros = 0;
    for (size_t i = 0; i < length; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        raw.push_back(nal[i]);
        zeros = nal[i] == 0 ? zeros + 1 : 0;
    }
    return raw;
}

// pic_width/height_in_luma_samples of a sequence parameter set NAL unit (its two-byte header included).
bool SequenceSize(const uint8_t* nal, size_t length, CodedSize& size) {
    if (length < 2) return false;
    BitReader bits(WithoutEmulationPrevention(nal + 2, length - 2));
    bits.Skip(4);  // sps_video_parameter_set_id
    const uint32_t subLayers = bits.Bits(3);
    bits.Skip(1 + 88 + 8);  // temporal id nesting, the general profile and its level
    uint32_t profilePresent = 0, levelPresent = 0;
    for (uint32_t i = 0; i < subLayers; ++i) {
        profilePresent |= bits.Bits(1) << i;
        levelPresent |= bits.Bits(1) << i;
    }
    if (subLayers > 0) bits.Skip(2 * (8 - subLayers));
    for (uint32_t i = 0; i < subLayers; ++i) bits.Skip((profilePresent >> i & 1) * 88 + (levelPresent >> i & 1) * 8);
    bits.Golomb();                         // sps_seq_parameter_set_id
    if (bits.Golomb() == 3) bits.Skip(1);  // chroma_format_idc 4:4:4 and separate_colour_plane_flag
    size.width = bits.Golomb();
    size.height = bits.Golomb();
    return !bits.Overrun();
}

// Every sequence parameter set of one hvcC payload.
bool ConfigurationSizes(const uint8_t* config, uint64_t length, CodedSize& largest) {
    constexpr uint64_t kArraysAt = 22;
    if (length <= kArraysAt) return false;
    uint64_t at = kArraysAt + 1;
    for (unsigned array = 0; array < config[kArraysAt]; ++array) {
        if (length - at < 3) return false;
        const bool sequence = (config[at] & 0x3f) == 33;
        const uint64_t units = BigEndian(config + at + 1, 2);
        at += 3;
        for (uint64_t unit = 0; unit < units; ++unit) {
            if (length - at < 2) return false;
            const uint64_t size = BigEndian(config + at, 2);
            if (length - at - 2 < size) return false;
            CodedSize coded;
            if (sequence && !SequenceSize(config + at + 2, size, coded)) return false;
            if (uint64_t{coded.width} * coded.height > uint64_t{largest.width} * largest.height) largest = coded;
            at += 2 + size;
        }
    }
    return true;
}

bool ReadAt(FILE* file, uint64_t at, uint64_t length, std::vector<uint8_t>& bytes) {
    bytes.resize(length);
    return std::fseek(file, static_cast<long>(at), SEEK_SET) == 0 &&
           std::fread(bytes.data(), 1, length, file) == length;
}

// Where the top-level meta box's payload starts and how long it is. Only box headers are read here.
bool FindMeta(FILE* file, uint64_t fileSize, Box& meta) {
    std::vector<uint8_t> header;
    for (uint64_t at = 0; at < fileSize; at = meta.start + meta.length) {
        if (!ReadAt(file, at, std::min<uint64_t>(16, fileSize - at), header) ||
            !BoxAt(header.data(), header.size(), at, fileSize, meta))
            return false;
        if (std::strcmp(meta.type, "meta") == 0) return true;
    }
    return false;
}

}  // namespace

bool LargestCodedPicture(FILE* file, int64_t fileSize, CodedSize& largest) {
    largest = {};
    Box meta;
    if (fileSize < 0 || !FindMeta(file, static_cast<uint64_t>(fileSize), meta)) return false;
    if (meta.length > kMetaLimit) return true;
    if (meta.length < 4) return false;
    std::vector<uint8_t> bytes;
    if (!ReadAt(file, meta.start, meta.length, bytes)) return false;
    Box properties, container;
    // meta is a full box: version and flags precede its children.
    if (!FindChild(bytes, 4, bytes.size() - 4, "iprp", properties) ||
        !FindChild(bytes, properties.start, properties.length, "ipco", container))
        return true;
    Box property;
    for (uint64_t at = container.start; at < container.start + container.length;
         at = property.start + property.length) {
        if (!BoxIn(bytes, at, container.start + container.length, property)) return false;
        if (std::strcmp(property.type, "hvcC") == 0 &&
            !ConfigurationSizes(bytes.data() + property.start, property.length, largest))
            return false;
    }
    return true;
}

}  // namespace qx::imaging::detail
