// The paths the program is opened with ("Open with Quendrix" in a file manager, or quendrix FILE... DIR...).
#pragma once

#include <string>
#include <vector>

namespace qx {

// The arguments after the program name, as exact bytes, made absolute against `currentFolder` so that the
// list shows them as a drop of the same files would. Call it with what the toolkit left after taking its own
// options. Empty arguments are passed over.
std::vector<std::string> CommandLinePaths(int argc, const char* const* argv, const std::string& currentFolder);

// The process's working folder, or the empty text when it cannot be read.
std::string CurrentFolder();

}  // namespace qx
