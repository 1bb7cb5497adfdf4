#include "znSyncObjs.h"

#include <cerrno>

#include <unistd.h>

TznOptex::TznOptex() noexcept : FLockCount(-1), FOwningThread(0), FRecursionCount(0) {
    ::sem_init(&FWakeUp, 0, 0);
}

TznOptex::~TznOptex() {
    ::sem_destroy(&FWakeUp);
}

std::uint32_t TznOptex::fetchThreadId() noexcept {
    FThreadId = static_cast<std::uint32_t>(::gettid());
    return FThreadId;
}

// Leave releases the wake-up once per registered waiter, so it never overflows the binary semaphore.
void TznOptex::waitForHandOver() {
    while (::sem_wait(&FWakeUp) != 0 && errno == EINTR) {
        // a signal handler ran: wait on
    }
}

void TznOptex::handOver() {
    ::sem_post(&FWakeUp);
}
