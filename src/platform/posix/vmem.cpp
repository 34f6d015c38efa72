// Chunks for the small-block pool, carved from one reserved address range.
//
// The range is reserved once (no access, no swap reservation) and committed front to back, so
// "is this address inside a chunk" is one comparison against the committed end. That makes the
// readability probe exact for chunk memory without ever touching the address being asked about.
// The pool asks for at most 1024 chunks of at most 1 MiB, so 1 GiB always suffices; should the
// reservation itself fail, chunks come from plain mappings recorded in a small table.
#include "platform/vmem.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"
#include "platform/syscalls.h"

#include <atomic>
#include <cstdint>
#include <malloc.h>
#include <mutex>

namespace platform {

namespace {

constexpr std::size_t kArenaBytes = std::size_t(1) << 30;
constexpr int kMaxLooseRegions = 1024;

struct Arena {
    std::mutex mutex;
    std::uintptr_t base = 0;
    std::atomic<std::uintptr_t> committedEnd{0};
    std::size_t reserved = 0;
    bool tried = false;
    // Mappings made outside the range (reservation refused or range used up).
    std::atomic<int> looseCount{0};
    std::uintptr_t looseBase[kMaxLooseRegions] = {};
    std::size_t looseSize[kMaxLooseRegions] = {};
};

// Constant-initialised and trivially destructible, so it is usable before and after every
// static constructor and destructor, and reading it costs no initialisation guard.
Arena g_arena;

inline Arena& arena() { return g_arena; }

void* mapLoose(Arena& a, std::size_t bytes) {
    int n = a.looseCount.load(std::memory_order_relaxed);
    if (n >= kMaxLooseRegions)
        return nullptr;
    void* p = sys().reserveMemory(bytes, true);
    if (!p)
        return nullptr;
    a.looseBase[n] = reinterpret_cast<std::uintptr_t>(p);
    a.looseSize[n] = bytes;
    a.looseCount.store(n + 1, std::memory_order_release);
    return p;
}

}  // namespace

void* mapChunk(std::size_t bytes) {
    Arena& a = arena();
    std::lock_guard<std::mutex> guard(a.mutex);
    if (!a.tried) {
        a.tried = true;
        if (void* p = sys().reserveMemory(kArenaBytes, false)) {
            a.base = reinterpret_cast<std::uintptr_t>(p);
            a.reserved = kArenaBytes;
            a.committedEnd.store(a.base, std::memory_order_release);
        }
    }
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t rounded = (bytes + page - 1) / page * page;
    const std::uintptr_t end = a.committedEnd.load(std::memory_order_relaxed);
    if (a.reserved != 0 && end + rounded <= a.base + a.reserved) {
        void* p = reinterpret_cast<void*>(end);
        if (sys().commitMemory(p, rounded)) {
            // Fresh anonymous pages read as zero.
            a.committedEnd.store(end + rounded, std::memory_order_release);
            return p;
        }
    }
    return mapLoose(a, rounded);
}

bool probeReadable(const void* p, std::size_t bytes) {
    const Arena& a = arena();
    const auto lo = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t hi = lo + bytes;
    if (hi < lo)
        return false;
    // committedEnd is published after base, so a non-zero end makes base safe to read.
    const std::uintptr_t end = a.committedEnd.load(std::memory_order_acquire);
    if (end != 0 && lo >= a.base && hi <= end)
        return true;
    const int n = a.looseCount.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i)
        if (lo >= a.looseBase[i] && hi <= a.looseBase[i] + a.looseSize[i])
            return true;
    return false;
}

std::size_t heapBlockSize(const void* p) { return malloc_usable_size(const_cast<void*>(p)); }

}  // namespace platform
