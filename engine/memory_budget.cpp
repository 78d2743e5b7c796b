#include "engine/memory_budget.h"

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <climits>
#include <fstream>
#include <string>

namespace qx {

MemoryBudget::Lease::Lease(Lease&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) {
    other.budget_ = nullptr;
    other.bytes_ = 0;
}

MemoryBudget::Lease& MemoryBudget::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        Release();
        budget_ = other.budget_;
        bytes_ = other.bytes_;
        other.budget_ = nullptr;
        other.bytes_ = 0;
    }
    return *this;
}

MemoryBudget::Lease::~Lease() { Release(); }

void MemoryBudget::Lease::Release() {
    if (budget_ != nullptr) budget_->Give(bytes_);
    budget_ = nullptr;
    bytes_ = 0;
}

MemoryBudget::MemoryBudget(uint64_t capacity) : capacity_(std::max<uint64_t>(capacity, 1)) {}

MemoryBudget& MemoryBudget::Process() {
    static MemoryBudget budget(DefaultMemoryBudgetBytes());
    return budget;
}

MemoryBudget::Lease MemoryBudget::Acquire(uint64_t bytes) {
    if (bytes == 0) return Lease();
    std::unique_lock lock(mutex_);
    const uint64_t ticket = nextTicket_++;
    changed_.wait(lock, [&] {
        return ticket == serving_ && (inUse_ == 0 || (inUse_ <= capacity_ && bytes <= capacity_ - inUse_));
    });
    inUse_ += bytes;
    peakInUse_ = std::max(peakInUse_, inUse_);
    ++serving_;
    lock.unlock();
    changed_.notify_all();  // the next ticket may fit as well
    return Lease(this, bytes);
}

void MemoryBudget::Give(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        inUse_ -= bytes;
    }
    changed_.notify_all();
}

uint64_t MemoryBudget::InUse() const {
    std::lock_guard lock(mutex_);
    return inUse_;
}

uint64_t MemoryBudget::PeakInUse() const {
    std::lock_guard lock(mutex_);
    return peakInUse_;
}

namespace {

// glibc's own settings, given back when a batch ends.
constexpr int kDefaultMmapMax = 65536;
constexpr int kDefaultTrimThreshold = 128 * 1024;

uint64_t ReadLimit(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text == "max") return 0;
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        return 0;
    }
}

// The memory limit of this process's cgroup (v2 or v1) in bytes, or 0 when there is none or it cannot be read.
uint64_t CgroupMemoryLimit() {
    uint64_t limit = 0;
    auto consider = [&](uint64_t value) {
        if (value > 0 && (limit == 0 || value < limit)) limit = value;
    };
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line)) {
        // "0::/path" (v2) or "4:memory:/path" (v1)
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) consider(ReadLimit("/sys/fs/cgroup" + path + "/memory.max"));
        if (controllers == "memory" || controllers.find("memory,") != std::string::npos ||
            controllers.find(",memory") != std::string::npos) {
            consider(ReadLimit("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes"));
        }
    }
    // Inside a cgroup namespace the process's own group is the root of the mount.
    consider(ReadLimit("/sys/fs/cgroup/memory.max"));
    consider(ReadLimit("/sys/fs/cgroup/memory/memory.limit_in_bytes"));
    return limit;
}

}  // namespace

uint64_t DefaultMemoryBudgetBytes() {
    // Used when the machine does not say how much memory it has: enough for a few large photos at once.
    constexpr uint64_t kFallbackBytes = uint64_t{2} << 30;
    uint64_t total = 0;
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) total = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    uint64_t cgroup = CgroupMemoryLimit();
    if (cgroup > 0 && (total == 0 || cgroup < total)) total = cgroup;
    return total > 0 ? total / 2 : kFallbackBytes;
}

ImageMemoryReuse::ImageMemoryReuse() {
#if defined(__GLIBC__)
    // Every block from the heap, none mapped on its own (a mapped block goes back to the system when freed,
    // and the next image faults its pages in again), and nothing trimmed from the heap while the batch runs.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

ImageMemoryReuse::~ImageMemoryReuse() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_MAX, kDefaultMmapMax);
    mallopt(M_TRIM_THRESHOLD, kDefaultTrimThreshold);
    malloc_trim(0);
#endif
}

}  // namespace qx
