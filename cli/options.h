// The command line of quendrix-batch: options that override single settings, and the operands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/types.h"
#include "intake/intake.h"

namespace qx::cli {

// Values given on the command line; an empty optional keeps the settings file's value.
struct Overrides {
    std::optional<int32_t> Bildsize;
    std::optional<uint32_t> Prozent;
    std::optional<uint32_t> Breite;
    std::optional<uint32_t> Hoehe;
    std::optional<uint32_t> Rate;
    std::optional<int32_t> NichtVergroessern;
    std::optional<int32_t> ZielPath;
    std::optional<std::string> Verz;
    std::optional<int32_t> AusgabeTyp;
    std::optional<int32_t> AusgabeDateiTyp;
    std::optional<std::string> Prefix;
    std::optional<int32_t> LfdNr;
    std::optional<int32_t> Stellen;
    std::optional<int32_t> ThreadAnzahl;
    std::optional<InputTypeFlags> accept;
    std::optional<int32_t> MetadatenUebernehmen;
    std::optional<int32_t> GpsEntfernen;
    std::optional<int32_t> NurWennKleiner;
    std::optional<int32_t> MaxKB;  // given: MaxKBAktiv on
    std::optional<int32_t> DatumUebernehmen;
};

struct CommandLine {
    std::optional<std::string> settingsPath;
    bool showSettings = false;
    bool quiet = false;
    bool verbose = false;                   // the reason of each failure on the line after its message
    std::optional<std::string> reportPath;  // --report: a ".csv" or ".jsonl" file
    bool help = false;
    bool version = false;
    Overrides overrides;
    std::vector<std::string> operands;  // files and folders, exactly as given
};

// Parses argv. False with `error` set (a complete message line) for an unknown option, a missing or bad
// value; the caller then exits with the usage code before touching any file.
bool ParseCommandLine(int argc, char** argv, CommandLine& commandLine, std::string& error);

// The help text, naming the output and input types of the codec table.
std::string UsageText();

// "Bitte geben Sie eine ganze Zahl zwischen 0 und 100 ein." and the like, with the dialogs' rule for
// numbers: unsigned decimal digits, blanks allowed around them.
bool ParseUnsignedInRange(const std::string& text, uint32_t lower, uint32_t upper, uint32_t& value, std::string& error);

void ApplyOverrides(const Overrides& overrides, MainSettings& main, ParameterSettings& parameters);
void ApplyOverrides(const Overrides& overrides, AdvancedSettings& advanced);

// A size in kilobytes: digits, optionally followed by "K" (kilobytes) or "M" (1024 kilobytes).
bool ParseKilobytes(const std::string& text, uint32_t lower, uint32_t upper, uint32_t& value, std::string& error);

}  // namespace qx::cli
