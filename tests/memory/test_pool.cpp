// The pool's observable behaviour in a process shared with other tests: size classes, reuse,
// misuse reports, realloc, the switch, and the runtime heap fallbacks.
#include "memory/memory.h"
#include "pool_reports.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

TEST(Pool, RequestSizesMapToTheirClassBlockSizes) {
    struct Case { unsigned request; int block; };
    const Case cases[] = {{0, 8},    {1, 8},     {8, 8},     {9, 16},    {16, 16},  {17, 24},
                          {24, 24},  {25, 32},   {32, 32},   {33, 48},   {48, 48},  {49, 64},
                          {64, 64},  {65, 80},   {80, 80},   {81, 96},   {96, 96},  {97, 128},
                          {128, 128}, {129, 160}, {160, 160}, {161, 192}, {192, 192},
                          {193, 224}, {224, 224}, {225, 256}, {256, 256}};
    for (const Case& c : cases) {
        void* p = mp_alloc(c.request);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(p) % 4);
        EXPECT_EQ(c.block, mp_size(p)) << "request " << c.request;
        std::memset(p, 0x5A, static_cast<std::size_t>(c.block));  // the whole block is usable
        mp_free(p);
    }
}

TEST(Pool, RequestsAbove256GoToTheRuntimeHeap) {
    void* p = mp_alloc(257);
    ASSERT_NE(nullptr, p);
    EXPECT_GE(mp_size(p), 257);
    std::memset(p, 1, 257);
    mp_free(p);  // handed back to the heap: a sanitizer would catch a wrong route
}

TEST(Pool, ForeignHeapBlocksArePassedThrough) {
    void* heap = std::malloc(40);
    ASSERT_NE(nullptr, heap);
    std::memset(heap, 7, 40);
    EXPECT_GE(mp_size(heap), 40);
    void* grown = mp_realloc(heap, 100);  // stays with the heap even though 100 fits a class
    ASSERT_NE(nullptr, grown);
    EXPECT_EQ(7, static_cast<unsigned char*>(grown)[39]);
    std::free(grown);  // legal only because the block never left the runtime heap
}

TEST(Pool, ReleasedBlockIsReusedFirst) {
    void* a = mp_alloc(40);
    void* b = mp_alloc(40);
    mp_free(a);
    mp_free(b);
    EXPECT_EQ(b, mp_alloc(33));  // last in, first out, any request of the class
    EXPECT_EQ(a, mp_alloc(48));
    mp_free(a);
    mp_free(b);
}

TEST(Pool, NullPointersAreHarmless) {
    mp_free(nullptr);
    EXPECT_EQ(0, mp_size(nullptr));
    void* p = mp_realloc(nullptr, 10);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(16, mp_size(p));
    mp_free(p);
}

TEST(Pool, RepeatedReleaseIsReportedAndIgnored) {
    PoolReports reports;
    void* a = mp_alloc(100);
    void* b = mp_alloc(100);
    mp_free(b);
    mp_free(a);
    mp_free(b);  // already free: reported, free list unchanged
    auto messages = reports.take();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(PoolReports::expected("mp_free - repeat free block ", b, "!"), messages[0]);
    EXPECT_EQ(a, mp_alloc(100));
    EXPECT_EQ(b, mp_alloc(100));
    EXPECT_TRUE(reports.take().empty());
    mp_free(a);
    mp_free(b);
}

TEST(Pool, DamagedGuardIsReportedAndTheBlockStillReleased) {
    PoolReports reports;
    auto* p = static_cast<unsigned char*>(mp_alloc(20));  // class 2, 24-byte block
    ASSERT_EQ(24, mp_size(p));
    p[24] = 0;
    p[25] = 0;  // the guard word right behind the block
    mp_free(p);
    auto messages = reports.take();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(PoolReports::expected("mp_free - detect block ", p, " corrupt!"), messages[0]);
    // Released and repaired: the next allocation of the class gets it back without a report.
    EXPECT_EQ(p, mp_alloc(24));
    EXPECT_TRUE(reports.take().empty());
    mp_free(p);
}

TEST(Pool, FreeBlockCorruptedWhileOnTheListIsReportedWhenHandedOut) {
    PoolReports reports;
    auto* p = static_cast<unsigned char*>(mp_alloc(60));  // 64-byte block
    mp_free(p);
    p[64] = 0x11;  // a write after release damages the guard
    EXPECT_EQ(p, mp_alloc(60));
    auto messages = reports.take();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(PoolReports::expected("mp_alloc - detect block ", p, " corrupt!"), messages[0]);
    mp_free(p);  // the guard was rewritten when the block was handed out
    EXPECT_TRUE(reports.take().empty());
}

TEST(Pool, ReallocStaysInPlaceUntilTheBlockIsTooSmall) {
    PoolReports reports;
    auto* p = static_cast<unsigned char*>(mp_alloc(20));  // 24-byte block
    for (int i = 0; i < 24; ++i)
        p[i] = static_cast<unsigned char>(i + 1);
    EXPECT_EQ(p, mp_realloc(p, 24));
    EXPECT_EQ(p, mp_realloc(p, 0));  // shrinking never moves or changes class
    EXPECT_EQ(24, mp_size(p));

    auto* q = static_cast<unsigned char*>(mp_realloc(p, 25));
    ASSERT_NE(p, q);
    EXPECT_EQ(32, mp_size(q));
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(i + 1, q[i]);
    EXPECT_EQ(p, mp_alloc(24));  // the old block went back on its free list
    mp_free(p);

    auto* big = static_cast<unsigned char*>(mp_realloc(q, 1000));  // leaves the pool
    ASSERT_NE(nullptr, big);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(i + 1, big[i]);
    EXPECT_GE(mp_size(big), 1000);
    mp_free(big);
    EXPECT_TRUE(reports.take().empty());
}

TEST(Pool, SwitchedOffItBehavesAsTheRuntimeHeap) {
    void* pooled = mp_alloc(16);
    mp_enable(false);
    void* p = mp_alloc(16);
    ASSERT_NE(nullptr, p);
    EXPECT_GE(mp_size(p), 16);
    EXPECT_EQ(0, mp_size(nullptr));
    p = mp_realloc(p, 300);
    ASSERT_NE(nullptr, p);
    mp_free(p);
    mp_free(nullptr);
    void* fromNull = mp_realloc(nullptr, 5);
    ASSERT_NE(nullptr, fromNull);
    std::free(fromNull);  // the switched-off pool hands out runtime heap blocks
    mp_enable(true);
    mp_free(pooled);  // blocks from before the switch still go home
}
