#include "intake/intake.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/compress.h"
#include "engine/imaging/imaging.h"
#include "engine/paths.h"
#include "res/strings.h"

namespace qx {
namespace {

bool IsRegularFile(const std::string& path, struct stat& status) {
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string WithTrailingSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

// One entry of a folder being walked.
struct FoundEntry {
    std::string name;
    bool isDirectory = false;
};

// The entries of one folder, read at once and sorted, so that a deep tree keeps no folder handle open
// per level and a drop lists its files in a predictable order.
bool ReadFolder(const std::string& folder, std::vector<FoundEntry>& entries) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return false;
    const int dirFd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        FoundEntry found;
        found.name = entry->d_name;
        if (entry->d_type == DT_DIR) {
            found.isDirectory = true;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link counts as what it points to; a broken link is offered as a file and fails the probe.
            struct stat status {};
            found.isDirectory = ::fstatat(dirFd, entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
        }
        entries.push_back(std::move(found));
    }
    std::sort(entries.begin(), entries.end(), [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    return true;
}

// Width and height of an image file, and the file's status, read once for both the check that it is a regular
// file and the row's size.
bool ProbeRegularFile(const std::string& path, struct stat& status, uint32_t& width, uint32_t& height) {
    if (!IsRegularFile(path, status)) return false;
    const std::unique_ptr<imaging::Bitmap> bitmap = imaging::Bitmap::FromFile(path);
    if (!bitmap) return false;
    width = bitmap->Width();
    height = bitmap->Height();
    return true;
}

// Marks the folder as walked; false when it was walked before in this drop (or cannot be examined).
bool MarkVisited(const std::string& folder, DirWalkContext& context) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return false;
    return context.visited.emplace(status.st_dev, status.st_ino).second;
}

}  // namespace

std::string FormatImageSizeCell(uint32_t width, uint32_t height) {
    const std::string& format = res::LoadString(res::IDS_SIZE_CELL);
    char buffer[64];
    const int n =
        std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<int>(width), static_cast<int>(height));
    if (n < 0) return std::string();
    return std::string(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

std::string FormatFileSizeCell(int64_t bytes) {
    // to_chars ignores the process's locale (a GUI may have set a German one), like "%0.2f" in the C locale.
    const double kilobytes = static_cast<double>(bytes) * 0.0009765625;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, kilobytes, std::chars_format::fixed, 2);
    std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    std::replace(text.begin(), text.end(), '.', ',');
    return text + " KB";
}

bool IsAcceptedExtension(const std::string& extension, const InputTypeFlags& flags) {
    for (const imaging::Codec& codec : imaging::Codecs()) {
        if (flags.Has(codec.inputTypeBit) && codec.HasExtension(extension)) return true;
    }
    return false;
}

bool ProbeImageSize(const std::string& path, uint32_t& width, uint32_t& height) {
    struct stat status {};
    return ProbeRegularFile(path, status, width, height);
}

void ImageIntake::AddImageFile(const std::string& path, const std::string& subfolder) const {
    PathParts parts;
    SplitPath(parts, path);
    if (!IsAcceptedExtension(parts.extension, flags_)) return;
    uint32_t width = 0;
    uint32_t height = 0;
    struct stat status {};
    if (!ProbeRegularFile(path, status, width, height)) return;
    if (sink_) {
        sink_(FileRow{path, FormatImageSizeCell(width, height), FormatFileSizeCell(status.st_size), width, height,
                      static_cast<int64_t>(status.st_size), subfolder});
    }
}

bool ImageIntake::AddNamedFile(const std::string& path, std::string& reason) const {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        reason = errno == ENOENT ? res::LoadString(res::IDS_REASON_NOT_FOUND)
                                 : FailureText({imaging::Failure::OpenFailed, std::strerror(errno)});
        return false;
    }
    imaging::Error error;
    const std::unique_ptr<imaging::Bitmap> bitmap =
        S_ISREG(status.st_mode) ? imaging::Bitmap::FromFile(path, &error) : nullptr;
    if (!S_ISREG(status.st_mode)) error.failure = imaging::Failure::NotAFile;
    if (!bitmap) {
        reason = FailureText(error);
        return false;
    }
    const imaging::Codec* format = bitmap->Format();
    if (format == nullptr || !flags_.Has(format->inputTypeBit)) {
        reason = res::FormatNumbered(res::IDS_REASON_TYPE_NOT_ACCEPTED, {format ? format->description : ""});
        return false;
    }
    if (sink_) {
        sink_(FileRow{path,
                      FormatImageSizeCell(bitmap->Width(), bitmap->Height()),
                      FormatFileSizeCell(status.st_size),
                      bitmap->Width(),
                      bitmap->Height(),
                      static_cast<int64_t>(status.st_size),
                      {}});
    }
    return true;
}

int RowList::Append(FileRow row) {
    rows_.push_back(std::move(row));
    return static_cast<int>(rows_.size()) - 1;
}

void RowList::Remove(int i) {
    if (i >= 0 && i < RowCount()) rows_.erase(rows_.begin() + i);
}

bool WalkDirectory(const std::string& folder, DirWalkContext& context) {
    const std::string f = WithTrailingSeparator(folder);
    if (!MarkVisited(f, context)) return true;
    std::vector<FoundEntry> entries;
    if (!ReadFolder(f, entries)) return true;
    for (const FoundEntry& entry : entries) {
        if (context.stop != 0) break;
        if (entry.isDirectory) {
            if (entry.name == "." || entry.name == ".." || context.recurse == 0) continue;
            WalkDirectory(f + entry.name, context);
        } else if (context.callback) {
            context.callback(f + entry.name, context);
        }
    }
    return true;
}

std::string DroppedFolderName(const std::string& folder) {
    std::string trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    std::string name = trimmed.substr(trimmed.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..") {
        // "." or "..": the folder's own name, as the file system knows it.
        const std::unique_ptr<char, void (*)(void*)> real(::realpath(folder.c_str(), nullptr), std::free);
        const std::string resolved = real ? real.get() : "";
        name = resolved.substr(resolved.rfind('/') + 1);
    }
    return name.empty() ? std::string() : name + '/';
}

namespace {

// A drop, or paths named one by one: a file of the list itself goes to `addFile`.
void TakePaths(const std::vector<std::string>& paths, const ImageIntake& intake,
               const std::function<void(const std::string&)>& addFile) {
    DirWalkContext context;
    context.recurse = 1;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        if (ClassifyPath(path) == -1) {
            // The walk hands out the dropped text followed by the names below it: what follows that text
            // is the file's place in the tree.
            const std::string root = WithTrailingSeparator(path);
            const std::string rootName = DroppedFolderName(path);
            context.callback = [&](const std::string& file, DirWalkContext&) {
                const std::string below = file.substr(root.size());
                intake.AddImageFile(file, rootName + below.substr(0, below.rfind('/') + 1));
            };
            // Each dropped folder is walked whole, even when it was dropped (or reached) before.
            context.visited.clear();
            WalkDirectory(path, context);
        } else {
            addFile(path);
        }
    }
}

}  // namespace

void OnDropFiles(const std::vector<std::string>& droppedPaths, const InputTypeFlags& flags, const RowSink& sink) {
    const ImageIntake intake(flags, sink);
    TakePaths(droppedPaths, intake, [&intake](const std::string& path) { intake.AddImageFile(path); });
}

std::vector<RefusedFile> OnNamedPaths(const std::vector<std::string>& namedPaths, const InputTypeFlags& flags,
                                      const RowSink& sink) {
    const ImageIntake intake(flags, sink);
    std::vector<RefusedFile> refused;
    TakePaths(namedPaths, intake, [&](const std::string& path) {
        std::string reason;
        if (!intake.AddNamedFile(path, reason)) refused.push_back({path, reason});
    });
    return refused;
}

}  // namespace qx
