// The batch run: every row of the file list into one output file, on the calling thread or on workers.
#pragma once

#include <cstdint>
#include <string>

#include "engine/types.h"

namespace qx {

// The list whose rows a batch processes.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual int RowCount() const = 0;
    // The exact bytes of the source path of row i.
    virtual std::string RowPath(int i) const = 0;
};

// Whoever drives a batch: the main window or the command line. Every call comes on the thread that runs
// RunBatch; ShowMessage (from MessageBoxService) too, also for messages that workers raise.
class BatchHost : public MessageBoxService {
public:
    // Takes the values from the controls with validation; false stops the batch (the user was told).
    virtual bool ExchangeAndValidate() = 0;
    // The main-window values, valid after ExchangeAndValidate; they stay unchanged while the batch runs.
    virtual const MainSettings& GetMainSettings() const = 0;
    // Section "Parameter", read anew at every batch.
    virtual ParameterSettings ReadParameterSettings() = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void EnableCompressButton(bool enable) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // Called about every 50 ms while the batch waits for workers: a window repaints here, without
    // taking user input.
    virtual void KeepAlive() {}
};

struct BatchResult {
    int32_t SkippedCount = 0;
    int Failed = 0;     // files that failed (message shown)
    int Written = 0;    // output files written
    bool Started = false;  // false when validation, an empty target folder or an empty list stopped it
};

// The "Komprimieren" action over all rows of `rows`.
BatchResult RunBatch(BatchHost& host, const RowSource& rows);

}  // namespace qx
