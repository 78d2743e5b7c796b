// The engine tests' own helper beside the shared ones: a message box that records.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/compress.h"
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

}  // namespace qx::test
