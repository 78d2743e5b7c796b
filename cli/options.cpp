#include "cli/options.h"

#include <getopt.h>

#include <initializer_list>
#include <span>

#include "engine/imaging/imaging.h"
#include "engine/report.h"
#include "res/strings.h"
#include "settings/settings.h"

namespace qx::cli {
namespace {

enum OptionId : int {
    kOptSettings = 256,
    kOptShowSettings,
    kOptSize,
    kOptQuality,
    kOptNoEnlarge,
    kOptEnlarge,
    kOptTargetFolder,
    kOptSourceFolders,
    kOptType,
    kOptNames,
    kOptPrefix,
    kOptFirst,
    kOptDigits,
    kOptThreads,
    kOptAccept,
    kOptMetadata,
    kOptKeepGps,
    kOptSkipLarger,
    kOptMaxSize,
    kOptKeepDate,
    kOptQuiet,
    kOptVerbose,
    kOptReport,
    kOptHelp,
    kOptVersion,
};

const option kOptions[] = {
    {"settings", required_argument, nullptr, kOptSettings},
    {"show-settings", no_argument, nullptr, kOptShowSettings},
    {"size", required_argument, nullptr, kOptSize},
    {"quality", required_argument, nullptr, kOptQuality},
    {"no-enlarge", no_argument, nullptr, kOptNoEnlarge},
    {"enlarge", no_argument, nullptr, kOptEnlarge},
    {"target-folder", required_argument, nullptr, kOptTargetFolder},
    {"source-folders", no_argument, nullptr, kOptSourceFolders},
    {"type", required_argument, nullptr, kOptType},
    {"names", required_argument, nullptr, kOptNames},
    {"prefix", required_argument, nullptr, kOptPrefix},
    {"first", required_argument, nullptr, kOptFirst},
    {"digits", required_argument, nullptr, kOptDigits},
    {"threads", required_argument, nullptr, kOptThreads},
    {"accept", required_argument, nullptr, kOptAccept},
    {"metadata", required_argument, nullptr, kOptMetadata},
    {"keep-gps", no_argument, nullptr, kOptKeepGps},
    {"skip-larger", no_argument, nullptr, kOptSkipLarger},
    {"max-size", required_argument, nullptr, kOptMaxSize},
    {"keep-date", no_argument, nullptr, kOptKeepDate},
    {"quiet", no_argument, nullptr, kOptQuiet},
    {"verbose", no_argument, nullptr, kOptVerbose},
    {"report", required_argument, nullptr, kOptReport},
    {"help", no_argument, nullptr, kOptHelp},
    {"version", no_argument, nullptr, kOptVersion},
    {nullptr, 0, nullptr, 0},
};

std::string Describe(const std::string& option, const std::string& value, const std::string& problem) {
    return res::LoadString(res::IDS_CLI_PROGRAM) + ": " + option + " \"" + value + "\": " + problem;
}

// The codec table's names of its output types (or input types), in its order.
std::vector<std::string> CodecNames(bool outputTypes) {
    std::vector<std::string> names;
    for (const imaging::Codec& codec : imaging::Codecs())
        if ((outputTypes ? codec.outputType : codec.inputTypeBit) >= 0) names.push_back(codec.name);
    return names;
}

std::string Join(std::span<const std::string> words, const char* separator) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// The text of `id` with all names but the last for %1 and the last for %2 ("jpg, bmp oder png").
std::string NamesInWords(int id, bool outputTypes) {
    const std::vector<std::string> names = CodecNames(outputTypes);
    return res::FormatNumbered(id, {Join(std::span(names).first(names.size() - 1), ", "), names.back()});
}

// Formats by the codec table's names ("jpg"), among those with an input type.
bool ParseAccept(const std::string& value, InputTypeFlags& flags) {
    flags = InputTypeFlags::Only(0);
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string token = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const imaging::Codec* codec = imaging::FindCodecByName(token);
        if (codec == nullptr || codec->inputTypeBit < 0) return false;
        flags.Set(codec->inputTypeBit);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

struct Keyword {
    const char* word;
    int32_t value;
};

// One of a fixed set of words, exactly as spelled.
bool ParseKeyword(const std::string& text, std::initializer_list<Keyword> keywords, int32_t& value) {
    for (const Keyword& keyword : keywords) {
        if (text == keyword.word) {
            value = keyword.value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseUnsignedInRange(const std::string& text, uint32_t lower, uint32_t upper, uint32_t& value,
                          std::string& error) {
    uint32_t number = 0;
    const settings::ParseResult parsed = settings::ParseUnsignedDecimal(text, number);
    if (parsed == settings::ParseResult::NotANumber) {
        error = res::LoadString(res::IDS_PARSE_INT);
        return false;
    }
    if (parsed == settings::ParseResult::TooLarge || number < lower || number > upper) {
        error = settings::RangeMessage(lower, upper);
        return false;
    }
    value = number;
    return true;
}

bool ParseKilobytes(const std::string& text, uint32_t lower, uint32_t upper, uint32_t& value, std::string& error) {
    std::string digits = text;
    uint64_t factor = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) {
        digits.pop_back();
    } else if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm')) {
        digits.pop_back();
        factor = 1024;
    }
    uint32_t number = 0;
    if (!ParseUnsignedInRange(digits, 0, UINT32_MAX, number, error)) return false;
    const uint64_t kilobytes = uint64_t{number} * factor;
    if (kilobytes < lower || kilobytes > upper) {
        error = settings::RangeMessage(lower, upper);
        return false;
    }
    value = static_cast<uint32_t>(kilobytes);
    return true;
}

bool ParseCommandLine(int argc, char** argv, CommandLine& commandLine, std::string& error) {
    // getopt keeps its state in globals: start afresh, and let us word every message ourselves.
    optind = 0;
    opterr = 0;
    for (;;) {
        int index = -1;
        const int id = getopt_long(argc, argv, ":h", kOptions, &index);
        if (id == -1) break;
        const std::string name = index >= 0 ? std::string("--") + kOptions[index].name : std::string(argv[optind - 1]);
        const std::string value = optarg != nullptr ? optarg : "";
        auto fail = [&](const std::string& problem) {
            error = Describe(name, value, problem);
            return false;
        };
        // A number in the range the dialogs enforce for `key`.
        auto number = [&](const char* key, uint32_t& out, const std::string& digits) {
            const settings::SettingKey& row = settings::Key(key);
            std::string problem;
            return ParseUnsignedInRange(digits, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper), out,
                                        problem) ||
                   fail(problem);
        };
        auto usage = [&](int problemId) {
            error = res::LoadString(res::IDS_CLI_PROGRAM) + ": " + argv[optind - 1] + ": " + res::LoadString(problemId);
            return false;
        };
        uint32_t n = 0;
        int32_t keyword = 0;
        Overrides& o = commandLine.overrides;
        switch (id) {
            case kOptSettings: commandLine.settingsPath = value; break;
            case kOptShowSettings: commandLine.showSettings = true; break;
            case kOptSize: {
                if (value == "source") {
                    o.Bildsize = kSizeSource;
                } else if (value.rfind("percent:", 0) == 0) {
                    if (!number(settings::kProzent, n, value.substr(8))) return false;
                    o.Bildsize = kSizePercent;
                    o.Prozent = n;
                } else if (value.rfind("box:", 0) == 0) {
                    const std::string box = value.substr(4);
                    const size_t x = box.find_first_of("xX");
                    uint32_t w = 0;
                    uint32_t h = 0;
                    if (x == std::string::npos) return fail(res::LoadString(res::IDS_CLI_SIZE_FORMS));
                    if (!number(settings::kBreite, w, box.substr(0, x)) ||
                        !number(settings::kHoehe, h, box.substr(x + 1))) {
                        return false;
                    }
                    o.Bildsize = kSizeBox;
                    o.Breite = w;
                    o.Hoehe = h;
                } else {
                    return fail(res::LoadString(res::IDS_CLI_SIZE_FORMS));
                }
                break;
            }
            case kOptQuality:
                if (!number(settings::kRate, n, value)) return false;
                o.Rate = n;
                break;
            case kOptNoEnlarge: o.NichtVergroessern = 1; break;
            case kOptEnlarge: o.NichtVergroessern = 0; break;
            case kOptTargetFolder:
                if (value.empty()) return fail(res::LoadString(res::IDS_TARGET_EMPTY));
                o.ZielPath = kTargetVerz;
                o.Verz = value;
                break;
            case kOptSourceFolders: o.ZielPath = kTargetSourceFolder; break;
            case kOptType: {
                const imaging::Codec* codec = imaging::FindCodecByName(value);
                if (codec == nullptr || codec->outputType < 0) return fail(NamesInWords(res::IDS_CLI_TYPE_FORMS, true));
                o.AusgabeTyp = codec->outputType;
                break;
            }
            case kOptNames:
                if (!ParseKeyword(value, {{"source", kNamingLikeSources}, {"pattern", kNamingPattern}}, keyword)) {
                    return fail(res::LoadString(res::IDS_CLI_NAMES_FORMS));
                }
                o.AusgabeDateiTyp = keyword;
                break;
            case kOptPrefix: o.Prefix = value; break;
            case kOptFirst:
                if (!number(settings::kLfdNr, n, value)) return false;
                o.LfdNr = static_cast<int32_t>(n);
                break;
            case kOptDigits:
                if (!number(settings::kStellen, n, value)) return false;
                o.Stellen = static_cast<int32_t>(n);
                break;
            case kOptThreads:
                if (!number(settings::kThreadAnzahl, n, value)) return false;
                o.ThreadAnzahl = static_cast<int32_t>(n);
                break;
            case kOptAccept: {
                InputTypeFlags flags;
                if (!ParseAccept(value, flags)) return fail(NamesInWords(res::IDS_CLI_ACCEPT_FORMS, false));
                o.accept = flags;
                break;
            }
            case kOptMetadata:
                if (!ParseKeyword(value, {{"keep", 1}, {"strip", 0}}, keyword)) {
                    return fail(res::LoadString(res::IDS_CLI_METADATA_FORMS));
                }
                o.MetadatenUebernehmen = keyword;
                break;
            case kOptKeepGps: o.GpsEntfernen = 0; break;
            case kOptSkipLarger: o.NurWennKleiner = 1; break;
            case kOptMaxSize: {
                const settings::SettingKey& row = settings::Key(settings::kMaxKB);
                std::string problem;
                if (!ParseKilobytes(value, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper), n,
                                    problem)) {
                    return fail(problem);
                }
                o.MaxKB = static_cast<int32_t>(n);
                break;
            }
            case kOptKeepDate: o.DatumUebernehmen = 1; break;
            case kOptQuiet: commandLine.quiet = true; break;
            case kOptVerbose: commandLine.verbose = true; break;
            case kOptReport:
                if (!ReportFormatForPath(value)) return fail(res::LoadString(res::IDS_CLI_REPORT_FORMS));
                commandLine.reportPath = value;
                break;
            case 'h':
            case kOptHelp: commandLine.help = true; break;
            case kOptVersion: commandLine.version = true; break;
            case ':': return usage(res::IDS_CLI_MISSING_VALUE);
            default: return usage(res::IDS_CLI_UNKNOWN_OPTION);
        }
    }
    for (int i = optind; i < argc; ++i) commandLine.operands.emplace_back(argv[i]);
    return true;
}

void ApplyOverrides(const Overrides& o, MainSettings& main, ParameterSettings& parameters) {
    if (o.Bildsize) main.Bildsize = *o.Bildsize;
    if (o.Prozent) main.Prozent = *o.Prozent;
    if (o.Breite) main.Breite = *o.Breite;
    if (o.Hoehe) main.Hoehe = *o.Hoehe;
    if (o.Rate) main.Rate = *o.Rate;
    if (o.NichtVergroessern) main.NichtVergroessern = *o.NichtVergroessern;
    if (o.ZielPath) main.ZielPath = *o.ZielPath;
    if (o.Verz) main.Verz = *o.Verz;
    if (o.AusgabeTyp) parameters.AusgabeTyp = *o.AusgabeTyp;
    if (o.AusgabeDateiTyp) parameters.AusgabeDateiTyp = *o.AusgabeDateiTyp;
    if (o.Prefix) parameters.Prefix = *o.Prefix;
    if (o.LfdNr) parameters.LfdNr = *o.LfdNr;
    if (o.Stellen) parameters.Stellen = *o.Stellen;
    if (o.ThreadAnzahl) parameters.ThreadAnzahl = *o.ThreadAnzahl;
    if (o.accept) {
        parameters.EingabeTyp = settings::PackEingabeTyp(*o.accept);
    }
}

void ApplyOverrides(const Overrides& o, AdvancedSettings& advanced) {
    if (o.MetadatenUebernehmen) advanced.MetadatenUebernehmen = *o.MetadatenUebernehmen;
    if (o.GpsEntfernen) advanced.GpsEntfernen = *o.GpsEntfernen;
    if (o.NurWennKleiner) advanced.NurWennKleiner = *o.NurWennKleiner;
    if (o.MaxKB) {
        advanced.MaxKBAktiv = 1;
        advanced.MaxKB = *o.MaxKB;
    }
    if (o.DatumUebernehmen) advanced.DatumUebernehmen = *o.DatumUebernehmen;
}

std::string UsageText() {
    return res::FormatNumbered(res::IDS_CLI_USAGE, {Join(CodecNames(true), "|"), Join(CodecNames(false), ",")});
}

}  // namespace qx::cli
