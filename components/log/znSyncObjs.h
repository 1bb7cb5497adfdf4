#pragma once
// The log library's recursive lock: a benaphore that touches the kernel only under contention.

#include <atomic>
#include <cstdint>
#include <semaphore>

// Recursive lock whose uncontended Enter/Leave cost one atomic increment and one decrement.
class TznOptex {
public:
    TznOptex() noexcept;
    ~TznOptex();
    TznOptex(const TznOptex&) = delete;
    TznOptex& operator=(const TznOptex&) = delete;

    // Takes the lock, waiting without limit while another thread holds it; the owner may enter again.
    void Enter();
    // Gives one entry back; the last one frees the lock and wakes one waiting thread.
    void Leave();

    // True when the calling thread holds the lock (for assertions and tests).
    bool HeldByCurrentThread() const noexcept;

private:
    // -1 when free; every entry adds one, so count + 1 entries are held or waited for.
    std::atomic<std::int32_t> FLockCount;
    // Kernel thread id of the holder, 0 when free. Atomic because waiters read it while the owner changes it.
    std::atomic<std::uint32_t> FOwningThread;
    // How often the owner has entered; only the owner touches it.
    std::int32_t FRecursionCount;
    // Auto-reset wake-up: one release lets exactly one waiter through.
    std::binary_semaphore FWakeUp;
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
