// Chunk geometry and the accounting of free blocks across threads, seen from a pool that nothing
// else in this process has used.
#include "memory/memory.h"
#include "platform/syscalls.h"
#include "platform/vmem.h"
#include "pool_reports.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

namespace {

// Takes every block of the class that serves `request` until the class holds `chunks` chunks
// and none of them has a free block left (an empty free list makes a request add a chunk).
std::vector<void*> drainClass(unsigned request, unsigned klass, unsigned chunks) {
    std::vector<void*> taken;
    for (NxPoolStats s = poolStats(); s.chunks[klass] != chunks || s.blocksFree[klass] != 0;
         s = poolStats())
        for (unsigned i = 0, n = s.blocksFree[klass] ? s.blocksFree[klass] : 1; i < n; ++i)
            taken.push_back(mp_alloc(request));
    return taken;
}

}  // namespace

TEST(PoolLayout, ChunksArePageAlignedAndHandOutWholeBlocksInAddressOrder) {
    const auto first = reinterpret_cast<std::uintptr_t>(mp_alloc(100));  // class 8, first use
    EXPECT_EQ(0u, (first - 4) % 4096) << "four bytes past a page-aligned chunk base";
    EXPECT_EQ(1u, poolStats().chunks[8]);
    EXPECT_EQ(0x20000u, poolStats().chunkBytes[8]);
    std::vector<void*> taken = drainClass(256, 12, 1);  // 256-byte blocks, stride 260
    ASSERT_EQ((0x20000u - 3) / 260, taken.size());
    for (std::size_t i = 1; i < taken.size(); ++i)
        ASSERT_EQ(static_cast<char*>(taken[i - 1]) + 260, taken[i]) << "block " << i;
    for (void* p : taken)
        mp_free(p);
    EXPECT_EQ(taken.size(), poolStats().blocksFree[12]);
}

TEST(PoolLayout, ChunksDoubleFrom128KiBTo1MiBAndHoldWholeBlocksOnly) {
    const std::uint32_t sizes[] = {0x20000, 0x40000, 0x80000, 0x100000, 0x100000};
    std::uint32_t bytes = 0, blocks = 0;
    for (unsigned n = 1; n <= 5; ++n) {  // class 0: 8-byte blocks, stride 12
        drainClass(1, 0, n);
        bytes += sizes[n - 1];
        blocks += (sizes[n - 1] - 3) / 12;  // 10922 in the first chunk
        EXPECT_EQ(n, poolStats().chunks[0]);
        EXPECT_EQ(bytes, poolStats().chunkBytes[0]) << "chunk " << n;
        EXPECT_EQ(blocks, poolStats().blocksTotal[0]) << "chunk " << n;
    }
}

