// Once the chunk table holds 1024 chunks, classes without free blocks are served by the runtime
// heap. Fills the table in a process of its own (about 1 GiB of chunks).
#include "memory/memory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PoolFull, AFullChunkTableFallsBackToTheRuntimeHeap) {
    NxPoolStats s;
    mp_get_stats(&s);
    while (s.chunkCount < 1024) {
        // Whole chunks at a time: take the class's free blocks, then one more adds a chunk.
        for (unsigned i = 0; i <= s.blocksFree[12]; ++i)
            ASSERT_NE(nullptr, mp_alloc(256));
        mp_get_stats(&s);
    }
    ASSERT_EQ(1024u, s.chunkCount);
    while (s.blocksFree[12] > 0) {
        mp_alloc(256);
        mp_get_stats(&s);
    }

    // Class 12 is dry and the table is full: the request goes to the runtime heap.
    void* heap = mp_alloc(256);
    ASSERT_NE(nullptr, heap);
    NxPoolStats after;
    mp_get_stats(&after);
    EXPECT_EQ(1024u, after.chunkCount);
    EXPECT_EQ(s.blocksTotal[12], after.blocksTotal[12]);
    std::memset(heap, 0xEE, 256);
    mp_free(heap);  // recognised as foreign and handed back to the heap

    // A class that still has free blocks keeps using them.
    if (after.blocksFree[0] > 0) {
        void* small = mp_alloc(1);
        EXPECT_EQ(8, mp_size(small));
        mp_free(small);
    }
}
