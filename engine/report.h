// What a batch did with each file, and what it saved: the rows a host can keep, show, and write as CSV or JSON
// Lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/imaging/imaging.h"

namespace qx {

enum class FileResult {
    Written,  // the output file was written
    Skipped,  // left alone by the no-enlarge rule: no output
    Failed,   // the user was told (or the message went to the report only)
    NotDone,  // never started: the batch was stopped before it came to the file
};

// What a size limit did to a written file.
enum class SizeLimit {
    Off,            // no limit was set
    Met,            // the output fits
    Missed,         // not even the lowest quality fits: written at it, larger than the limit
    NotApplicable,  // the output type has no quality to lower (BMP, PNG): written as it came
};

// One file of a batch, as far as it is known when the file is done.
struct FileOutcome {
    int row = -1;  // the list row, from 0
    std::string sourcePath;
    std::string targetPath;
    FileResult result = FileResult::Failed;
    std::string message;  // a failure's message, word for word as the box shows it
    std::string reason;   // why it failed, where known ("Bilddaten fehlerhaft: ..."); empty otherwise
    imaging::Failure failure = imaging::Failure::None;
    int64_t bytesBefore = -1;  // the source's size when the file was started; -1 when it cannot be read
    int64_t bytesAfter = -1;   // the output's size as written; -1 unless written
    uint32_t widthBefore = 0, heightBefore = 0;  // the source's pixel size; 0 when it did not open
    uint32_t widthAfter = 0, heightAfter = 0;    // the output's pixel size; 0 unless written
    SizeLimit sizeLimit = SizeLimit::Off;
    int quality = -1;     // the quality a lossy output was encoded with; -1 unless written in such a format
    float distance = -1;  // its butteraugli distance, where the quality was chosen by it; -1 otherwise
};

struct ReportTotals {
    int written = 0;
    int skipped = 0;
    int failed = 0;
    // Over the written files only: what their sources took and what their outputs take.
    int64_t bytesBefore = 0;
    int64_t bytesAfter = 0;
    int notDone = 0;  // rows a stopped batch never came to
    int limitMissed = 0;
    int limitNotApplicable = 0;
};

// The rows of one batch in list order; the rows a stopped batch never started are NotDone.
struct BatchReport {
    std::vector<FileOutcome> rows;
    ReportTotals Totals() const;
};

// "40 Bilder geschrieben, 2 übersprungen, 1 fehlgeschlagen: 113,2 MB → 1,3 MB (−98,8 %)". Without a written
// file the sizes are left out, without a byte before them the change. Missed or inapplicable size limits and a
// stop before the end follow, each after a semicolon.
std::string FormatSummaryLine(const ReportTotals& totals);
// "512 Bytes", "12,5 KB", "113,2 MB": steps of 1024, one decimal with a comma, whatever the locale.
std::string FormatByteSize(int64_t bytes);
// The change from `before` to `after` in per cent, one decimal with a comma: "−98,8 %", "+12,0 %", "0,0 %".
// Nothing for `before` 0.
std::optional<std::string> FormatChange(int64_t before, int64_t after);

// The words of one result in the report window: "geschrieben", "übersprungen", "fehlgeschlagen",
// "nicht bearbeitet".
const std::string& ResultText(FileResult result);

enum class ReportFormat { Csv, JsonLines };
// By the file's extension, letter case ignored: ".csv" or ".jsonl"; nothing for any other.
std::optional<ReportFormat> ReportFormatForPath(const std::string& path);

// CSV for a spreadsheet: a UTF-8 byte order mark, a line of German headings, then one line per row with the
// result in words; ";" between fields, quoted where they must be (RFC 4180), lines ending in CR LF. Bytes of a
// path that are no UTF-8 are written as \xNN (a backslash as \\); a field that would read as a formula starts
// with an apostrophe. Empty fields for what is not known.
std::string ReportCsv(const BatchReport& report);
// JSON Lines: one object per row with the same fields; null for what is not known. Paths are JSON strings:
// a path that is not UTF-8 shows its stray bytes as U+FFFD and gets its exact bytes percent-encoded in a
// second field ("source_bytes", "target_bytes").
std::string ReportJsonLines(const BatchReport& report);
// The report in `format`, replacing `path` atomically (its link, mode and owner kept). False when it
// could not be written; whatever was at `path` is then unchanged.
bool WriteReportFile(const std::string& path, ReportFormat format, const BatchReport& report);

}  // namespace qx
