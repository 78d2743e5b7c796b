#include "engine/output_ledger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <optional>

#include "engine/paths.h"

namespace qx {
namespace {

std::string LedgerPath(const std::string& file) {
    const std::string folder = ParentDirectory(file);
    return (folder.empty() ? std::string("./") : folder) + kOutputLedgerName;
}

// Size and content hash of a regular file; nothing for anything else (a pipe named like an image blocks no one).
std::optional<std::pair<int64_t, uint64_t>> Fingerprint(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    std::optional<std::pair<int64_t, uint64_t>> result;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        uint64_t hash = Fnv1a64({});
        char buffer[1 << 16];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) hash = Fnv1a64({buffer, static_cast<size_t>(n)}, hash);
        if (n == 0) result.emplace(static_cast<int64_t>(status.st_size), hash);
    }
    ::close(fd);
    return result;
}

}  // namespace

uint64_t Fnv1a64(std::string_view bytes, uint64_t hash) {
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

void RecordOutput(const std::string& outputPath) {
    const auto fingerprint = Fingerprint(outputPath);
    if (!fingerprint) return;
    char line[64];
    const int length =
        std::snprintf(line, sizeof line, "%" PRId64 " %016" PRIx64 "\n", fingerprint->first, fingerprint->second);
    // One short write in append mode: lines of workers and of other processes writing into the same folder
    // do not mix.
    const int fd = ::open(LedgerPath(outputPath).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line, static_cast<size_t>(length));
    ::close(fd);
}

const std::set<OutputLedgers::Entry>& OutputLedgers::LedgerOf(const std::string& folder) {
    const auto found = ledgers_.find(folder);
    if (found != ledgers_.end()) return found->second;
    std::set<Entry>& entries = ledgers_[folder];
    std::ifstream in(folder + kOutputLedgerName);
    // A line cut short by a killed process, or anything else a hand left there, is passed over.
    for (std::string line; std::getline(in, line);) {
        int64_t size = 0;
        uint64_t hash = 0;
        int end = 0;
        if (std::sscanf(line.c_str(), "%" SCNd64 " %16" SCNx64 "%n", &size, &hash, &end) == 2 &&
            static_cast<size_t>(end) == line.size() && line.size() > 17 && line[line.size() - 17] == ' ')
            entries.emplace(size, hash);
    }
    return entries;
}

bool OutputLedgers::IsListedOutput(const std::string& path) {
    const std::string folder = ParentDirectory(path);
    const std::set<Entry>& entries = LedgerOf(folder.empty() ? std::string("./") : folder);
    if (entries.empty()) return false;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    // Only a file of a listed size is read whole: sources are rarely the size of any output.
    const auto bySize = entries.lower_bound({static_cast<int64_t>(status.st_size), 0});
    if (bySize == entries.end() || bySize->first != status.st_size) return false;
    const auto fingerprint = Fingerprint(path);
    return fingerprint && entries.count(*fingerprint) != 0;
}

}  // namespace qx