TEST(PoolLayout, AChunkTheSystemWillNotCommitComesFromAMappingAndNoChunkAtAllFromTheHeap) {
    using platform::Fault;
    using platform::SysOp;
    // A class the other checks here leave alone; this runs before the last of them damages a
    // free list on purpose.
    const unsigned k = 6, request = poolStats().blockSize[k];
    ASSERT_EQ(0u, poolStats().chunks[k]);
    void* p = nullptr;
    {
        // The reserved range refuses its next pages: the chunk is a mapping of its own, which
        // the pool must still recognise as its memory.
        platform::ScopedFault refused({SysOp::CommitMemory, Fault::NoMemory});
        p = mp_alloc(request);
#ifndef _WIN32  // Win32 maps every chunk on its own: there is no range to commit from
        EXPECT_EQ(1u, platform::faultsFired());
#endif
    }
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(1u, poolStats().chunks[k]);
    EXPECT_EQ(static_cast<int>(request), mp_size(p));
    EXPECT_TRUE(platform::probeReadable(p, request));
    EXPECT_FALSE(platform::probeReadable(p, SIZE_MAX));  // a range that wraps around
    std::memset(p, 0x5A, request);
    mp_free(p);
    EXPECT_EQ(poolStats().blocksTotal[k], poolStats().blocksFree[k]);

    // Neither the range nor a mapping: the request is served by the runtime heap, the class
    // keeps its one chunk.
    std::vector<void*> taken = drainClass(request, k, 1);
    const NxPoolStats before = poolStats();
    {
        platform::ScopedFault refused({{SysOp::CommitMemory, Fault::NoMemory},
                                       {SysOp::ReserveMemory, Fault::NoMemory}});
        void* heap = mp_alloc(request);
        ASSERT_NE(nullptr, heap);
        EXPECT_GT(platform::faultsFired(), 0u);
        std::memset(heap, 0xA5, request);
        mp_free(heap);
    }
    EXPECT_EQ(before.chunkCount, poolStats().chunkCount);
    EXPECT_EQ(before.blocksTotal[k], poolStats().blocksTotal[k]);
    for (void* q : taken)
        mp_free(q);

    // A runtime-heap block the heap cannot grow moves into the pool with its bytes.
    auto* heap = static_cast<unsigned char*>(std::malloc(request / 2));
    ASSERT_NE(nullptr, heap);
    std::memset(heap, 0x3C, request / 2);
    void* moved = nullptr;
    {
        platform::ScopedFault refused({SysOp::Allocate, Fault::NoMemory});
        moved = mp_realloc(heap, request);
        EXPECT_EQ(1u, platform::faultsFired());
    }
    ASSERT_NE(nullptr, moved);
    EXPECT_EQ(static_cast<int>(request), mp_size(moved));
    const std::vector<unsigned char> kept(static_cast<unsigned char*>(moved),
                                          static_cast<unsigned char*>(moved) + request / 2);
    EXPECT_EQ(std::vector<unsigned char>(request / 2, 0x3C), kept);
    mp_free(moved);
}

TEST(PoolLayout, BlocksCachedByAThreadAreCountedFreeCaughtWhenReleasedAgainAndReusedAfterItEnds) {
    PoolReports reports;
    const unsigned k = 10, request = poolStats().blockSize[k];  // 192 bytes, no other user here
    ASSERT_EQ(0u, poolStats().chunks[k]);
    std::vector<void*> released;  // in the order the thread released them
    std::promise<void> releasedAll, mayEnd;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            released.push_back(mp_alloc(request));
        for (void* p : released)
            mp_free(p);  // more than a thread keeps: some go back to the shared list at once
        releasedAll.set_value();
        mayEnd.get_future().wait();
    });
    releasedAll.get_future().wait();
    // The worker's cache holds some of them; every one counts as free, and a second release
    // from another thread is caught by the flag in its header.
    EXPECT_EQ(poolStats().blocksTotal[k], poolStats().blocksFree[k]);
    for (void* p : {released.front(), released.back()}) {
        mp_free(p);
        EXPECT_EQ(PoolReports::one("mp_free - repeat free block ", p, "!"), reports.take());
    }
    // Switched off, the ending thread still hands its blocks back to the pool.
    mp_enable(false);
    mayEnd.set_value();
    worker.join();
    mp_enable(true);
    EXPECT_EQ(poolStats().blocksTotal[k], poolStats().blocksFree[k]);
    EXPECT_EQ(1u, poolStats().chunks[k]);
    // They went back in front of the shared list in their order: the last released comes first.
    for (std::size_t i = released.size(); i-- > 0;)
        ASSERT_EQ(released[i], mp_alloc(request)) << "block " << i;
    EXPECT_EQ(1u, poolStats().chunks[k]);
    for (void* p : released)
        mp_free(p);
    EXPECT_TRUE(reports.take().empty());
}

TEST(PoolLayout, ReallocOfAFreeBlockIsReportedAndHandsItBackInUse) {
    PoolReports reports;
    void* p = mp_alloc(30);  // class 3, not used by the other checks here
    mp_free(p);
    EXPECT_EQ(p, mp_realloc(p, 4));
    EXPECT_EQ(PoolReports::one("mp_free - detect block ", p, " corrupt!"), reports.take());
    mp_free(p);  // now marked in use, so this release is accepted without a report
    EXPECT_TRUE(reports.take().empty());
    // The block was still at the head of its free list, so it is handed out again: the
    // misuse breaks the list for good, which is why this runs in this process on a class of
    // its own.
    EXPECT_EQ(p, mp_alloc(30));
}
