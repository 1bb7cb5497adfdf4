#include "znSyncObjs.h"

#include <unistd.h>

namespace {

// gettid() is a system call; a thread asks the kernel once and remembers the answer.
std::uint32_t currentThreadId() noexcept {
    thread_local std::uint32_t id = 0;
    if (id == 0)
        id = static_cast<std::uint32_t>(::gettid());
    return id;
}

} // namespace

TznOptex::TznOptex() noexcept : FLockCount(-1), FOwningThread(0), FRecursionCount(0), FWakeUp(0) {}

TznOptex::~TznOptex() = default;

void TznOptex::Enter() {
    const std::uint32_t me = currentThreadId();
    // Only this thread ever stores its own id, so seeing it means we already hold the lock.
    if (FOwningThread.load(std::memory_order_relaxed) == me) {
        FLockCount.fetch_add(1, std::memory_order_relaxed);
        ++FRecursionCount;
        return;
    }
    if (FLockCount.fetch_add(1, std::memory_order_acquire) != -1)
        FWakeUp.acquire(); // Leave hands the lock over with exactly one release per waiter
    FOwningThread.store(me, std::memory_order_relaxed);
    FRecursionCount = 1;
}

void TznOptex::Leave() {
    if (--FRecursionCount > 0) {
        FLockCount.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    FOwningThread.store(0, std::memory_order_relaxed);
    // A count still >= 0 after our exit means somebody registered as a waiter.
    if (FLockCount.fetch_sub(1, std::memory_order_release) > 0)
        FWakeUp.release();
}

bool TznOptex::HeldByCurrentThread() const noexcept {
    return FOwningThread.load(std::memory_order_relaxed) == currentThreadId();
}
