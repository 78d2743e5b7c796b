#include "cli/options.h"

#include <getopt.h>

#include "cli/texts.h"
#include "res/strings.h"

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
    kOptQuiet,
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
    {"quiet", no_argument, nullptr, kOptQuiet},
    {"help", no_argument, nullptr, kOptHelp},
    {"version", no_argument, nullptr, kOptVersion},
    {nullptr, 0, nullptr, 0},
};

std::string Describe(const std::string& option, const std::string& value, const std::string& problem) {
    return std::string(text::kProgram) + ": " + option + " \"" + value + "\": " + problem;
}

std::string ReplaceFirst(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

bool ParseAccept(const std::string& value, InputTypeFlags& flags) {
    flags = InputTypeFlags{false, false, false};
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string token = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (token == "jpg") flags.Jpg = true;
        else if (token == "bmp") flags.Bmp = true;
        else if (token == "png") flags.Png = true;
        else return false;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool ParseOutputType(const std::string& value, int32_t& type) {
    if (value == "jpg") type = 0;
    else if (value == "bmp") type = 1;
    else if (value == "png") type = 2;
    else return false;
    return true;
}

}  // namespace

bool ParseUnsignedInRange(const std::string& text, uint32_t lower, uint32_t upper, uint32_t& value, std::string& error) {
    size_t i = 0;
    auto blank = [&](size_t at) { return at < text.size() && (text[at] == ' ' || text[at] == '\t'); };
    while (blank(i)) ++i;
    const size_t digitsStart = i;
    uint64_t number = 0;
    bool tooLarge = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
        if (number > UINT32_MAX) tooLarge = true, number = UINT32_MAX;
        ++i;
    }
    const bool digits = i > digitsStart;
    while (blank(i)) ++i;
    if (!digits || i != text.size()) {
        error = res::LoadString(res::IDS_PARSE_INT);
        return false;
    }
    if (tooLarge || number < lower || number > upper) {
        std::string message = res::LoadString(res::IDS_PARSE_INT_RANGE);
        message = ReplaceFirst(message, "%1", std::to_string(lower));
        message = ReplaceFirst(message, "%2", std::to_string(upper));
        error = message;
        return false;
    }
    value = static_cast<uint32_t>(number);
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
        auto number = [&](uint32_t lower, uint32_t upper, uint32_t& out, const std::string& digits) {
            std::string problem;
            if (ParseUnsignedInRange(digits, lower, upper, out, problem)) return true;
            error = Describe(name, value, problem);
            return false;
        };
        uint32_t n = 0;
        Overrides& o = commandLine.overrides;
        switch (id) {
        case kOptSettings:
            commandLine.settingsPath = value;
            break;
        case kOptShowSettings:
            commandLine.showSettings = true;
            break;
        case kOptSize: {
            if (value == "source") {
                o.Bildsize = 2;
            } else if (value.rfind("percent:", 0) == 0) {
                if (!number(1, 999, n, value.substr(8))) return false;
                o.Bildsize = 0;
                o.Prozent = n;
            } else if (value.rfind("box:", 0) == 0) {
                const std::string box = value.substr(4);
                const size_t x = box.find_first_of("xX");
                uint32_t w = 0;
                uint32_t h = 0;
                std::string problem;
                if (x == std::string::npos) {
                    error = Describe(name, value, text::kSizeForms);
                    return false;
                }
                if (!ParseUnsignedInRange(box.substr(0, x), 1, 10000, w, problem) ||
                    !ParseUnsignedInRange(box.substr(x + 1), 1, 10000, h, problem)) {
                    error = Describe(name, value, problem);
                    return false;
                }
                o.Bildsize = 1;
                o.Breite = w;
                o.Hoehe = h;
            } else {
                error = Describe(name, value, text::kSizeForms);
                return false;
            }
            break;
        }
        case kOptQuality:
            if (!number(0, 100, n, value)) return false;
            o.Rate = n;
            break;
        case kOptNoEnlarge:
            o.NichtVergroessern = 1;
            break;
        case kOptEnlarge:
            o.NichtVergroessern = 0;
            break;
        case kOptTargetFolder:
            if (value.empty()) {
                error = Describe(name, value, res::LoadString(res::IDS_TARGET_EMPTY));
                return false;
            }
            o.ZielPath = 1;
            o.Verz = value;
            break;
        case kOptSourceFolders:
            o.ZielPath = 0;
            break;
        case kOptType: {
            int32_t type = 0;
            if (!ParseOutputType(value, type)) {
                error = Describe(name, value, text::kTypeForms);
                return false;
            }
            o.AusgabeTyp = type;
            break;
        }
        case kOptNames:
            if (value == "source") o.AusgabeDateiTyp = 0;
            else if (value == "pattern") o.AusgabeDateiTyp = 1;
            else {
                error = Describe(name, value, text::kNamesForms);
                return false;
            }
            break;
        case kOptPrefix:
            o.Prefix = value;
            break;
        case kOptFirst:
            if (!number(1, 9999, n, value)) return false;
            o.LfdNr = static_cast<int32_t>(n);
            break;
        case kOptDigits:
            if (!number(1, 4, n, value)) return false;
            o.Stellen = static_cast<int32_t>(n);
            break;
        case kOptThreads:
            if (!number(0, 1000, n, value)) return false;
            o.ThreadAnzahl = static_cast<int32_t>(n);
            break;
        case kOptAccept: {
            InputTypeFlags flags;
            if (!ParseAccept(value, flags)) {
                error = Describe(name, value, text::kAcceptForms);
                return false;
            }
            o.accept = flags;
            break;
        }
        case kOptQuiet:
            commandLine.quiet = true;
            break;
        case 'h':
        case kOptHelp:
            commandLine.help = true;
            break;
        case kOptVersion:
            commandLine.version = true;
            break;
        case ':':
            error = std::string(text::kProgram) + ": " + std::string(argv[optind - 1]) + ": " + text::kMissingValue;
            return false;
        default:
            error = std::string(text::kProgram) + ": " + std::string(argv[optind - 1]) + ": " + text::kUnknownOption;
            return false;
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
        parameters.EingabeTyp = (o.accept->Bmp ? 1 : 0) + (o.accept->Jpg ? 2 : 0) + (o.accept->Png ? 4 : 0);
    }
}

}  // namespace qx::cli
