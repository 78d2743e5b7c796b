// File intake: dropped files and folders, filtered by input type, probed and turned into list rows.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/batch.h"
#include "engine/types.h"

namespace qx {

// The three cells of a file-list row, and the numbers behind them; `path` holds the exact bytes of the source
// path.
struct FileRow {
    std::string path;
    std::string sizeCell;      // "640 * 480"
    std::string fileSizeCell;  // "1,50 KB"
    uint32_t width = 0;        // as probed
    uint32_t height = 0;
    int64_t bytes = 0;  // the file's size when it was taken
    // The folders from the dropped folder's parent down to the file, each with its "/"; empty for a file
    // taken on its own.
    std::string subfolder = {};
};

// Receives every accepted file as it is found, so that a window can show rows while a large folder is walked.
using RowSink = std::function<void(const FileRow&)>;

// The rows of the file list in list order: what the command line and the window's list keep, and what a batch
// reads.
class RowList : public RowSource {
public:
    int RowCount() const override { return static_cast<int>(rows_.size()); }
    std::string RowPath(int i) const override { return Row(i).path; }
    std::string RowSubfolder(int i) const override { return Row(i).subfolder; }

    const FileRow& Row(int i) const { return rows_.at(static_cast<size_t>(i)); }
    const std::vector<FileRow>& Rows() const { return rows_; }
    // Appends at the end; the new row's index.
    int Append(FileRow row);
    void Remove(int i);
    void Clear() { rows_.clear(); }
    // A sink that appends every row it is given.
    RowSink Appender() {
        return [this](const FileRow& row) { Append(row); };
    }

private:
    std::vector<FileRow> rows_;
};

// Handles the dropped paths in order: folders are walked recursively, files are probed and added.
// Empty paths are passed over. Nothing is reported for a file that is not taken.
void OnDropFiles(const std::vector<std::string>& droppedPaths, const InputTypeFlags& flags, const RowSink& sink);

// A file named on purpose that was not taken, and why (a reason from the string table).
struct RefusedFile {
    std::string path;
    std::string reason;
};

// Paths named one by one (the command line, "Dateien hinzufügen..."): a named file is judged by its content,
// whatever its name ends in, and one that is missing, unreadable or no image of an enabled input type is
// returned with its reason, in order. Named folders are walked as in a drop, their files passed over silently.
std::vector<RefusedFile> OnNamedPaths(const std::vector<std::string>& namedPaths, const InputTypeFlags& flags,
                                      const RowSink& sink);

// Reads width and height without decoding the pixels. Only regular files are opened, so a named pipe
// or a device called "x.jpg" cannot block the caller.
bool ProbeImageSize(const std::string& path, uint32_t& width, uint32_t& height);

// Whoever takes the accepted files: the input-type filter and the row sink of one drop.
class ImageIntake {
public:
    ImageIntake(const InputTypeFlags& flags, RowSink sink) : flags_(flags), sink_(std::move(sink)) {}

    // Adds a row for `path` when its extension is an enabled input type (letter case ignored), the file
    // opens as an image and its status can be read; silent otherwise.
    // `subfolder` goes into the row as it is.
    void AddImageFile(const std::string& path, const std::string& subfolder = {}) const;
    // Adds a row for a file named on purpose when its content is an image of an enabled input type; else
    // false with the reason.
    bool AddNamedFile(const std::string& path, std::string& reason) const;

private:
    InputTypeFlags flags_;
    RowSink sink_;
};

// What a folder walk carries through all its levels.
struct DirWalkContext {
    int32_t recurse = 0;  // non-zero: subfolders are walked too
    // Given each file's path (the folder text, ending in "/", and the name) and the context; may be empty.
    std::function<void(const std::string& path, DirWalkContext& context)> callback;
    int32_t stop = 0;  // non-zero ends the walk at every level
    // Folders already walked (device, inode): a symbolic link back to a folder above cannot make the
    // walk endless, and a folder reached through several links is walked once.
    std::set<std::pair<dev_t, ino_t>> visited;
};

// Walks `folder` depth first, each folder's entries sorted bytewise by name (files and subfolders
// interleaved in that order); "." and ".." are never followed. A folder that cannot be read yields
// nothing. Always true.
bool WalkDirectory(const std::string& folder, DirWalkContext& context);

// The dropped folder's own name with its "/" ("Urlaub/" for "/home/a/Urlaub/"), the first part of its files'
// sub-folders; "." and ".." give the name of the folder they stand for, "/" nothing.
std::string DroppedFolderName(const std::string& folder);

// Row cells. The size cell is "%0.2f KB" of the size in kilobytes with a decimal comma, independent of
// the process's locale; 64-bit, so files of 2 GiB and more show their real size.
std::string FormatImageSizeCell(uint32_t width, uint32_t height);
std::string FormatFileSizeCell(int64_t bytes);

// True when the extension (with its dot) belongs to a format of the codec table whose input type is enabled,
// letter case ignored.
bool IsAcceptedExtension(const std::string& extension, const InputTypeFlags& flags);

}  // namespace qx
