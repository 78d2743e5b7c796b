// quendrix-batch: the batch of the main window, driven from a terminal with the GUI's settings.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/console_host.h"
#include "cli/options.h"
#include "engine/batch.h"
#include "engine/imaging/imaging.h"
#include "engine/report.h"
#include "engine/termination.h"
#include "intake/intake.h"
#include "res/strings.h"
#include "res/version.h"
#include "settings/profile_store.h"
#include "settings/settings.h"
#include "settings/settings_location.h"

namespace qx::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& error) {
    std::fprintf(stderr, "%s\n%s\n", error.c_str(), res::LoadString(res::IDS_CLI_TRY_HELP).c_str());
    return kExitUsage;
}

// Every key in the order the settings file keeps them, so the output reads like the file.
void PrintSettings(const std::string& path, const MainSettings& main, const ParameterSettings& parameters,
                   const AdvancedSettings& advanced) {
    std::printf("%s: %s\n", res::LoadString(res::IDS_CLI_SETTINGS_FILE).c_str(), path.c_str());
    std::string_view section;
    for (const settings::SettingKey& row : settings::kSchema) {
        if (row.section != section) std::printf("[%s]\n", row.section);
        section = row.section;
        std::printf("%s=%s\n", row.key, settings::ValueText(row, main, parameters, advanced).c_str());
    }
}

int PrintVersion() {
    VersionInfo info;
    if (!ReadVersionRecord("/proc/self/exe", info)) return kExitFailed;
    std::printf("%u.%u.%u.%u\n", info.fileVersion[0], info.fileVersion[1], info.fileVersion[2], info.fileVersion[3]);
    return kExitOk;
}

// The folder a report goes into must take it, so that a long batch does not end without its report. 0 when
// it will, else the problem's text.
int ReportProblem(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        ::access(folder.c_str(), W_OK | X_OK) != 0) {
        return res::IDS_CLI_REPORT_FOLDER;
    }
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) return res::IDS_CLI_SETTINGS_NO_FILE;
    return 0;
}

// Why a settings file named on purpose cannot be used (a string id), or 0. One that is not there is a
// mistake, not a wish for the defaults; so is a folder or a file that cannot be read.
int NamedSettingsProblem(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return res::IDS_CLI_SETTINGS_MISSING;
    if (!S_ISREG(status.st_mode)) return res::IDS_CLI_SETTINGS_NO_FILE;
    if (::access(path.c_str(), R_OK) != 0) return res::IDS_CLI_SETTINGS_UNREADABLE;
    if (CheckProfileFile(path) == ProfileFileState::TooLarge) return res::IDS_CLI_SETTINGS_TOO_LARGE;
    return 0;
}

// Says which named files were not taken, and why; their rows for the report.
std::vector<FileOutcome> SayRefused(const std::vector<RefusedFile>& refused) {
    std::vector<FileOutcome> rows;
    for (const RefusedFile& file : refused) {
        FileOutcome outcome;
        outcome.sourcePath = file.path;
        outcome.message = res::FormatNumbered(res::IDS_CLI_NAMED_REFUSED, {file.path, file.reason});
        outcome.reason = file.reason;
        std::fprintf(stderr, "%s\n", outcome.message.c_str());
        rows.push_back(std::move(outcome));
    }
    return rows;
}

bool WriteReport(const std::string& path, const BatchReport& report) {
    if (WriteReportFile(path, *ReportFormatForPath(path), report)) return true;
    std::fprintf(stderr, "%s: --report \"%s\": %s\n", res::LoadString(res::IDS_CLI_PROGRAM).c_str(), path.c_str(),
                 res::LoadString(res::IDS_CLI_REPORT_FAILED).c_str());
    return false;
}

