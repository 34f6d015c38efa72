// Once the chunk table holds 1024 chunks (about 1 GiB, hence a process of its own), classes
// without free blocks are served by the runtime heap. On POSIX the chunks' address range is
// refused first, so that every chunk is a mapping of its own, as on Win32.
#include "memory/memory.h"
#include "platform/syscalls.h"
#include "platform/vmem.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PoolFull, AFullChunkTableFallsBackToTheRuntimeHeap) {
#ifndef _WIN32
    // The pool's first chunk asks for its address range, which the system refuses.
    platform::ScopedFault refused({platform::SysOp::ReserveMemory, platform::Fault::NoMemory});
#endif
    // A class with free blocks before the table fills up.
    mp_free(mp_alloc(1));
#ifndef _WIN32
    ASSERT_EQ(1u, platform::faultsFired());
    platform::clearFaults();
#endif
    NxPoolStats s, after;
    // Whole chunks at a time: the class's free blocks, then one more that adds a chunk.
    for (mp_get_stats(&s); s.chunkCount < 1024; mp_get_stats(&s))
        for (unsigned i = 0; i <= s.blocksFree[12]; ++i)
            ASSERT_NE(nullptr, mp_alloc(256));
    for (; s.blocksFree[12] > 0; mp_get_stats(&s))  // then the last chunk's blocks
        mp_alloc(256);

    // Class 12 is dry and the table is full: the request goes to the runtime heap.
    void* heap = mp_alloc(256);
    ASSERT_NE(nullptr, heap);
    mp_get_stats(&after);
    EXPECT_EQ(1024u, after.chunkCount);
    EXPECT_EQ(s.blocksTotal[12], after.blocksTotal[12]);
    std::memset(heap, 0xEE, 256);
    mp_free(heap);  // recognised as foreign and handed back to the heap
    // A class that still has free blocks keeps using them.
    void* small = mp_alloc(1);
    EXPECT_EQ(8, mp_size(small));  // a runtime heap block would report its own usable size
    mp_free(small);
#ifndef _WIN32
    // The table of separate mappings is full too: one more chunk is refused.
    EXPECT_EQ(nullptr, platform::mapChunk(4096));
#endif
}
