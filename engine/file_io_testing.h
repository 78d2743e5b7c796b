// Seams that let tests take the path of a file system without anonymous temporary files, and act as
// another process would the moment a file has been replaced.
#pragma once

#include <functional>
#include <string>

namespace qx::testing {

// On: replacements make named temporary files, as where the file system cannot make anonymous ones.
void UseNamedTemporariesOnly(bool on);

// Called with the path after every replacement is complete (an empty function: none). Set it while no
// replacement runs.
void AfterEachReplacement(std::function<void(const std::string& path)> hook);

}  // namespace qx::testing
