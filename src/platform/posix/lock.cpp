// A recursive lock that costs one compare-and-swap and one exchange when uncontended.
//
// state: 0 free, 1 held, 2 held with (possible) waiters. Waiters sleep on the state word with
// a Linux futex; elsewhere they yield. The owner field and the depth are only written by the
// owning thread; another thread may read a stale owner, which can never equal its own identity.
#include "platform/lock.h"
#include "platform/posix/posix_support.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <sched.h>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#endif

namespace platform {

namespace {

struct RecursiveLock {
    std::atomic<std::uint32_t> state{0};
    std::uint32_t depth = 0;
    std::atomic<std::uintptr_t> owner{0};
};

// A value unique to the calling thread while it lives: the thread pointer where the compiler
// exposes it (one register read), pthread_self elsewhere.
inline std::uintptr_t selfId() {
#if defined(__x86_64__) || defined(__aarch64__)
    return reinterpret_cast<std::uintptr_t>(__builtin_thread_pointer());
#else
    return static_cast<std::uintptr_t>(pthread_self());
#endif
}

void futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected) {
#if defined(__linux__)
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected,
            nullptr, nullptr, 0);
#else
    (void)word;
    (void)expected;
    sched_yield();
#endif
}

void futexWakeOne(std::atomic<std::uint32_t>* word) {
#if defined(__linux__)
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr,
            nullptr, 0);
#else
    (void)word;
#endif
}

void acquireContended(RecursiveLock* l) {
    // A short spin catches the common case of a holder that is about to leave.
    for (int i = 0; i < 100; ++i) {
        std::uint32_t expected = 0;
        if (l->state.load(std::memory_order_relaxed) == 0 &&
            l->state.compare_exchange_weak(expected, 1, std::memory_order_acquire,
                                           std::memory_order_relaxed))
            return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    // Mark the lock as wanted, then sleep until an unlock finds the mark and wakes us.
    while (l->state.exchange(2, std::memory_order_acquire) != 0)
        futexWait(&l->state, 2);
}

}  // namespace

const std::size_t kLockSize = sizeof(RecursiveLock);

void lockInit(void* storage) { new (storage) RecursiveLock(); }

void lockDestroy(void* storage) { static_cast<RecursiveLock*>(storage)->~RecursiveLock(); }

void lockAcquire(void* storage) {
    auto* l = static_cast<RecursiveLock*>(storage);
    const std::uintptr_t self = selfId();
    if (l->owner.load(std::memory_order_relaxed) == self) {
        ++l->depth;
        return;
    }
    std::uint32_t expected = 0;
    if (!l->state.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                               std::memory_order_relaxed))
        acquireContended(l);
    l->owner.store(self, std::memory_order_relaxed);
    l->depth = 1;
}

bool lockTry(void* storage) {
    auto* l = static_cast<RecursiveLock*>(storage);
    const std::uintptr_t self = selfId();
    if (l->owner.load(std::memory_order_relaxed) == self) {
        ++l->depth;
        return true;
    }
    std::uint32_t expected = 0;
    if (!l->state.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                          std::memory_order_relaxed))
        return false;
    l->owner.store(self, std::memory_order_relaxed);
    l->depth = 1;
    return true;
}

void lockRelease(void* storage) {
    auto* l = static_cast<RecursiveLock*>(storage);
    if (--l->depth != 0)
        return;
    l->owner.store(0, std::memory_order_relaxed);
    if (l->state.exchange(0, std::memory_order_release) == 2)
        futexWakeOne(&l->state);
}

}  // namespace platform
