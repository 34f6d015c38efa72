// Pool chunks from VirtualAlloc, the readability probe from IsBadReadPtr, and _msize.
#include "platform/vmem.h"
#include "platform/error.h"
#include "platform/syscalls.h"
#include "platform/win32/win32_support.h"

#include <malloc.h>

namespace platform {

void* mapChunk(std::size_t bytes) {
    return sys().reserveMemory(bytes, true);
}

bool probeReadable(const void* p, std::size_t bytes) { return IsBadReadPtr(p, bytes) == FALSE; }

std::size_t heapBlockSize(const void* p) { return _msize(const_cast<void*>(p)); }

}  // namespace platform
