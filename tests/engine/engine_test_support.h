// The engine tests' own helpers beside the shared ones: a message box that records, and a compressor over
// a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "engine/compress.h"
#include "engine/memory_budget.h"
#include "support/test_support.h"

namespace qx::test {

class RecordingMessages : public MessageBoxService {
public:
    void ShowMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
        reasons_.emplace_back();
    }
    void ShowFailure(const std::string& text, const std::string& reason) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
        reasons_.push_back(reason);
    }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The reason given with each message, empty for a message without one.
    std::vector<std::string> reasons() const {
        std::lock_guard lock(mutex_);
        return reasons_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<std::string> reasons_;
};

// A compressor with its own settings, recorded messages, a budget of 1 GiB and a scratch folder.
class CompressorTest : public ::testing::Test {
protected:
    MainSettings settings;
    RecordingMessages messages;
    MemoryBudget budget{uint64_t{1} << 30};
    Compressor compressor{settings, messages, budget};
    ScratchDir dir;
};

}  // namespace qx::test
