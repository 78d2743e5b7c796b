// What tests that run a batch in this process share: file lists of given paths and a host that stays quiet.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/batch.h"
#include "intake/intake.h"

namespace qx::test {

// A row that carries only its path: all a batch reads of it.
inline void AppendPath(RowList& rows, const std::string& path) {
    FileRow row;
    row.path = path;
    rows.Append(std::move(row));
}

inline RowList RowsOf(const std::vector<std::string>& paths) {
    RowList rows;
    for (const std::string& path : paths) AppendPath(rows, path);
    return rows;
}

// A host whose every call does nothing but hand out its settings; a test overrides what it watches. The
// messages are kept without a lock: they come on the batch's thread.
class QuietHost : public BatchHost {
public:
    MainSettings main;
    ParameterSettings parameters;
    AdvancedSettings advanced;
    std::vector<std::string> messages;

    bool ExchangeAndValidate() override { return true; }
    const MainSettings& GetMainSettings() const override { return main; }
    ParameterSettings ReadParameterSettings() override { return parameters; }
    AdvancedSettings ReadAdvancedSettings() override { return advanced; }
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void EnableCompressButton(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
};

}  // namespace qx::test
