#include "engine/memory_budget.h"

#include <unistd.h>

#include <algorithm>
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

// A cgroup memory limit in bytes, or 0 when there is none or it cannot be read.
uint64_t CgroupMemoryLimit() {
    for (const char* path : {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
        std::ifstream file(path);
        std::string text;
        if (!(file >> text) || text == "max") continue;
        try {
            uint64_t limit = std::stoull(text);
            if (limit > 0) return limit;
        } catch (const std::exception&) {
        }
    }
    return 0;
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

}  // namespace qx
