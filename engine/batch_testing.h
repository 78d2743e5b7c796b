// Seams that let tests provoke what a healthy machine never does.
#pragma once

#include <functional>
#include <thread>

namespace qx {
class MemoryBudget;
}

namespace qx::testing {

// Starts a worker thread; the default constructs a std::thread. A replacement may throw std::system_error
// to stand for a platform that refuses another thread. Pass an empty function to restore the default.
using ThreadStarter = std::function<std::thread(std::function<void()>)>;
void SetThreadStarter(ThreadStarter starter);

// The budget that batches hold decodes against instead of the process's (nullptr: the process's again), so
// that a measurement can show the cap without filling the machine.
void SetBatchMemoryBudget(MemoryBudget* budget);

}  // namespace qx::testing
