// The batch host of the command line: messages and progress on stderr, values from settings and options.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/batch.h"
#include "intake/intake.h"

namespace qx::cli {

enum class ProgressStyle {
    None,  // --quiet
    Bar,   // a terminal: one line redrawn in place
    Lines, // a pipe or file: one line per step
};

class ConsoleHost : public BatchHost {
public:
    ConsoleHost(const MainSettings& main, const ParameterSettings& parameters, ProgressStyle style, std::FILE* out,
                bool verbose = false);

    bool ExchangeAndValidate() override;
    const MainSettings& GetMainSettings() const override { return main_; }
    ParameterSettings ReadParameterSettings() override { return parameters_; }
    AdvancedSettings ReadAdvancedSettings() override { return advanced_; }
    void SetAdvancedSettings(const AdvancedSettings& advanced) { advanced_ = advanced; }
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int position) override;
    void EnableCompressButton(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override;
    void ShowMessage(const std::string& text) override;
    // The message, and with --verbose the reason on the next line.
    void ShowFailure(const std::string& text, const std::string& reason) override;
    // A terminal stops the batch with Ctrl-C, which ends the program.
    bool StopRequested() override { return false; }

    bool Validated() const { return validated_; }

private:
    void Show(int done, int total);
    void ClearBar();

    MainSettings main_;
    ParameterSettings parameters_;
    AdvancedSettings advanced_;
    ProgressStyle style_;
    std::FILE* out_;
    bool verbose_;
    bool validated_ = false;
    // The engine's bar first counts the files handed out (range 0..n), then the jobs collected of the
    // last m (range 0..m). Shown here as files known to be done, which never goes back.
    int phase_ = 0;
    int total_ = 0;
    int handedOut_ = 0;
    int finalJobs_ = 0;
    int shown_ = -1;
    bool barOnScreen_ = false;
};

class RowList : public RowSource {
public:
    std::vector<FileRow> rows;
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string RowPath(int i) const override { return rows[static_cast<size_t>(i)].path; }
};

}  // namespace qx::cli
