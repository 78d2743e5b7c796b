// The command line of quendrix-batch: options that override single settings, and the operands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// One of `count` disjoint parts of the files, numbered from 1.
struct Shard {
    uint32_t index = 1;
    uint32_t count = 1;
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
    std::vector<std::string> operands;     // files and folders, exactly as given
    std::optional<std::string> filesFrom;  // --files-from: more operands, one a line ("-": standard input)
    bool nullSeparated = false;            // -0: the list's entries end in a NUL byte instead
    std::optional<Shard> shard;
};

// Parses argv. False with `error` set (a complete message line) for an unknown option, a missing or bad
// value; the caller then exits with the usage code before touching any file.
bool ParseCommandLine(int argc, char** argv, CommandLine& commandLine, std::string& error);

// The entries of a list of paths: one a line, or each ending in a NUL byte; empty entries are passed over.
std::vector<std::string> SplitPathList(const std::string& text, bool nullSeparated);
// Reads the list --files-from names ("-": standard input); false when it cannot be read.
bool ReadPathList(const std::string& path, bool nullSeparated, std::vector<std::string>& entries);

// The text a file is put into a shard by (with the fixed hash Fnv1a64 of engine/output_ledger.h): its place below the dropped folder's parent for a file of a walked
// folder ("Urlaub/2024/a.jpg"), the path as given for one named on its own. The same on every machine that
// is given the same folder or list, wherever it is mounted.
std::string ShardKey(const FileRow& row);
bool InShard(const std::string& key, const Shard& shard);

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
