// The batch host of the command line: messages and progress on stderr, values from settings and options.
#pragma once

#include <cstdio>
#include <string>

#include "engine/batch.h"
#include "intake/intake.h"

namespace qx::cli {

enum class ProgressStyle {
    None,   // --quiet
    Bar,    // a terminal: one line redrawn in place
    Lines,  // a pipe or file: one line per step
};

class ConsoleHost : public BatchHost {
public:
    ConsoleHost(const MainSettings& main, const ParameterSettings& parameters, ProgressStyle style, std::FILE* out,
                bool verbose = false);

    bool ExchangeAndValidate() override;
    const MainSettings& GetMainSettings() const override { return main_; }
    ParameterSettings ReadParameterSettings() override { return parameters_; }
    // The bar counts the files done (OnFileDone) of the rows the batch takes (its first range).
    AdvancedSettings ReadAdvancedSettings() override { return advanced_; }
    void SetAdvancedSettings(const AdvancedSettings& advanced) { advanced_ = advanced; }
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int) override {}
    // A written file that missed its size limit gets a line of its own.
    void OnFileDone(const FileOutcome& outcome) override;
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
    int total_ = -1;  // until the batch names its rows
    int done_ = 0;
    int shown_ = -1;
    bool barOnScreen_ = false;
};

}  // namespace qx::cli
