// A message box service that records instead of showing, for code that raises messages on any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/types.h"

namespace qx::test {

class MessageRecorder : public MessageBoxService {
public:
    void ShowMessage(const std::string& text) override { Record(text, ""); }
    void ShowFailure(const std::string& text, const std::string& reason) override { Record(text, reason); }
    // A failure box with its check box: recorded like any failure, and the box checked whose number (from 0,
    // counted over the recorder's life) is quietAtFailure.
    bool ShowBatchFailure(const std::string& text, const std::string& reason) override {
        Record(text, reason);
        std::lock_guard lock(mutex_);
        return failureBoxes_++ == quietAtFailure;
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
    int failureBoxes() const {
        std::lock_guard lock(mutex_);
        return failureBoxes_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
        reasons_.clear();
    }

    int quietAtFailure = -1;

private:
    void Record(const std::string& text, const std::string& reason) {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
        reasons_.push_back(reason);
    }

    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<std::string> reasons_;
    int failureBoxes_ = 0;
};

}  // namespace qx::test
