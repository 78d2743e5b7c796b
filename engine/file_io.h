// Opening files that must be regular files, and replacing files atomically: shared by the image outputs
// and the settings file.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

namespace qx::files {

// `path` opened read-only, without waiting: a named pipe or a device put where a file was expected would
// block the open or the reads, so it is opened non-blocking and refused unless it is a regular file; the
// descriptor that is returned blocks again. -1 on failure, with errno from open() (ENOENT or ENOTDIR for
// a missing file), or EINVAL for something that is not a regular file. `status` is the file's.
int OpenRegularFile(const std::string& path, struct stat& status);

struct ReplaceOptions {
    // Replace the file a symbolic link at `path` points to, keeping the link.
    bool throughLinks = false;
    // The new file gets the old one's mode and, where the caller may give it, its owner.
    bool keepModeAndOwner = false;
    // A file its user may not write is not replaced: the rename would need only the folder's permission.
    // Root passes every permission check, so for root a file without any write bit counts as read-only
    // (made so on purpose), like a read-only file on Windows.
    bool refuseUnwritable = false;
};

// Replaces `path` by what `write` puts into a new temporary file in the same folder, which is synced and
// renamed over `path` only when `write` succeeded; the folder is synced after that. On any failure the
// temporary file is dropped and whatever was at `path` stays as it was. The temporary file has no name
// while it is written where the file system allows (O_TMPFILE), and gets the name ".qx-<hex>.tmp" just
// before the rename; elsewhere it has that name from the start, and is registered while it exists, so that
// AbandonReplacementsInProgress can remove it. The first replacement in a folder removes the named
// temporaries that killed processes left there.
bool ReplaceFileAtomically(const std::string& path, const std::function<bool(int fd)>& write,
                           const ReplaceOptions& options = {});

// Removes the temporary files of every replacement in progress, and makes every replacement from now on
// fail before it touches anything: for a process that is asked to end, just before it ends.
void AbandonReplacementsInProgress();

// Writes all of `size` bytes, retrying after signals.
bool WriteAll(int fd, const void* data, size_t size);

}  // namespace qx::files
