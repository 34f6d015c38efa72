// Usage: the small-block pool and the recursive lock.
#include "memory/memory.h"

#include <cstdio>

int example_memory() {
    void* block = mp_alloc(20);               // a 24-byte pool block
    block = mp_realloc(block, 24);            // still fits: the same block
    std::printf("pool block of %d bytes\n", mp_size(block));
    mp_free(block);

    NxCriticalSection lock;
    {
        NxCSLocker guard(&lock);              // held until the end of the scope
        NxCSLocker again(&lock);              // recursive: the owner may take it again
    }
    return 0;
}
