#include "engine/file_io.h"

#include "engine/file_io_testing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The named temporary files of replacements in progress. Creating, naming, renaming and abandoning all
// happen under the lock, so that a process ending at any moment can leave no temporary file and no
// half-replaced target.
struct ReplacementsInProgress {
    std::mutex mutex;
    std::set<std::string> temporaries;
    std::set<std::string> swept;  // folders already cleared of stale temporaries
    bool abandoned = false;
    bool anonymousOff = false;
    std::function<void(const std::string&)> afterReplacement;
};

ReplacementsInProgress& Replacements() {
    static auto* replacements = new ReplacementsInProgress;  // never destroyed: used until the process ends
    return *replacements;
}

// Temporaries made before this moment belong to runs that have ended or to other processes; a sweep never
// touches a newer one, whoever made it.
const auto kProcessStart = std::chrono::system_clock::now();

std::string TemporaryName() {
    // A short name: the target's own name may already be as long as a name can be.
    char name[40];
    std::snprintf(name, sizeof name, ".qx-%016llx.tmp", static_cast<unsigned long long>(RandomToken()));
    return name;
}

bool IsTemporaryName(const char* name) {
    const size_t length = std::strlen(name);
    if (length != 24 || std::strncmp(name, ".qx-", 4) != 0 || std::strcmp(name + 20, ".tmp") != 0) return false;
    for (size_t i = 4; i < 20; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

// Removes the temporaries of this program in `folder` that a killed run left behind: ours by name and
// owner, older than this process, and locked by nobody (every live temporary is locked by its writer, and
// the lock ends with the writer's process).
void SweepStaleTemporaries(const std::string& folder) {
    const int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;
    DIR* listing = ::fdopendir(dirFd);
    if (listing == nullptr) {
        ::close(dirFd);
        return;
    }
    // File times come from a clock that may lag the system clock by a tick, and FAT keeps them to two
    // seconds: a temporary made just after this process started may carry an earlier time. Only what is
    // clearly older is swept; one left by a run killed a moment ago goes with a later sweep.
    constexpr time_t kFileClockSlack = 3;
    const auto before = std::chrono::system_clock::to_time_t(kProcessStart) - kFileClockSlack;
    while (const dirent* entry = ::readdir(listing)) {
        if (!IsTemporaryName(entry->d_name)) continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
            status.st_mtime < before && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(dirFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(listing);
}

// A new temporary file for a replacement in `folder` (empty, or ending in "/"), locked while it lives;
// -1 when none can be made. Where the file system can, the file has no name until it is complete
// (`temporary` stays empty), so that not even a killed process leaves one behind.
int CreateTemporary(const std::string& folder, std::string& temporary) {
    ReplacementsInProgress& replacements = Replacements();
    std::lock_guard lock(replacements.mutex);
    if (replacements.abandoned) {
        errno = ECANCELED;
        return -1;
    }
    if (replacements.swept.insert(folder).second) SweepStaleTemporaries(folder);
    temporary.clear();
    if (!replacements.anonymousOff) {
        const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
    }
    for (int attempt = 0; attempt < 64; ++attempt) {
        temporary = folder + TemporaryName();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // umask applies
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);
            replacements.temporaries.insert(temporary);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Gives the anonymous file `fd` the name `name`; false with errno (EEXIST: the name is taken).
bool LinkAnonymousAs(int fd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    // Without /proc, only a caller allowed to open any file by its handle may link it.
    return errno == ENOENT && ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Gives the anonymous file `fd` the free name `temporary` in `folder`.
bool LinkAnonymous(int fd, const std::string& folder, std::string& temporary) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        temporary = folder + TemporaryName();
        if (LinkAnonymousAs(fd, temporary)) return true;
        if (errno != EEXIST) break;
    }
    temporary.clear();
    return false;
}

// Puts the complete file `fd` at `path`, or removes it. An anonymous file for a new name takes that name at
// once; one that replaces a file is linked under a temporary name and renamed over it at once (Linux cannot
// link over a name), so that a temporary name exists only between the two calls, and a later batch sweeps
// one that a kill left there.
bool RenameOrRemove(int fd, const std::string& folder, std::string& temporary, const std::string& path, bool complete) {
    ReplacementsInProgress& replacements = Replacements();
    std::lock_guard lock(replacements.mutex);
    const bool abandoned = complete && replacements.abandoned;
    bool renamed = false;
    if (complete && !abandoned) {
        if (temporary.empty() && LinkAnonymousAs(fd, path)) {
            renamed = true;
        } else {
            const bool named = !temporary.empty() || LinkAnonymous(fd, folder, temporary);
            renamed = named && ::rename(temporary.c_str(), path.c_str()) == 0;
        }
    }
    // Callers tell why from errno: the link's or the rename's own, or ECANCELED for a process that is ending.
    const int why = abandoned ? ECANCELED : errno;
    if (!renamed && !temporary.empty()) ::unlink(temporary.c_str());
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
    // The descriptor stays open (and the file locked) until the file has its name: a sweep in another
    // process must not take it for a killed run's leftover.
    const bool renamed = RenameOrRemove(fd, folder, temporary, target, ok);
    const int why = errno;
    ::close(fd);
    errno = why;
    if (!renamed) return false;
    SyncFolder(folder);  // makes the rename durable; the new file is complete either way
    if (const auto& hook = Replacements().afterReplacement) hook(target);
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

namespace qx::testing {

void UseNamedTemporariesOnly(bool on) {
    files::ReplacementsInProgress& replacements = files::Replacements();
    std::lock_guard lock(replacements.mutex);
    replacements.anonymousOff = on;
}

void AfterEachReplacement(std::function<void(const std::string& path)> hook) {
    files::Replacements().afterReplacement = std::move(hook);
}

}  // namespace qx::testing
