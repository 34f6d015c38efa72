// Pool chunks from VirtualAlloc, the readability probe from IsBadReadPtr, and _msize.
#include "platform/vmem.h"
#include "platform/error.h"
#include "platform/win32/win32_support.h"

#include <malloc.h>

namespace platform {

void* mapChunk(std::size_t bytes) {
    // Committed pages from VirtualAlloc are zero-filled.
    void* p = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!p)
        setLastError(static_cast<int>(GetLastError()), "VirtualAlloc");
    return p;
}

bool probeReadable(const void* p, std::size_t bytes) { return IsBadReadPtr(p, bytes) == FALSE; }

std::size_t heapBlockSize(const void* p) { return _msize(const_cast<void*>(p)); }

}  // namespace platform
