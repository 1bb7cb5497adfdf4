#pragma once
// The log library's recursive lock: a benaphore that touches the kernel only under contention.

#include <atomic>
#include <cstdint>

#include <semaphore.h>

// Recursive lock whose uncontended Enter/Leave cost one atomic increment and one decrement; re-entry by the
// owner costs no atomic operation at all. The fast paths are inline: the lock is taken for every log line.
class TznOptex {
public:
    TznOptex() noexcept;
    ~TznOptex();
    TznOptex(const TznOptex&) = delete;
    TznOptex& operator=(const TznOptex&) = delete;

    // Takes the lock, waiting without limit while another thread holds it; the owner may enter again.
    void Enter() {
        const std::uint32_t me = currentThreadId();
        // Only this thread ever stores its own id, so seeing it means we already hold the lock. Re-entry
        // leaves the count alone: it counts holders and waiters, and the holder is already counted once.
        if (FOwningThread.load(std::memory_order_relaxed) == me) {
            ++FRecursionCount;
            return;
        }
        if (FLockCount.fetch_add(1, std::memory_order_acquire) != -1)
            waitForHandOver();
        FOwningThread.store(me, std::memory_order_relaxed);
        FRecursionCount = 1;
    }

    // Gives one entry back; the last one frees the lock and wakes one waiting thread.
    void Leave() {
        if (--FRecursionCount > 0)
            return;
        FOwningThread.store(0, std::memory_order_relaxed);
        // A count still >= 0 after our exit means somebody registered as a waiter.
        if (FLockCount.fetch_sub(1, std::memory_order_release) > 0)
            handOver();
    }

    // True when the calling thread holds the lock (for assertions and tests).
    bool HeldByCurrentThread() const noexcept {
        return FOwningThread.load(std::memory_order_relaxed) == currentThreadId();
    }

private:
    // The kernel's thread id, asked once per thread (gettid is a system call).
    static std::uint32_t currentThreadId() noexcept {
        const std::uint32_t id = FThreadId;
        return id != 0 ? id : fetchThreadId();
    }
    static std::uint32_t fetchThreadId() noexcept;
    void waitForHandOver();
    void handOver();

    // initial-exec: the library is linked into the program, so the id is one %fs-relative load away.
    static inline thread_local std::uint32_t FThreadId __attribute__((tls_model("initial-exec"))) = 0;

    // -1 when free; the first entry of a thread adds one, so count + 1 threads hold or wait for the lock.
    std::atomic<std::int32_t> FLockCount;
    // Kernel thread id of the holder, 0 when free. Atomic because waiters read it while the owner changes it.
    std::atomic<std::uint32_t> FOwningThread;
    // How often the owner has entered; only the owner touches it.
    std::int32_t FRecursionCount;
    // Auto-reset wake-up: one release lets exactly one waiter through. The C library's semaphore, not
    // std::binary_semaphore: GCC 12's can miss a wake-up and leave a waiter asleep for good.
    sem_t FWakeUp;
};

// Holds a TznOptex for one scope, so that every exit path leaves it.
class TznOptexGuard {
public:
    explicit TznOptexGuard(TznOptex& lock) : FLock(lock) { FLock.Enter(); }
    ~TznOptexGuard() { FLock.Leave(); }
    TznOptexGuard(const TznOptexGuard&) = delete;
    TznOptexGuard& operator=(const TznOptexGuard&) = delete;

private:
    TznOptex& FLock;
};
