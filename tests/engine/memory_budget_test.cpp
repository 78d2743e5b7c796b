// The memory budget with real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/memory_budget.h"

namespace qx::test {
namespace {

TEST(MemoryBudget, HoldsBackWhatDoesNotFitAndNeverExceedsIt) {
    MemoryBudget budget(100);
    std::atomic<int> holders{0};
    std::atomic<int> mostHolders{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&] {
            MemoryBudget::Lease lease = budget.Acquire(30);
            int now = ++holders;
            int seen = mostHolders.load();
            while (now > seen && !mostHolders.compare_exchange_weak(seen, now)) {}
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            --holders;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_LE(mostHolders.load(), 3);  // 3 * 30 <= 100 < 4 * 30
    EXPECT_LE(budget.PeakInUse(), 100u);
    EXPECT_EQ(budget.InUse(), 0u);
}

TEST(MemoryBudget, OversizedRequestRunsAloneOnceNothingElseIsHeld) {
    MemoryBudget budget(100);
    MemoryBudget::Lease small = budget.Acquire(10);
    std::atomic<bool> got{false};
    std::thread big([&] {
        MemoryBudget::Lease lease = budget.Acquire(1000);
        got = true;
        EXPECT_EQ(budget.InUse(), 1000u);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());
    small.Release();
    big.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(budget.InUse(), 0u);
    // Nothing held: it is granted at once.
    MemoryBudget::Lease alone = budget.Acquire(5000);
    EXPECT_EQ(alone.Bytes(), 5000u);
}

TEST(MemoryBudget, LeasesMoveAndZeroIsFree) {
    MemoryBudget budget(100);
    MemoryBudget::Lease a = budget.Acquire(60);
    MemoryBudget::Lease b = std::move(a);
    EXPECT_EQ(budget.InUse(), 60u);
    a = budget.Acquire(0);
    EXPECT_EQ(budget.InUse(), 60u);
    b = MemoryBudget::Lease();
    EXPECT_EQ(budget.InUse(), 0u);
    EXPECT_GT(DefaultMemoryBudgetBytes(), uint64_t{64} << 20);
}

}  // namespace
}  // namespace qx::test
