#include "cli/options.h"

#include <getopt.h>

#include <cstdio>
#include <span>

#include "engine/compress.h"
#include "engine/imaging/imaging.h"
#include "engine/output_ledger.h"
#include "engine/report.h"
#include "res/strings.h"
#include "settings/settings.h"

namespace qx::cli {
namespace {

// The options with code of their own; those that set one key with a number, a text or a word are the settings
// rows' (kSchema), with ids from kRowOption on.
enum OptionId : int {
    kOptSettings = 256,
    kOptShowSettings,
    kOptSize,
    kOptTargetFolder,
    kOptType,
    kOptAccept,
    kOptMaxSize,
    kOptAutoQuality,
    kOptQuiet,
    kOptVerbose,
    kOptReport,
    kOptHelp,
    kOptVersion,
    kOptFilesFrom,
    kOptNull,
    kOptShard,
    kRowOption = 1024,  // + 2 * the row's index + the option's index in the row
};

const option kOwnOptions[] = {
    {"settings", required_argument, nullptr, kOptSettings},
    {"show-settings", no_argument, nullptr, kOptShowSettings},
    {"size", required_argument, nullptr, kOptSize},
    {"target-folder", required_argument, nullptr, kOptTargetFolder},
    {"type", required_argument, nullptr, kOptType},
    {"accept", required_argument, nullptr, kOptAccept},
    {"max-size", required_argument, nullptr, kOptMaxSize},
    {"auto-quality", required_argument, nullptr, kOptAutoQuality},
    {"quiet", no_argument, nullptr, kOptQuiet},
    {"verbose", no_argument, nullptr, kOptVerbose},
    {"report", required_argument, nullptr, kOptReport},
    {"help", no_argument, nullptr, kOptHelp},
    {"version", no_argument, nullptr, kOptVersion},
    {"files-from", required_argument, nullptr, kOptFilesFrom},
    {"null", no_argument, nullptr, kOptNull},
    {"shard", required_argument, nullptr, kOptShard},
};

// Our own options and the rows', as getopt_long takes them.
std::vector<option> AllOptions() {
    std::vector<option> options(std::begin(kOwnOptions), std::end(kOwnOptions));
    for (size_t i = 0; i < std::size(settings::kSchema); ++i) {
        for (size_t k = 0; k < std::size(settings::kSchema[i].options); ++k) {
            const settings::CommandOption& word = settings::kSchema[i].options[k];
            if (word.word == nullptr) continue;
            const int takes = word.sets == settings::kTakesValue ? required_argument : no_argument;
            options.push_back({word.word, takes, nullptr, kRowOption + static_cast<int>(2 * i + k)});
        }
    }
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

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

// A number in the range the dialogs enforce for `row`.
bool ParseInRange(const std::string& text, const settings::SettingKey& row, uint32_t& value, std::string& problem) {
    return ParseUnsignedInRange(text, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper), value,
                                problem);
}

// The value after a row's option: one of its words, a text, or a number in its range.
bool ParseRowValue(const settings::SettingKey& row, const std::string& value, Override& given, std::string& problem) {
    if (row.words[0].word != nullptr) {
        for (const settings::ValueWord& word : row.words) {
            if (value == word.word) {
                given.number = word.value;
                return true;
            }
        }
        problem = res::FormatNumbered(res::IDS_CLI_ONE_OF, {row.words[0].word, row.words[1].word});
        return false;
    }
    if (row.IsText()) {
        given.text = value;
        return true;
    }
    uint32_t number = 0;
    if (!ParseInRange(value, row, number, problem)) return false;
    given.number = number;
    return true;
}

// --size source|percent:N|box:BxH.
bool ParseSize(const std::string& value, std::vector<Override>& overrides, std::string& problem) {
    using settings::Key;
    auto set = [&](const char* key, int64_t number) { overrides.push_back({&Key(key), number, {}}); };
    uint32_t n = 0;
    if (value == "source") {
        set(settings::kBildsize, kSizeSource);
    } else if (value.rfind("percent:", 0) == 0) {
        if (!ParseInRange(value.substr(8), Key(settings::kProzent), n, problem)) return false;
        set(settings::kBildsize, kSizePercent);
        set(settings::kProzent, n);
    } else if (value.rfind("box:", 0) == 0) {
        const std::string box = value.substr(4);
        const size_t x = box.find_first_of("xX");
        uint32_t h = 0;
        if (x == std::string::npos) {
            problem = res::LoadString(res::IDS_CLI_SIZE_FORMS);
            return false;
        }
        if (!ParseInRange(box.substr(0, x), Key(settings::kBreite), n, problem) ||
            !ParseInRange(box.substr(x + 1), Key(settings::kHoehe), h, problem)) {
            return false;
        }
        set(settings::kBildsize, kSizeBox);
        set(settings::kBreite, n);
        set(settings::kHoehe, h);
    } else {
        problem = res::LoadString(res::IDS_CLI_SIZE_FORMS);
        return false;
    }
    return true;
}

// "1.5" or "1,5" (at most one decimal) as 15; false for anything else or above `upper` tenths.
bool ParseTenths(const std::string& text, uint32_t upper, uint32_t& tenths) {
    const size_t point = text.find_first_of(".,");
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "0" : text.substr(point + 1);
    uint32_t units = 0, digit = 0;
    std::string unused;
    if (whole.empty() || fraction.size() != 1 || !ParseUnsignedInRange(whole, 0, upper / 10, units, unused) ||
        !ParseUnsignedInRange(fraction, 0, 9, digit, unused))
        return false;
    tenths = units * 10 + digit;
    return tenths <= upper;
}

// One of the options with code of their own that set keys: false with `problem` for a bad value.
bool ParseOwnOption(int id, const std::string& value, std::vector<Override>& overrides, std::string& problem) {
    using settings::Key;
    auto set = [&](const char* key, int64_t number, std::string text = {}) {
        overrides.push_back({&Key(key), number, std::move(text)});
    };
    uint32_t n = 0;
    switch (id) {
        case kOptSize: return ParseSize(value, overrides, problem);
        case kOptTargetFolder:
            if (value.empty()) {
                problem = res::LoadString(res::IDS_TARGET_EMPTY);
                return false;
            }
            set(settings::kZielPath, kTargetVerz);
            set(settings::kVerz, 0, value);
            return true;
        case kOptType: {
            const imaging::Codec* codec = imaging::FindCodecByName(value);
            if (codec == nullptr || codec->outputType < 0) {
                problem = NamesInWords(res::IDS_CLI_ONE_OF, true);
                return false;
            }
            set(settings::kAusgabeTyp, codec->outputType);
            return true;
        }
        case kOptAccept: {
            InputTypeFlags flags;
            if (!ParseAccept(value, flags)) {
                problem = NamesInWords(res::IDS_CLI_ACCEPT_FORMS, false);
                return false;
            }
            set(settings::kEingabeTyp, settings::PackEingabeTyp(flags));
            set(settings::kWeitereEingabeTypen, settings::PackWeitereEingabeTypen(flags));
            return true;
        }
        case kOptMaxSize: {
            const settings::SettingKey& row = Key(settings::kMaxKB);
            if (!ParseKilobytes(value, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper), n, problem))
                return false;
            set(settings::kMaxKBAktiv, 1);
            set(settings::kMaxKB, n);
            return true;
        }
        case kOptAutoQuality:
            if (!ParseTenths(value, static_cast<uint32_t>(Key(settings::kAutoQualitaet).upper), n)) {
                problem = res::LoadString(res::IDS_CLI_AUTO_QUALITY_FORMS);
                return false;
            }
            set(settings::kAutoQualitaet, n);
            return true;
        default: return true;
    }
}

// "K/N" with 1 <= K <= N.
bool ParseShard(const std::string& value, Shard& shard, std::string& problem) {
    const size_t slash = value.find('/');
    uint32_t index = 0;
    uint32_t count = 0;
    std::string ignored;
    if (slash == std::string::npos || !ParseUnsignedInRange(value.substr(0, slash), 1, UINT32_MAX, index, ignored) ||
        !ParseUnsignedInRange(value.substr(slash + 1), 1, UINT32_MAX, count, ignored) || index > count) {
        problem = res::LoadString(res::IDS_CLI_SHARD_FORMS);
        return false;
    }
    shard = {index, count};
    return true;
}

// The options that belong to the command line alone; false with `problem` for a bad value.
bool ParseCommandLineOnly(int id, const std::string& value, CommandLine& commandLine, std::string& problem) {
    switch (id) {
        case kOptFilesFrom: commandLine.filesFrom = value; return true;
        case kOptNull:
        case '0': commandLine.nullSeparated = true; return true;
        case kOptShard: {
            Shard shard;
            if (!ParseShard(value, shard, problem)) return false;
            commandLine.shard = shard;
            return true;
        }
        default: return ParseOwnOption(id, value, commandLine.overrides, problem);
    }
}

}  // namespace

