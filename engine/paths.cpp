#include "engine/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace qx {
namespace {

bool IsSeparator(char c, PathStyle style) { return c == '/' || (style == PathStyle::Windows && c == '\\'); }

}  // namespace

char PathSeparator(PathStyle style) { return style == PathStyle::Windows ? '\\' : '/'; }

void SplitPath(PathParts& parts, const std::string& path, PathStyle style) {
    size_t start = 0;
    parts.drive.clear();
    if (style == PathStyle::Windows && path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        start = 2;
    }
    size_t nameStart = start;
    for (size_t i = start; i < path.size(); ++i) {
        if (IsSeparator(path[i], style)) nameStart = i + 1;
    }
    parts.directory = path.substr(start, nameStart - start);
    const std::string name = path.substr(nameStart);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        parts.title = name;
        parts.extension.clear();
    } else {
        parts.title = name.substr(0, dot);
        parts.extension = name.substr(dot);
    }
}

std::string ParentDirectory(const std::string& path, PathStyle style) {
    PathParts parts;
    SplitPath(parts, path, style);
    return parts.drive + parts.directory;
}

bool IsDirectoryByChdir(const std::string& path) {
    // Changing into a folder needs it to exist and to be searchable; testing exactly that leaves the
    // process's current directory alone, which other threads may rely on.
    if (path.empty()) return false;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;  // the rights chdir would check
}

int ClassifyPath(const std::string& path) {
    struct stat st {};
    if (!path.empty() && stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? -1 : 1;
    return IsDirectoryByChdir(path) ? -1 : 0;
}

bool CreateDirectoryTree(const std::string& path, PathStyle style, const DirectoryOps& ops) {
    std::string p = path;
    // The Windows rule trims backslashes only; on POSIX the separator is "/", and trimming it is what
    // lets a target written with a trailing "/" be created at all.
    const char trimmed = style == PathStyle::Windows ? '\\' : '/';
    while (!p.empty() && p.back() == trimmed) p.pop_back();
    const std::string parent = ParentDirectory(p, style);
    if (parent == p) return true;
    if (ops.classify(p) == -1) return true;
    if (!CreateDirectoryTree(parent, style, ops)) return false;
    return ops.makeDirectory(p);
}

bool CreateDirectoryTree(const std::string& path, PathStyle style) {
    const DirectoryOps native{
        ClassifyPath,
        [](const std::string& folder) {
            if (mkdir(folder.c_str(), 0777) == 0) return true;
            // Another process may have made it in the meantime: a folder is what was asked for.
            return errno == EEXIST && ClassifyPath(folder) == -1;
        },
    };
    return CreateDirectoryTree(path, style, native);
}

bool IsContainedSubfolder(const std::string& subfolder) {
    if (subfolder.empty()) return true;
    if (subfolder.front() == '/' || subfolder.back() != '/') return false;
    size_t start = 0;
    while (start < subfolder.size()) {
        const size_t end = subfolder.find('/', start);
        const std::string part = subfolder.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

namespace {

std::string ResolvedPath(const std::string& path) {
    const std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : std::string();
}

}  // namespace

std::string KeptTreeFolder(const std::string& targetFolder, const std::string& subfolder) {
    if (subfolder.empty()) return targetFolder;
    if (!IsContainedSubfolder(subfolder)) return {};
    // A folder that cannot be made or examined shows as a failed save of the file, naming the path it would
    // have had.
    const std::string folder = targetFolder + subfolder;
    const std::string root = ResolvedPath(targetFolder);
    if (root.empty()) return folder;
    const std::string inside = root == "/" ? root : root + '/';
    // Each level is looked at before the next one is made: a link among the folders already there may point
    // anywhere, and nothing may be made where it points.
    for (size_t end = subfolder.find('/'); end != std::string::npos; end = subfolder.find('/', end + 1)) {
        const std::string level = targetFolder + subfolder.substr(0, end);
        if (!CreateDirectoryTree(level)) return folder;
        const std::string resolved = ResolvedPath(level);
        if (resolved.empty()) return folder;
        if (resolved.compare(0, inside.size(), inside) != 0) return {};
    }
    return folder;
}

}  // namespace qx
