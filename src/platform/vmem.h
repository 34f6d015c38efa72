// Page-level memory for the small-block pool, the readability probe, and the runtime heap's
// usable-size query.
#ifndef NXUTIL_PLATFORM_VMEM_H
#define NXUTIL_PLATFORM_VMEM_H

#include <cstddef>

namespace platform {

/// A committed, zero-filled, read-write region of `bytes` bytes starting on a page boundary, or
/// null when the system refuses. Regions are never given back.
void* mapChunk(std::size_t bytes);

/// True when reading `bytes` bytes at `p` cannot fault. Win32 asks IsBadReadPtr. The POSIX
/// backend answers from its own bookkeeping and never touches `p`: only memory obtained from
/// mapChunk reports readable, which is all the pool needs to recognise its blocks.
bool probeReadable(const void* p, std::size_t bytes);

/// The runtime heap's usable size of a block it handed out (_msize, malloc_usable_size).
std::size_t heapBlockSize(const void* p);

}  // namespace platform

#endif
