// NxAtomicInt, the recursive lock, and the pool: size classes, reuse, misuse reports, realloc,
// switch, heap fallbacks, and four threads exchanging blocks while the pool is switched off and on.
#include "memory/memory.h"
#include "pool_reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// Runs `body` on four threads at once and waits for them.
template <typename F>
void onFourThreads(F body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(body);
    for (auto& t : threads)
        t.join();
}

TEST(NxAtomicInt, RefIsFalseOnlyWhenReachingZeroDerefReturnsTheNewValueAndThreadsBalance) {
    const struct { int start; bool ref; } cases[] = {{-1, false}, {0, true}, {0x7FFFFFFE, true}};
    for (const auto& c : cases) {
        NxAtomicInt n(c.start);
        EXPECT_EQ(c.ref, n.ref()) << c.start;
        EXPECT_EQ(c.start + 1, static_cast<int>(n)) << c.start;
        EXPECT_EQ(c.start, n.deref()) << c.start;
    }
    NxAtomicInt a(7), b(3);
    b = a;
    a.ref();
    EXPECT_FALSE(b != 7);  // a copy of the value, not a share of the counter
    EXPECT_TRUE(b != 8);
    // Four threads: the permanent reference keeps the count above zero throughout.
    NxAtomicInt counter(1);
    std::atomic<int> sawZero{0};
    onFourThreads([&] {
        for (int i = 0; i < 100000; ++i) {
            counter.ref();
            if (counter.deref() == 0)
                sawZero.fetch_add(1);
        }
    });
    EXPECT_EQ(1, static_cast<int>(counter));
    EXPECT_EQ(0, sawZero.load());
}

TEST(NxCriticalSection, OwnerRelocksOthersWaitForTheLastUnlockAndThreadsAreSerialised) {
    NxCriticalSection cs;
    auto otherTry = [&cs] {  // whether another thread gets the lock (and gives it back)
        return std::async(std::launch::async, [&] { return cs.tryLock() && (cs.unlock(), true); }).get();
    };
    cs.lock();
    EXPECT_TRUE(cs.tryLock());  // recursive: the owner gets it again
    EXPECT_FALSE(otherTry());
    cs.unlock();
    EXPECT_FALSE(otherTry());  // still held once
    cs.unlock();
    EXPECT_TRUE(otherTry());
    long counter = 0;  // deliberately plain: the lock alone protects it
    onFourThreads([&] {
        for (int i = 0; i < 50000; ++i) {
            NxCSLocker guard(&cs);
            ++counter;
            if (i % 2) {
                NxCSLocker again(&cs);  // a nested locker does not block its owner
                ++counter;
            }
        }
    });
    EXPECT_EQ(300000, counter);
}

TEST(Pool, RequestSizesMapToTheirClassesAndLargeAndForeignBlocksGoThroughTheRuntimeHeap) {
    unsigned previous = 0;
    for (unsigned block : {8, 16, 24, 32, 48, 64, 80, 96, 128, 160, 192, 224, 256}) {
        for (unsigned request : {previous + 1, block}) {  // the smallest and largest of the class
            void* p = mp_alloc(request);
            ASSERT_NE(nullptr, p) << "request " << request;
            EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(p) % 4) << "request " << request;
            EXPECT_EQ(static_cast<int>(block), mp_size(p)) << "request " << request;
            std::memset(p, 0x5A, block);  // the whole block is usable
            mp_free(p);
        }
        previous = block;
    }
    // Null, zero, large and foreign blocks.
    mp_free(nullptr);
    EXPECT_EQ(0, mp_size(nullptr));
    void* p = mp_realloc(nullptr, 10);  // as mp_alloc
    void* zero = mp_alloc(0);           // counts as 1
    EXPECT_EQ(16, mp_size(p));
    EXPECT_EQ(8, mp_size(zero));
    mp_free(p);
    mp_free(zero);
    void* large = mp_alloc(257);
    ASSERT_NE(nullptr, large);
    EXPECT_GE(mp_size(large), 257);
    std::memset(large, 1, 257);
    mp_free(large);  // handed back to the heap: a sanitizer would catch a wrong route
    void* heap = std::memset(std::malloc(40), 7, 40);
    EXPECT_GE(mp_size(heap), 40);
    void* grown = mp_realloc(heap, 100);  // stays with the heap even though 100 fits a class
    EXPECT_EQ(7, static_cast<unsigned char*>(grown)[39]);
    std::free(grown);  // legal only because the block never left the runtime heap
}

