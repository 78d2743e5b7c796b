// Path routines: splitting, folder tests and folder creation, in the Windows or the native style.
#pragma once

#include <functional>
#include <string>

namespace qx {

enum class PathStyle {
    Windows,  // "\" and "/" separate in the split, drive letters, only "\" trimmed
    Native,   // POSIX: only "/" separates, no drives, "\" is an ordinary character
};

struct PathParts {
    virtual ~PathParts() = default;
    std::string drive;
    std::string directory;  // with its trailing separator
    std::string title;
    std::string extension;  // with its dot
};

void SplitPath(PathParts& parts, const std::string& path, PathStyle style = PathStyle::Native);
std::string ParentDirectory(const std::string& path, PathStyle style = PathStyle::Native);
// -1 a folder, 1 an existing entry that is not a folder, 0 nothing (or not examinable).
int ClassifyPath(const std::string& path);
// Same answer as making the path the current directory, without changing it.
bool IsDirectoryByChdir(const std::string& path);
bool CreateDirectoryTree(const std::string& path, PathStyle style = PathStyle::Native);

// The file-system steps of CreateDirectoryTree, replaceable so that the Windows rules can be checked anywhere.
struct DirectoryOps {
    std::function<int(const std::string&)> classify;        // as ClassifyPath
    std::function<bool(const std::string&)> makeDirectory;  // creates one level; false on failure
};
bool CreateDirectoryTree(const std::string& path, PathStyle style, const DirectoryOps& ops);

// Whether `subfolder` (a row's sub-folders) stays below whatever folder it is put under: every part a plain
// name, none empty, "." or "..", and no absolute path.
bool IsContainedSubfolder(const std::string& subfolder);
// The folder a row's output goes into below the target folder text `targetFolder`, with the row's sub-folders
// when the tree is kept; made when missing. Empty when the sub-folders would lead out of the target folder
// (by their names, or by a link among the folders already there).
std::string KeptTreeFolder(const std::string& targetFolder, const std::string& subfolder);

// The separator the style writes.
char PathSeparator(PathStyle style);

}  // namespace qx
