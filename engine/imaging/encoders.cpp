// The codec table seen as a table of encoders, each with a class identifier, and saving with an encoder and
// a parameter list: the form in which the one-image routine finds its encoder by MIME type.
#include <algorithm>
#include <cstring>

#include "engine/imaging/imaging.h"

namespace qx::imaging {
namespace {

// Class identifiers are this value with the codec's row number in the first byte: the same in every run of
// a build. Nothing keeps them beyond one call.
constexpr Guid kEncoderFamily = {0x00, 0xf4, 0x7c, 0x55, 0x04, 0x1a, 0xd3, 0x11,
                                 0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e};

Guid EncoderIdentifier(size_t row) {
    Guid clsid = kEncoderFamily;
    clsid[0] = static_cast<uint8_t>(row);
    return clsid;
}

// "*.JPG" for ".jpg": the pattern form of an extension.
std::string Pattern(const char* extension) {
    std::string pattern = "*";
    for (const char* c = extension; *c != '\0'; ++c)
        pattern += *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 'a' + 'A') : *c;
    return pattern;
}

}  // namespace

const Guid EncoderQuality = {0xb5, 0xe4, 0x5b, 0x1d, 0x4a, 0xfa, 0x2d, 0x45,
                             0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb};

std::vector<ImageCodecInfo> GetImageEncoders() {
    std::vector<ImageCodecInfo> encoders;
    const std::span<const Codec> codecs = Codecs();
    for (size_t row = 0; row < codecs.size(); ++row) {
        const Codec& codec = codecs[row];
        std::u16string mimeType(codec.mimeType, codec.mimeType + std::strlen(codec.mimeType));  // ASCII
        std::string pattern = Pattern(codec.extension);
        for (const char* more : codec.moreExtensions) {
            if (more != nullptr) pattern.append(";").append(Pattern(more));
        }
        encoders.push_back({EncoderIdentifier(row), std::move(mimeType), codec.description, std::move(pattern)});
    }
    return encoders;
}

const Codec* FindCodecByEncoder(const Guid& clsid) {
    const std::span<const Codec> codecs = Codecs();
    if (clsid[0] >= codecs.size() || clsid != EncoderIdentifier(clsid[0])) return nullptr;
    return &codecs[clsid[0]];
}

int QualityFrom(const EncoderParameters& parameters) {
    for (const EncoderParameter& p : parameters) {
        if (p.guid == EncoderQuality && p.numberOfValues >= 1 && p.type == EncoderParameterValueTypeLong && p.value) {
            uint32_t quality;
            std::memcpy(&quality, p.value, sizeof quality);
            return static_cast<int>(std::min<uint32_t>(quality, 100));
        }
    }
    return 75;
}

bool Bitmap::Save(const std::string& path, const Guid& clsid, const EncoderParameters& parameters) {
    const Codec* format = FindCodecByEncoder(clsid);
    return format != nullptr && Save(path, *format, QualityFrom(parameters));
}

}  // namespace qx::imaging
