// A process-wide memory budget that holds image jobs back before they decode, so that many worker threads
// on large photos cannot together take more memory than the machine has.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qx {

class MemoryBudget {
public:
    // A share of the budget, given back when it is destroyed or released.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease();
        void Release();
        uint64_t Bytes() const { return bytes_; }

    private:
        friend class MemoryBudget;
        Lease(MemoryBudget* budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {}
        MemoryBudget* budget_ = nullptr;
        uint64_t bytes_ = 0;
    };

    explicit MemoryBudget(uint64_t capacity);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // The budget shared by every image job of this process (DefaultMemoryBudgetBytes).
    static MemoryBudget& Process();

    // Blocks until `bytes` fit beside what others hold; requests are served in arrival order, so a large
    // one is not starved by small ones. A request larger than the whole budget is served once nothing else
    // is held, so it runs alone instead of waiting forever. A thread must hold at most one lease at a time:
    // then every lease is given back without waiting for another, and no set of waiters can deadlock.
    Lease Acquire(uint64_t bytes);

    uint64_t Capacity() const { return capacity_; }
    uint64_t InUse() const;
    uint64_t PeakInUse() const;

private:
    void Give(uint64_t bytes);

    const uint64_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t inUse_ = 0;
    uint64_t peakInUse_ = 0;
    uint64_t nextTicket_ = 0;
    uint64_t serving_ = 0;
};

// Half of the memory this process may use: the physical memory, or a smaller cgroup limit when the
// process runs under one. The other half is left to what the estimate does not count (compressed file
// data, codec work buffers, encoders, a thousand thread stacks) and to the rest of the system.
uint64_t DefaultMemoryBudgetBytes();

// While it lives, freed pixel buffers of up to 32 MB stay in the heap for the next image instead of going back
// to the system, so that each image does not fault in its buffers page by page again; when it ends, the freed
// memory is given back. Held by a batch for its whole run.
class ImageMemoryReuse {
public:
    ImageMemoryReuse();
    ~ImageMemoryReuse();
    ImageMemoryReuse(const ImageMemoryReuse&) = delete;
    ImageMemoryReuse& operator=(const ImageMemoryReuse&) = delete;
};

}  // namespace qx