// The batch over the operands with the effective settings: the exit code.
int RunBatchOf(const CommandLine& commandLine, const MainSettings& main, const ParameterSettings& parameters,
               const AdvancedSettings& advanced) {
    const ProgressStyle style = commandLine.quiet              ? ProgressStyle::None
                                : ::isatty(STDERR_FILENO) != 0 ? ProgressStyle::Bar
                                                               : ProgressStyle::Lines;
    ConsoleHost host(main, parameters, style, stderr, commandLine.verbose);
    host.SetAdvancedSettings(advanced);
    if (!host.ExchangeAndValidate()) return kExitUsage;
    if (main.ZielPath == kTargetVerz && main.Verz.empty()) {
        host.ShowMessage(res::LoadString(res::IDS_TARGET_EMPTY));
        return kExitUsage;
    }

    RowList rows;
    // Every shard walks the same folders and keeps its own part of the files, so that the shards of one
    // collection together do each file once.
    const std::optional<Shard>& shard = commandLine.shard;
    const RowSink sink = [&rows, &shard](const FileRow& row) {
        if (!shard || InShard(ShardKey(row), *shard)) rows.Append(row);
    };
    // A file named on purpose that is not taken is a failure of the batch; files in named folders are not.
    std::vector<RefusedFile> refused = OnNamedPaths(
        commandLine.operands, settings::UnpackInputTypes(parameters.EingabeTyp, advanced.WeitereEingabeTypen), sink);
    if (shard) {
        std::erase_if(refused, [&shard](const RefusedFile& file) { return !InShard(file.path, *shard); });
    }
    const std::vector<FileOutcome> refusedRows = SayRefused(refused);

    // The window's "drag into the list" makes no sense here: with nothing taken the batch does not run.
    BatchResult result;
    if (rows.RowCount() > 0) {
        result = RunBatch(host, rows);
        if (!host.Validated()) return kExitUsage;
    } else {
        std::fprintf(stderr, "%s\n", res::LoadString(res::IDS_CLI_NOTHING_TAKEN).c_str());
    }
    result.Report.rows.insert(result.Report.rows.end(), refusedRows.begin(), refusedRows.end());
    if ((result.Started || !refused.empty()) && !commandLine.quiet) {
        std::fprintf(stderr, "%s\n", FormatSummaryLine(result.Report.Totals()).c_str());
    }
    const bool reportWritten = !commandLine.reportPath || WriteReport(*commandLine.reportPath, result.Report);
    if (!result.Started || result.Failed > 0 || !refused.empty() || !reportWritten) return kExitFailed;
    return kExitOk;
}

int Run(int argc, char** argv) {
    CommandLine commandLine;
    std::string error;
    if (!ParseCommandLine(argc, argv, commandLine, error)) return Usage(error);
    if (commandLine.help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (commandLine.version) return PrintVersion();

    const std::string settingsPath = commandLine.settingsPath ? *commandLine.settingsPath : GuiSettingsPath();
    if (commandLine.settingsPath) {
        if (const int problem = NamedSettingsProblem(settingsPath)) {
            return Usage(res::LoadString(res::IDS_CLI_PROGRAM) + ": --settings \"" + settingsPath +
                         "\": " + res::LoadString(problem));
        }
    } else if (CheckProfileFile(settingsPath) == ProfileFileState::TooLarge) {
        // The window's file, as the window treats it: not read, and said so.
        std::fprintf(stderr, "%s: \"%s\": %s; %s\n", res::LoadString(res::IDS_CLI_PROGRAM).c_str(),
                     settingsPath.c_str(), res::LoadString(res::IDS_CLI_SETTINGS_TOO_LARGE).c_str(),
                     res::LoadString(res::IDS_CLI_SETTINGS_DEFAULTS).c_str());
    }

    // Read as the main window reads section Allg when it opens (default folder, then the device-path
    // token), and section Parameter as a drop and a batch read it.
    const ProfileStore store(settingsPath);
    MainSettings main = settings::ReadMainSettings(store, settings::DefaultVerz());
    main.Verz = settings::ApplyTokenOnRead(main.Verz, settings::ReadDevicePath());
    ParameterSettings parameters = settings::ReadParameterSettings(store);
    AdvancedSettings advanced = settings::ReadAdvancedSettings(store);
    ApplyOverrides(commandLine.overrides, main, parameters, advanced);

    if (commandLine.showSettings) {
        PrintSettings(settingsPath, main, parameters, advanced);
        return kExitOk;
    }
    if (commandLine.filesFrom) {
        std::vector<std::string> listed;
        if (!ReadPathList(*commandLine.filesFrom, commandLine.nullSeparated, listed)) {
            return Usage(res::LoadString(res::IDS_CLI_PROGRAM) + ": --files-from \"" + *commandLine.filesFrom +
                         "\": " + res::LoadString(res::IDS_CLI_LIST_UNREADABLE));
        }
        commandLine.operands.insert(commandLine.operands.end(), listed.begin(), listed.end());
    }
    // Running numbers count the rows of one list: every shard would begin at the first number again.
    if (commandLine.shard && parameters.AusgabeDateiTyp == kNamingPattern)
        return Usage(res::LoadString(res::IDS_CLI_SHARD_WITH_PATTERN));
    if (commandLine.operands.empty()) {
        return Usage(res::LoadString(res::IDS_CLI_PROGRAM) + ": " + res::LoadString(res::IDS_CLI_NO_OPERANDS));
    }
    if (commandLine.reportPath) {
        if (const int problem = ReportProblem(*commandLine.reportPath)) {
            return Usage(res::LoadString(res::IDS_CLI_PROGRAM) + ": --report \"" + *commandLine.reportPath +
                         "\": " + res::LoadString(problem));
        }
    }

    return RunBatchOf(commandLine, main, parameters, advanced);
}

}  // namespace
}  // namespace qx::cli

int main(int argc, char** argv) {
    qx::EndCleanlyOnTerminationSignals();
    return qx::ExitCodeUnlessEnding(qx::cli::Run(argc, argv));
}
