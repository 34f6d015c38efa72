// Threads for which the system will not arrange a thread-end clean-up keep no cache of free
// blocks: they take and return blocks on the shared lists under the pool's lock, and the pool
// stays whole. Each refusal needs a pool that no call has touched, so each runs in a process of
// its own (this program started again as a child).
#include "memory/memory.h"
#include "platform/syscalls.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <thread>

namespace {

using platform::Fault;
using platform::SysOp;

// A block released on one thread is the next one another thread gets: without caches both
// go through the shared list of their class, last in, first out. Every class serves and the
// pool's counts balance.
void expectSharedListsOnly() {
    void* released = nullptr;
    std::thread([&] {
        released = mp_alloc(100);
        std::memset(released, 0x5A, 100);
        mp_free(released);
    }).join();
    void* next = mp_alloc(100);
    EXPECT_EQ(released, next) << "the block went to a thread cache";
    mp_free(next);

    NxPoolStats before, after;
    mp_get_stats(&before);
    const unsigned sizes[] = {1, 16, 33, 64, 100, 250, 500, 1000, 2000};
    void* blocks[std::size(sizes)];
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        blocks[i] = mp_alloc(sizes[i]);
        ASSERT_NE(nullptr, blocks[i]) << sizes[i];
        std::memset(blocks[i], 0xA5, sizes[i]);
    }
    for (void* b : blocks)
        mp_free(b);
    mp_get_stats(&after);
    for (int k = 0; k < NxPoolStats::kClasses; ++k)
        EXPECT_EQ(after.blocksTotal[k] - after.blocksFree[k],
                  before.blocksTotal[k] - before.blocksFree[k]) << k;
}

}  // namespace

TEST(PoolWithoutThreadCaches, Child_RegistrationRefused) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "runs as a child of EachRefusalInAFreshProcess";
    platform::ScopedFault refused({SysOp::ThreadExitRegister, Fault::NoMemory});
    expectSharedListsOnly();
    // Asked once: a refused registration is not asked for again on every call.
    EXPECT_EQ(1u, platform::faultsFired());
}

TEST(PoolWithoutThreadCaches, Child_ThreadValueRefused) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "runs as a child of EachRefusalInAFreshProcess";
    {
        // Every thread's every call asks again, and is refused every time.
        platform::ScopedFault refused({SysOp::ThreadExitSet, Fault::NoMemory, 1, 0});
        expectSharedListsOnly();
        EXPECT_GE(platform::faultsFired(), 4u);
    }
    // The system willing again, threads get caches: a block another thread released stays in
    // that thread's cache while it runs.
    std::atomic<int> step{0};
    void* released = nullptr;
    std::thread other([&] {
        released = mp_alloc(100);
        mp_free(released);
        step = 1;
        while (step != 2)
            std::this_thread::yield();
    });
    while (step != 1)
        std::this_thread::yield();
    void* mine = mp_alloc(100);
    EXPECT_NE(released, mine);
    step = 2;
    other.join();
    mp_free(mine);
}

TEST(PoolWithoutThreadCaches, EachRefusalInAFreshProcess) {
    if (nxtest::isChildProcess())
        GTEST_SKIP();
    EXPECT_EQ(0, nxtest::runSelf("PoolWithoutThreadCaches.Child_RegistrationRefused"));
    EXPECT_EQ(0, nxtest::runSelf("PoolWithoutThreadCaches.Child_ThreadValueRefused"));
}
