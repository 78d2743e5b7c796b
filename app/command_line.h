// The paths the program is opened with ("Open with Quendrix" in a file manager, or quendrix FILE... DIR...).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qx {

// The arguments after the program name, as exact bytes, made absolute against `currentFolder` so that the
// list shows them as a drop of the same files would. Call it with what the toolkit left after taking its own
// options. Empty arguments are passed over.
std::vector<std::string> CommandLinePaths(int argc, const char* const* argv, const std::string& currentFolder);

// "--help" or "--version" among the arguments before "--": prints the usage or the version on standard output
// and returns the exit code, before any window or display is asked for; nothing for any other command line.
std::optional<int> AnswerInfoOption(int argc, const char* const* argv);

// The process's working folder, or the empty text when it cannot be read.
std::string CurrentFolder();

}  // namespace qx
