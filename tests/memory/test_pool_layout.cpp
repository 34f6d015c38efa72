// Chunk geometry, seen from a pool that nothing else in this process has used.
#include "memory/memory.h"
#include "pool_reports.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

NxPoolStats stats() {
    NxPoolStats s;
    mp_get_stats(&s);
    return s;
}

// Takes every block of the class that serves `request` until the class holds `chunks` chunks
// and none of them has a free block left.
std::vector<void*> drainClass(unsigned request, unsigned klass, unsigned chunks) {
    std::vector<void*> taken;
    for (;;) {
        NxPoolStats s = stats();
        if (s.chunks[klass] == chunks && s.blocksFree[klass] == 0)
            return taken;
        // An empty free list makes the next request add a chunk.
        const unsigned n = s.blocksFree[klass] ? s.blocksFree[klass] : 1;
        for (unsigned i = 0; i < n; ++i)
            taken.push_back(mp_alloc(request));
    }
}

}  // namespace

TEST(PoolLayout, FirstBlockLiesFourBytesPastAPageAlignedChunkBase) {
    void* p = mp_alloc(100);  // class 8, never used before in this process
    const auto addr = reinterpret_cast<std::uintptr_t>(p);
    EXPECT_EQ(0u, (addr - 4) % 4096);
    NxPoolStats s = stats();
    EXPECT_EQ(1u, s.chunks[8]);
    EXPECT_EQ(0x20000u, s.chunkBytes[8]);
    // The next block follows after the 128-byte block, its guard and the next header.
    EXPECT_EQ(addr + 128 + 4, reinterpret_cast<std::uintptr_t>(mp_alloc(128)));
}

TEST(PoolLayout, ChunksDoubleFrom128KiBTo1MiBAndHoldTheDocumentedBlockCounts) {
    const unsigned klass = 0;  // 8-byte blocks
    const std::uint32_t expectedSizes[] = {0x20000, 0x40000, 0x80000, 0x100000, 0x100000};
    std::uint32_t bytes = 0;
    std::uint32_t blocks = 0;
    for (unsigned n = 1; n <= 5; ++n) {
        drainClass(1, klass, n);
        bytes += expectedSizes[n - 1];
        blocks += (expectedSizes[n - 1] - 3) / (8 + 4);
        NxPoolStats s = stats();
        EXPECT_EQ(n, s.chunks[klass]);
        EXPECT_EQ(bytes, s.chunkBytes[klass]);
        EXPECT_EQ(blocks, s.blocksTotal[klass]);
    }
    EXPECT_EQ(10922u, (0x20000u - 3) / 12);  // the worked example: 8-byte blocks in 128 KiB
}

TEST(PoolLayout, EveryBlockOfAChunkIsHandedOutInAddressOrder) {
    const unsigned klass = 12;  // 256-byte blocks, stride 260
    std::vector<void*> taken = drainClass(256, klass, 1);
    ASSERT_EQ((0x20000u - 3) / 260, taken.size());
    for (std::size_t i = 1; i < taken.size(); ++i)
        ASSERT_EQ(static_cast<char*>(taken[i - 1]) + 260, taken[i]);
    for (void* p : taken)
        mp_free(p);
    EXPECT_EQ(taken.size(), stats().blocksFree[klass]);
}

TEST(PoolLayout, ReallocOfAFreeBlockIsReportedAndHandsItBackInUse) {
    PoolReports reports;
    void* p = mp_alloc(30);  // class 3, not used by the other checks here
    mp_free(p);
    EXPECT_EQ(p, mp_realloc(p, 4));
    auto messages = reports.take();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(PoolReports::expected("mp_free - detect block ", p, " corrupt!"), messages[0]);
    mp_free(p);  // now marked in use, so this release is accepted without a report
    EXPECT_TRUE(reports.take().empty());
    // The block was still at the head of its free list, so it is handed out again: the
    // misuse breaks the list for good, which is why this runs in this process on a class of
    // its own.
    EXPECT_EQ(p, mp_alloc(30));
    reports.take();
}
