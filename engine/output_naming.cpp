// The output types and the output naming rule of a batch.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "engine/batch.h"
#include "res/strings.h"

namespace qx {
namespace {

// A stored Stellen wider than this is cut to it: no file name can be that long, so the save fails the same
// way, without a number padded to gigabytes first.
constexpr int kMaxNumberWidth = 4096;

}  // namespace

const OutputFormat* FindOutputFormat(int32_t ausgabeTyp) { return imaging::FindCodecByOutputType(ausgabeTyp); }

std::string MakeOutputName(const ParameterSettings& parameters, int32_t zielPath, const PathParts& source, int row) {
    if (parameters.AusgabeDateiTyp == kNamingLikeSources) {
        return zielPath == kTargetSourceFolder ? source.title + "_c" : source.title;
    }
    if (parameters.AusgabeDateiTyp != kNamingPattern) return "";
    // The running number wraps like the 32-bit value it is.
    const int32_t number = static_cast<int32_t>(static_cast<uint32_t>(parameters.LfdNr) + static_cast<uint32_t>(row));
    const int width = std::clamp(parameters.Stellen, -kMaxNumberWidth, kMaxNumberWidth);
    const std::string& pattern = res::LoadString(res::IDS_NAME_PATTERN);
    const int length = std::snprintf(nullptr, 0, pattern.c_str(), parameters.Prefix.c_str(), width, number);
    if (length < 0) return "";
    std::string name(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(name.data(), name.size(), pattern.c_str(), parameters.Prefix.c_str(), width, number);
    name.resize(static_cast<size_t>(length));
    return name;
}

bool HasNamingRule(int32_t ausgabeDateiTyp) {
    return ausgabeDateiTyp == kNamingLikeSources || ausgabeDateiTyp == kNamingPattern;
}

std::string TargetFolderText(const std::string& verz) {
    const char separator = PathSeparator(PathStyle::Native);
    if (!verz.empty() && verz.back() == separator) return verz;
    return verz + separator;
}

int32_t EffectiveThreadAnzahl(int32_t threadAnzahl) { return std::clamp(threadAnzahl, 0, kMaxThreadAnzahl); }

}  // namespace qx
