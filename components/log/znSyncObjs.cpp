#include "znSyncObjs.h"

#include <unistd.h>

TznOptex::TznOptex() noexcept : FLockCount(-1), FOwningThread(0), FRecursionCount(0), FWakeUp(0) {}

TznOptex::~TznOptex() = default;

std::uint32_t TznOptex::fetchThreadId() noexcept {
    FThreadId = static_cast<std::uint32_t>(::gettid());
    return FThreadId;
}

// Leave releases the wake-up once per registered waiter, so it never overflows the binary semaphore.
void TznOptex::waitForHandOver() {
    FWakeUp.acquire();
}

void TznOptex::handOver() {
    FWakeUp.release();
}
