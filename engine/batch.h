// The batch run: every row of the file list into one output file, on the calling thread or on workers.
#pragma once

#include <cstdint>
#include <string>

#include "engine/imaging/imaging.h"
#include "engine/paths.h"
#include "engine/report.h"
#include "engine/types.h"

namespace qx {

// The list whose rows a batch processes.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual int RowCount() const = 0;
    // The exact bytes of the source path of row i.
    virtual std::string RowPath(int i) const = 0;
    // The folders between the dropped folder's parent and the file of row i, each followed by "/"
    // ("Urlaub/2024/Mai/"); empty for a file added on its own.
    virtual std::string RowSubfolder(int i) const {
        (void)i;
        return {};
    }
};

// A file handed out by the batch: to a worker, or compressed at once.
struct FileStart {
    int row = -1;  // the list row, from 0
    std::string sourcePath;
    std::string targetPath;
};

// Whoever drives a batch: the main window or the command line. Every call comes on the thread that runs
// RunBatch; ShowMessage (from MessageBoxService) too, also for messages that workers raise, and the file
// events of workers.
class BatchHost : public MessageBoxService {
public:
    // Takes the values from the controls with validation; false stops the batch (the user was told).
    virtual bool ExchangeAndValidate() = 0;
    // The main-window values, valid after ExchangeAndValidate; they stay unchanged while the batch runs.
    virtual const MainSettings& GetMainSettings() const = 0;
    // Section "Parameter", read anew at every batch.
    virtual ParameterSettings ReadParameterSettings() = 0;
    // Section "Erweitert", read anew at every batch; a host without one runs with every option off.
    virtual AdvancedSettings ReadAdvancedSettings() { return {}; }
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void EnableCompressButton(bool enable) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // Called about every 50 ms while the batch waits for workers: a window repaints here and drops the
    // user's input.
    virtual void KeepAlive() {}
    // Asked before each new file: true when the user wants the batch stopped. Files already running
    // finish, and the batch ends with its usual closing steps.
    virtual bool StopRequested() { return false; }
    // Each file that is started is done once, in this order: OnFileStarted, then its failure's message (if
    // any), then OnFileDone. Files on workers finish in any order among each other.
    virtual void OnFileStarted(const FileStart& file) { (void)file; }
    virtual void OnFileDone(const FileOutcome& outcome) { (void)outcome; }
};

struct BatchResult {
    int32_t SkippedCount = 0;
    int Failed = 0;        // files that failed (message shown)
    int Written = 0;       // output files written
    bool Started = false;  // false when validation, an empty target folder or an empty list stopped it
    bool Stopped = false;  // the host asked to stop before every row had been started
    BatchReport Report;    // every file that was started, in list order
};

// The "Komprimieren" action over all rows of `rows`.
BatchResult RunBatch(BatchHost& host, const RowSource& rows);

// The output types by AusgabeTyp: the rows of the codec table that have one (extension, MIME type, encoder).
using OutputFormat = imaging::Codec;
// The entry for `ausgabeTyp`, or nullptr for a number no codec has (a hand-edited settings file): then there
// is no extension and no encoder, and every file of the batch fails as a save.
const OutputFormat* FindOutputFormat(int32_t ausgabeTyp);

// The output file name without its extension for row `row` (0-based): the source's title, with "_c" when
// the output goes into the source's own folder (zielPath 0), or the pattern Prefix + LfdNr + row with at
// least Stellen digits. Empty for a naming mode other than 0 or 1.
std::string MakeOutputName(const ParameterSettings& parameters, int32_t zielPath, const PathParts& source, int row);
// Whether AusgabeDateiTyp selects a naming rule (0 or 1). Without one (a hand-edited settings file) every
// output would be the same hidden file "<folder>/.jpg": every file of the batch fails as a save instead.
bool HasNamingRule(int32_t ausgabeDateiTyp);

// Verz as the target folder text: with one trailing "/" added unless it ends in one already.
std::string TargetFolderText(const std::string& verz);

// Most workers a batch may run at once; the Parameter dialog offers 0..1000.
inline constexpr int32_t kMaxThreadAnzahl = 1000;
// ThreadAnzahl as the batch uses it: a stored value outside 0..1000 (only a hand-edited file holds one) is
// taken as the nearest bound, so a negative count runs every file on the calling thread.
int32_t EffectiveThreadAnzahl(int32_t threadAnzahl);

}  // namespace qx