TEST(Pool, BlocksAreReusedLastInFirstOutAndRepeatedReleasesAndDamagedGuardsAreReported) {
    PoolReports reports;
    void* a = mp_alloc(100);
    void* b = mp_alloc(100);
    mp_free(a);
    mp_free(b);
    mp_free(a);  // already free: reported, free list unchanged
    EXPECT_EQ(PoolReports::one("mp_free - repeat free block ", a, "!"), reports.take());
    EXPECT_EQ(b, mp_alloc(97));  // any request of the class
    EXPECT_EQ(a, mp_alloc(128));
    mp_free(a);
    mp_free(b);
    EXPECT_TRUE(reports.take().empty());
    // Damaged while in use (class 2, 24-byte block; the guard word right behind it): the
    // release reports it and still takes the block back.
    auto* p = static_cast<unsigned char*>(mp_alloc(20));
    ASSERT_EQ(24, mp_size(p));
    p[24] = p[25] = 0;
    mp_free(p);
    EXPECT_EQ(PoolReports::one("mp_free - detect block ", p, " corrupt!"), reports.take());
    EXPECT_EQ(p, mp_alloc(24));  // repaired: handed out again without a report
    EXPECT_TRUE(reports.take().empty());
    mp_free(p);
    // Damaged by a write after release (64-byte block): reported when handed out again.
    auto* q = static_cast<unsigned char*>(mp_alloc(60));
    mp_free(q);
    q[64] = 0x11;
    EXPECT_EQ(q, mp_alloc(60));
    EXPECT_EQ(PoolReports::one("mp_alloc - detect block ", q, " corrupt!"), reports.take());
    mp_free(q);  // the guard was rewritten when the block was handed out
    EXPECT_TRUE(reports.take().empty());
#ifndef _WIN32  // the default report of Windows is a message box
    // Without a handler of the host's, a report is one line on standard error (and no trap, as
    // no debugger is attached).
    const NxPoolReportFn host = mp_set_report_handler(nullptr);
    ::testing::internal::CaptureStderr();
    mp_free(q);
    const std::string line = ::testing::internal::GetCapturedStderr();
    mp_set_report_handler(host);
    EXPECT_NE(std::string::npos, line.find("mp_free - repeat free block 0x")) << line;
    EXPECT_TRUE(reports.take().empty());
    EXPECT_EQ(q, mp_alloc(60));
    mp_free(q);
#endif
}

TEST(Pool, ReallocStaysInPlaceUntilTheBlockIsTooSmall) {
    PoolReports reports;
    // Whether the bytes move along is checked by the stress test.
    void* p = mp_alloc(20);  // 24-byte block
    EXPECT_EQ(p, mp_realloc(p, 24));
    EXPECT_EQ(p, mp_realloc(p, 0));  // shrinking never moves or changes class
    EXPECT_EQ(24, mp_size(p));
    void* q = mp_realloc(p, 25);
    ASSERT_NE(p, q);
    EXPECT_EQ(32, mp_size(q));
    EXPECT_EQ(p, mp_alloc(24));  // the old block went back on its free list
    mp_free(p);
    void* big = mp_realloc(q, 1000);  // leaves the pool
    EXPECT_GE(mp_size(big), 1000);
    mp_free(big);
    EXPECT_TRUE(reports.take().empty());
}

TEST(Pool, SwitchedOffItBehavesAsTheRuntimeHeap) {
    // Pool blocks from before the switch are still recognised: sized, grown out of the pool and
    // released to it, never handed to the runtime heap (which would corrupt it).
    void* early[3] = {mp_alloc(20), mp_alloc(20), mp_alloc(20)};
    mp_enable(false);
    EXPECT_EQ(24, mp_size(early[0]));
    EXPECT_EQ(early[1], mp_realloc(early[1], 24));  // fits: stays in place
    std::memset(early[2], 0x5A, 24);
    void* grown = mp_realloc(early[2], 100);  // moves to the runtime heap, copying the block
    ASSERT_NE(nullptr, grown);
    const std::vector<unsigned char> copied(24, 0x5A);
    EXPECT_EQ(0, std::memcmp(grown, copied.data(), copied.size()));
    std::free(grown);
    mp_free(early[0]);
    mp_free(early[1]);
    // New blocks are the runtime heap's (a sanitizer would catch a pool block reaching free()).
    mp_free(mp_realloc(mp_alloc(16), 300));
    std::free(mp_realloc(nullptr, 5));
    mp_enable(true);
    // The three blocks went back to their class, last in first out.
    EXPECT_EQ(early[1], mp_alloc(20));
    EXPECT_EQ(early[0], mp_alloc(20));
    EXPECT_EQ(early[2], mp_alloc(20));
    for (void* b : early)
        mp_free(b);
}