std::vector<std::string> SplitPathList(const std::string& text, bool nullSeparated) {
    std::vector<std::string> entries;
    const char separator = nullSeparated ? '\0' : '\n';
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) entries.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

bool ReadPathList(const std::string& path, bool nullSeparated, std::vector<std::string>& entries) {
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string text;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    const bool ok = std::ferror(file) == 0;
    if (file != stdin) std::fclose(file);
    if (ok) entries = SplitPathList(text, nullSeparated);
    return ok;
}

std::string ShardKey(const FileRow& row) {
    if (row.subfolder.empty()) return row.path;
    return row.subfolder + row.path.substr(row.path.rfind('/') + 1);
}

bool InShard(const std::string& key, const Shard& shard) { return Fnv1a64(key) % shard.count == shard.index - 1; }

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
    const std::vector<option> options = AllOptions();
    // getopt keeps its state in globals: start afresh, and let us word every message ourselves.
    optind = 0;
    opterr = 0;
    for (;;) {
        int index = -1;
        const int id = getopt_long(argc, argv, ":h0", options.data(), &index);
        if (id == -1) break;
        if (id == ':' || id == '?') {
            const int problemId = id == ':' ? res::IDS_CLI_MISSING_VALUE : res::IDS_CLI_UNKNOWN_OPTION;
            error = res::LoadString(res::IDS_CLI_PROGRAM) + ": " + argv[optind - 1] + ": " + res::LoadString(problemId);
            return false;
        }
        const std::string name = index >= 0 ? std::string("--") + options[index].name : std::string(argv[optind - 1]);
        const std::string value = optarg != nullptr ? optarg : "";
        std::string problem;
        bool ok = true;
        if (id >= kRowOption) {
            const settings::SettingKey& row = settings::kSchema[(id - kRowOption) / 2];
            const settings::CommandOption& word = row.options[(id - kRowOption) % 2];
            Override given{&row, word.sets, {}};
            ok = word.sets != settings::kTakesValue || ParseRowValue(row, value, given, problem);
            if (ok) commandLine.overrides.push_back(std::move(given));
        } else if (id == kOptReport) {
            ok = ReportFormatForPath(value).has_value();
            if (ok)
                commandLine.reportPath = value;
            else
                problem = res::LoadString(res::IDS_CLI_REPORT_FORMS);
        } else {
            ok = ParseCommandLineOnly(id, value, commandLine, problem);
        }
        if (!ok) {
            error = Describe(name, value, problem);
            return false;
        }
        if (id == kOptSettings) commandLine.settingsPath = value;
        commandLine.showSettings |= id == kOptShowSettings;
        commandLine.quiet |= id == kOptQuiet;
        commandLine.verbose |= id == kOptVerbose;
        commandLine.help |= id == kOptHelp || id == 'h';
        commandLine.version |= id == kOptVersion;
    }
    for (int i = optind; i < argc; ++i) commandLine.operands.emplace_back(argv[i]);
    return true;
}

void ApplyOverrides(const std::vector<Override>& overrides, MainSettings& main, ParameterSettings& parameters,
                    AdvancedSettings& advanced) {
    for (const Override& given : overrides)
        settings::SetValue(*given.row, given.number, given.text, main, parameters, advanced);
}

std::string UsageText() {
    const std::string outputTypes = Join(CodecNames(true), "|");
    const std::string inputTypes = Join(CodecNames(false), ",");
    const std::string qualityTypes = OutputFormatsInWords(true, "-");
    std::string text = res::LoadString(res::IDS_CLI_USAGE);
    for (const settings::SettingKey& row : settings::kSchema) {
        if (row.help == 0) continue;
        text += res::FormatNumbered(
            row.help, {std::to_string(row.lower), std::to_string(row.upper), outputTypes, inputTypes, qualityTypes});
    }
    return text + res::LoadString(res::IDS_CLI_USAGE_END);
}

}  // namespace qx::cli
