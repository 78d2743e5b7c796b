// The command line of quendrix-batch: options that override single settings, and the operands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/types.h"
#include "intake/intake.h"
#include "settings/settings.h"

namespace qx::cli {

// A value given on the command line for one key of the settings file, in the order given: a later one wins.
struct Override {
    const settings::SettingKey* row = nullptr;
    int64_t number = 0;  // integer keys
    std::string text;    // text keys
};

struct CommandLine {
    std::optional<std::string> settingsPath;
    bool showSettings = false;
    bool quiet = false;
    bool verbose = false;                   // the reason of each failure on the line after its message
    std::optional<std::string> reportPath;  // --report: a ".csv" or ".jsonl" file
    bool help = false;
    bool version = false;
    std::vector<Override> overrides;
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

void ApplyOverrides(const std::vector<Override>& overrides, MainSettings& main, ParameterSettings& parameters,
                    AdvancedSettings& advanced);

// A size in kilobytes: digits, optionally followed by "K" (kilobytes) or "M" (1024 kilobytes).
bool ParseKilobytes(const std::string& text, uint32_t lower, uint32_t upper, uint32_t& value, std::string& error);

}  // namespace qx::cli
