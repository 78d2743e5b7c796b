// Real folders, real images and quendrix-batch run as a child process under limits, for the hardening tests.
#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/images.h"

namespace qx::test {

// Temporary files of an atomic replacement (".qx-<hex>.tmp", of images and of the settings file alike)
// below `folder`.
inline std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& entry : Tree(folder)) {
        const std::string name = std::filesystem::path(entry).filename().string();
        if (name.rfind(".qx-", 0) == 0 && name.size() > 8 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

// quendrix-batch with the settings file `settings`, quiet.
inline RunResult RunBatchProgram(const std::string& settings, std::vector<std::string> args, RunOptions options = {}) {
    args.insert(args.begin(), {"--settings", settings, "--quiet"});
    options.args = std::move(args);
    return RunChild(kBatchProgram, options);
}

inline int CountOccurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

}  // namespace qx::test