TEST(Pool, BlocksCachedByAThreadThatEndedServeTheOthers) {
    // Runs in the shared library, so the Windows leg checks the thread-exit clean-up of the DLL.
    PoolReports reports;
    const unsigned k = 10, request = 192;
    const NxPoolStats before = poolStats();
    std::vector<void*> taken;
    std::thread worker([&] {
        // Every free block the worker can reach, and then some from a new chunk.
        for (unsigned i = 0; i < before.blocksFree[k] + 100; ++i)
            taken.push_back(mp_alloc(request));
        for (void* p : taken)
            mp_free(p);
    });
    worker.join();
    const NxPoolStats after = poolStats();
    EXPECT_GT(after.chunks[k], before.chunks[k]);
    EXPECT_EQ(after.blocksTotal[k], after.blocksFree[k]) << "every block is free again";
    // All of the class's blocks can be handed out again without another chunk: none is stuck
    // in the ended thread's cache.
    taken.clear();
    for (unsigned i = 0; i < after.blocksTotal[k]; ++i)
        taken.push_back(mp_alloc(request));
    EXPECT_EQ(after.chunks[k], poolStats().chunks[k]);
    EXPECT_EQ(0u, poolStats().blocksFree[k]);
    for (void* p : taken)
        mp_free(p);
    EXPECT_TRUE(reports.take().empty());
}

TEST(PoolStress, FourThreadsExchangeBlocksWhileOneSwitchesThePoolOffAndOn) {
    // Each thread allocates, grows and shrinks blocks and hands some to the next, which checks
    // and releases them; thread 0 switches the pool off and on, so pool and heap blocks are in
    // flight together and blocks cached by one thread are released by another.
    PoolReports reports;
    struct Live { unsigned char* p; unsigned size; unsigned char fill; };
    struct Mailbox { std::mutex lock; std::vector<Live> blocks; };
    Mailbox boxes[4];
    std::atomic<int> damaged{0};  // blocks whose bytes changed, and failed requests
    std::atomic<int> next{0};
    const auto intact = [](const Live& b, unsigned n = ~0u) {  // the first n bytes hold the fill
        unsigned char* end = b.p + std::min(b.size, n);
        return std::all_of(b.p, end, [&](unsigned char c) { return c == b.fill; });
    };
    const auto release = [&](const Live& b) {
        damaged += !intact(b) || mp_size(b.p) < static_cast<int>(b.size);
        mp_free(b.p);
    };
    onFourThreads([&] {
        const int self = next++;
        Mailbox& mine = boxes[self];
        Mailbox& theirs = boxes[(self + 1) % 4];
        std::mt19937 rng(1234 + self);
        std::vector<Live> live;
        for (int step = 0; step < 60000; ++step) {
            if (self == 0 && step % 1000 == 999)
                mp_enable(step % 2000 != 999);  // off for 1000 steps, then on again
            if (step % 64 == 0) {  // what the previous thread sent
                std::vector<Live> received;
                {
                    std::lock_guard<std::mutex> guard(mine.lock);
                    received.swap(mine.blocks);
                }
                for (const Live& b : received)
                    release(b);
            }
            const unsigned action = rng() % 8;
            if (live.size() >= 64 && action >= 5) {  // release one, or send it on
                const std::size_t i = rng() % live.size();
                if (action == 7) {
                    damaged += !intact(live[i]);
                    std::lock_guard<std::mutex> guard(theirs.lock);
                    theirs.blocks.push_back(live[i]);
                } else {
                    release(live[i]);
                }
                live[i] = live.back();
                live.pop_back();
                continue;
            }
            // A new block (mp_alloc) or a realloc chain that grows or shrinks one a few times.
            const bool fresh = live.size() < 64 || action < 3;
            if (fresh)
                live.push_back(Live{nullptr, 0, 0});
            Live& b = fresh ? live.back() : live[rng() % live.size()];
            for (int hop = 0; hop < (fresh ? 1 : 3); ++hop) {
                const unsigned size = rng() % 321;
                damaged += !intact(b);
                auto* q = static_cast<unsigned char*>(fresh ? mp_alloc(size) : mp_realloc(b.p, size));
                if (!q) {  // only the runtime heap's realloc to 0 bytes (pool off) may say so
                    damaged += size != 0;
                    b = Live{nullptr, 0, 0};
                    break;
                }
                b.p = q;
                damaged += !intact(b, size);  // the kept bytes moved along
                b.size = size;
                b.fill = static_cast<unsigned char>(rng());
                std::memset(b.p, b.fill, b.size);
            }
        }
        for (const Live& b : live)
            release(b);
    });
    for (Mailbox& box : boxes)
        for (const Live& b : box.blocks)
            release(b);
    mp_enable(true);
    EXPECT_EQ(0, damaged.load());
    EXPECT_TRUE(reports.take().empty());
}
