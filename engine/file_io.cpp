#include "engine/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace qx::files {
namespace {

uint64_t RandomToken() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        const uint64_t seed = (uint64_t{device()} << 32) ^ device() ^
                              std::hash<std::thread::id>()(std::this_thread::get_id()) ^
                              static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return std::mt19937_64(seed);
    }();
    return generator();
}

// The temporary files of replacements in progress. Creating, renaming and abandoning all happen under the
// lock, so that a process ending at any moment can leave no temporary file and no half-replaced target.
struct ReplacementsInProgress {
    std::mutex mutex;
    std::set<std::string> temporaries;
    bool abandoned = false;
};

ReplacementsInProgress& Replacements() {
    static auto* replacements = new ReplacementsInProgress;  // never destroyed: used until the process ends
    return *replacements;
}

// Creates a new temporary file in `folder` (empty, or ending in "/"); -1 when none can be made.
int CreateTemporary(const std::string& folder, std::string& temporary) {
    ReplacementsInProgress& replacements = Replacements();
    std::lock_guard lock(replacements.mutex);
    if (replacements.abandoned) {
        errno = ECANCELED;
        return -1;
    }
    for (int attempt = 0; attempt < 64; ++attempt) {
        // A short name: the target's own name may already be as long as a name can be.
        char name[40];
        std::snprintf(name, sizeof name, ".qx-%016llx.tmp", static_cast<unsigned long long>(RandomToken()));
        temporary = folder + name;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // umask applies
        if (fd >= 0) {
            replacements.temporaries.insert(temporary);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool RenameOrRemove(const std::string& temporary, const std::string& path, bool complete) {
    ReplacementsInProgress& replacements = Replacements();
    std::lock_guard lock(replacements.mutex);
    const bool renamed = complete && !replacements.abandoned && ::rename(temporary.c_str(), path.c_str()) == 0;
    // Callers tell why from errno: the rename's own, or ECANCELED for a process that is ending.
    const int why = complete && replacements.abandoned ? ECANCELED : errno;
    if (!renamed) ::unlink(temporary.c_str());
    replacements.temporaries.erase(temporary);
    errno = why;
    return renamed;
}

bool MayReplace(const std::string& path, const struct stat& old) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
    return ::geteuid() != 0 || (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

int OpenRegularFile(const std::string& path, struct stat& status) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::function<bool(int fd)>& write,
                           const ReplaceOptions& options) {
    if (path.empty() || path.back() == '/') return false;
    std::string target = path;
    if (options.throughLinks) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && options.refuseUnwritable && !MayReplace(target, old)) return false;

    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string temporary;
    const int fd = CreateTemporary(folder, temporary);
    if (fd < 0) return false;
    bool ok = true;
    if (exists && options.keepModeAndOwner) {
        // Root writing someone else's file: it stays theirs. Anyone else cannot give a file away, and then
        // owns the new one.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {}
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    try {
        ok = ok && write(fd);
    } catch (...) {
        ok = false;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!RenameOrRemove(temporary, target, ok)) return false;
    SyncFolder(folder);  // makes the rename durable; the new file is complete either way
    return true;
}

void AbandonReplacementsInProgress() {
    ReplacementsInProgress& replacements = Replacements();
    std::lock_guard lock(replacements.mutex);
    replacements.abandoned = true;
    for (const std::string& temporary : replacements.temporaries) ::unlink(temporary.c_str());
    replacements.temporaries.clear();
}

}  // namespace qx::files
