// The small-block pool: thirteen size classes of up to 256 bytes carved from chunks obtained from
// the operating system, LIFO free lists under one recursive lock, a free flag in front of every
// block and a guard word behind it, and reports of corrupt or repeated releases.
//
// Block layout (stride = block size + 4):
//   +0  header word: bits 6..15 chunk index, bit 0 free flag
//   +2  the caller's bytes; while free, the first 4 hold the link to the next free header
//   +2+block size  guard word 0xCDAB
// A chunk's first block header sits 2 bytes past its base, so caller pointers are base + 4 +
// i * stride: multiples of 4. On 32-bit builds the link is the next header's address. On 64-bit
// builds an address does not fit in 4 bytes, so the link is (chunk index << 20) | offset of the
// header in its chunk, 0 meaning none (no header sits at offset 0); chunks are at most 1 MiB.
// A class's free-list head is kept as such a link too, so a release never reads the old head.
//
// Sections: size classes, state, links and words, reports, chunks, recognition, entry points.
#include "memory/memory.h"
#include "memory/pool_report.h"
#include "platform/diag.h"
#include "platform/syscalls.h"
#include "platform/vmem.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// ---- size classes ---------------------------------------------------------------------------

constexpr unsigned kClassCount = NxPoolStats::kClasses;
constexpr unsigned kMaxChunks = 1024;      // the header's chunk index has ten bits
constexpr unsigned kLargestPooled = 256;
constexpr std::uint16_t kGuard = 0xCDAB;
constexpr std::uint16_t kFreeFlag = 1;
constexpr unsigned kIndexShift = 6;
constexpr std::uint32_t kMinChunkBytes = 0x20000;
constexpr std::uint32_t kMaxChunkBytes = 0x100000;

// Three comparisons, no search: 8-byte steps to 32, 16-byte steps to 96, 32-byte steps to 256.
inline unsigned classOf(unsigned size) {
    if (size <= 32)
        return (size - 1) / 8;
    if (size <= 96)
        return (size - 33) / 16 + 4;
    return (size - 97) / 32 + 8;
}

inline unsigned blockSizeOf(unsigned k) {
    if (k < 4)
        return 8 * (k + 1);
    if (k < 8)
        return 16 * (k - 1);
    return 32 * (k - 4);
}

// ---- state ----------------------------------------------------------------------------------

struct SizeClass {
    std::uint32_t lastChunkSize;   // 0 before the class's first chunk
    std::uint32_t freeHead;        // link to the first free block's header, 0 when none
};

struct ChunkRecord {
    unsigned char* base;
    std::uint32_t size;
    SizeClass* owner;
    std::uint32_t blockSize;
};

struct PoolState {
    SizeClass classes[kClassCount];
    ChunkRecord chunks[kMaxChunks];
    std::atomic<std::uint32_t> chunkCount;
    NxCriticalSection* lock;
};

std::atomic<bool> g_enabled{true};
std::atomic<PoolState*> g_state{nullptr};

void destroyState() {
    PoolState* s = g_state.exchange(nullptr, std::memory_order_acq_rel);
    if (s) {
        delete s->lock;
        delete s;
    }
}

// Created on first use; two threads racing here both build a state and the loser discards its
// own, so no lock is needed before the pool lock exists.
PoolState* createState() {
    PoolState* fresh = new PoolState();
    fresh->lock = new NxCriticalSection();
    PoolState* expected = nullptr;
    if (g_state.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
        std::atexit(destroyState);
        return fresh;
    }
    delete fresh->lock;
    delete fresh;
    return expected;
}

inline PoolState* state() {
    PoolState* s = g_state.load(std::memory_order_acquire);
    return s ? s : createState();
}

// ---- links and words ------------------------------------------------------------------------

inline std::uint16_t loadWord(const unsigned char* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeWord(unsigned char* p, std::uint16_t v) { std::memcpy(p, &v, sizeof v); }

// The link to `header`, a block of chunk `index`.
inline std::uint32_t encodeLink(const PoolState* s, unsigned index, const unsigned char* header) {
    if constexpr (sizeof(void*) == 4) {
        (void)s;
        (void)index;
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(header));
    } else {
        return (std::uint32_t(index) << 20) |
               static_cast<std::uint32_t>(header - s->chunks[index].base);
    }
}


inline unsigned char* decodeLink(const PoolState* s, std::uint32_t link) {
    if (link == 0)
        return nullptr;
    if constexpr (sizeof(void*) == 4) {
        (void)s;
        return reinterpret_cast<unsigned char*>(static_cast<std::uintptr_t>(link));
    } else {
        return s->chunks[link >> 20].base + (link & 0xFFFFF);
    }
}

inline std::uint32_t loadLink(const unsigned char* header) {
    std::uint32_t v;
    std::memcpy(&v, header + 2, sizeof v);
    return v;
}

inline void storeLink(unsigned char* header, std::uint32_t link) {
    std::memcpy(header + 2, &link, sizeof link);
}

// ---- reports --------------------------------------------------------------------------------

std::atomic<NxPoolReportFn> g_reportHandler{nullptr};

void defaultReport(const char16_t* message) {
    platform::showReport(message, u"mem pool error dectect!");
    platform::debugBreak();
}

// Runs with the pool lock held, as the report of a misuse must stop other pool users until it
// has been seen.
void report(const char16_t* pattern, const void* callerPointer) {
    char16_t message[kPoolReportCapacity];
    formatPoolReport(message, pattern, callerPointer);
    NxPoolReportFn handler = g_reportHandler.load(std::memory_order_acquire);
    (handler ? handler : defaultReport)(message);
}

// ---- chunks ---------------------------------------------------------------------------------

// Carves a new chunk for class k and makes its blocks the class's free list, in address order.
// Called with the lock held and the chunk count below the table size.
void addChunk(PoolState* s, unsigned k) {
    SizeClass& sc = s->classes[k];
    std::uint32_t bytes = sc.lastChunkSize * 2;
    if (bytes < kMinChunkBytes)
        bytes = kMinChunkBytes;
    if (bytes > kMaxChunkBytes)
        bytes = kMaxChunkBytes;
    auto* base = static_cast<unsigned char*>(platform::mapChunk(bytes));
    if (!base)
        return;  // the caller falls back to the runtime heap

    const std::uint32_t index = s->chunkCount.load(std::memory_order_relaxed);
    const unsigned blockSize = blockSizeOf(k);
    const unsigned stride = blockSize + 4;
    const unsigned count = (bytes - 3) / stride;
    ChunkRecord& rec = s->chunks[index];
    rec.base = base;  // links below are encoded against it
    const std::uint16_t header = static_cast<std::uint16_t>((index << kIndexShift) | kFreeFlag);
    unsigned char* h = base + 2;
    for (unsigned i = 0; i < count; ++i, h += stride) {
        storeWord(h, header);
        storeLink(h, i + 1 < count ? encodeLink(s, index, h + stride) : 0);
        storeWord(h + 2 + blockSize, kGuard);
    }
    sc.freeHead = encodeLink(s, index, base + 2);
    rec.size = bytes;
    rec.owner = &sc;
    rec.blockSize = blockSize;
    sc.lastChunkSize = bytes;
    s->chunkCount.fetch_add(1, std::memory_order_acq_rel);
}

// ---- recognition ----------------------------------------------------------------------------

// The chunk holding the pool block whose caller pointer is p, or null for any other pointer.
// Called with the lock held.
const ChunkRecord* chunkOf(const PoolState* s, const void* p) {
    const auto addr = reinterpret_cast<std::uintptr_t>(p);
    if (!p || (addr & 3) != 0)
        return nullptr;
    const auto* bytes = static_cast<const unsigned char*>(p);
    if (!platform::probeReadable(bytes - 4, 4))
        return nullptr;
    const unsigned index = loadWord(bytes - 2) >> kIndexShift;
    if (index >= s->chunkCount.load(std::memory_order_relaxed))
        return nullptr;
    const ChunkRecord& rec = s->chunks[index];
    if (bytes - 2 < rec.base || bytes - 2 >= rec.base + rec.size)
        return nullptr;
    return &rec;
}

// While the pool is switched off, blocks it handed out before still come back to it: a host
// that switches it off with blocks live never gives one of them to the runtime heap.
bool pooledWhileOff(const void* ptr) {
    PoolState* s = g_state.load(std::memory_order_acquire);
    if (!ptr || !s || s->chunkCount.load(std::memory_order_acquire) == 0)
        return false;
    NxCSLocker guard(s->lock);
    return chunkOf(s, ptr) != nullptr;
}

}  // namespace

// ---- entry points ---------------------------------------------------------------------------

void mp_enable(bool enable) {
    state();
    g_enabled.store(enable, std::memory_order_relaxed);
}

void* mp_alloc(unsigned int size) {
    if (!g_enabled.load(std::memory_order_relaxed))
        return std::malloc(size);
    PoolState* s = state();
    if (size == 0)
        size = 1;
    if (size > kLargestPooled)
        return std::malloc(size);

    const unsigned k = classOf(size);
    unsigned char* result = nullptr;
    {
        NxCSLocker guard(s->lock);
        SizeClass& sc = s->classes[k];
        if (!sc.freeHead && s->chunkCount.load(std::memory_order_relaxed) < kMaxChunks)
            addChunk(s, k);
        if (unsigned char* h = decodeLink(s, sc.freeHead)) {
            sc.freeHead = loadLink(h);
            const unsigned blockSize = blockSizeOf(k);
            const std::uint16_t header = loadWord(h);
            if (!(header & kFreeFlag) || loadWord(h + 2 + blockSize) != kGuard)
                report(u"mp_alloc - detect block 0x%08X corrupt!", h + 2);
            storeWord(h, static_cast<std::uint16_t>(header & ~kFreeFlag));
            storeWord(h + 2 + blockSize, kGuard);
            result = h + 2;
        }
    }
    return result ? result : std::malloc(size);
}

void mp_free(void* ptr) {
    if (!ptr)
        return;
    if (!g_enabled.load(std::memory_order_relaxed) && !pooledWhileOff(ptr)) {
        std::free(ptr);
        return;
    }
    PoolState* s = state();
    {
        NxCSLocker guard(s->lock);
        if (const ChunkRecord* rec = chunkOf(s, ptr)) {
            unsigned char* h = static_cast<unsigned char*>(ptr) - 2;
            const std::uint16_t header = loadWord(h);
            if (header & kFreeFlag) {
                report(u"mp_free - repeat free block 0x%08X!", ptr);
                return;
            }
            if (loadWord(h + 2 + rec->blockSize) != kGuard)
                report(u"mp_free - detect block 0x%08X corrupt!", ptr);
            storeWord(h, static_cast<std::uint16_t>(header | kFreeFlag));
            storeWord(h + 2 + rec->blockSize, kGuard);
            // Push on the front: the block links to the old head and becomes the head.
            storeLink(h, rec->owner->freeHead);
            rec->owner->freeHead = encodeLink(s, static_cast<unsigned>(rec - s->chunks), h);
            return;
        }
    }
    std::free(ptr);
}

int mp_size(const void* ptr) {
    if (!ptr)
        return 0;
    if (!g_enabled.load(std::memory_order_relaxed) && !pooledWhileOff(ptr))
        return static_cast<int>(platform::heapBlockSize(ptr));
    PoolState* s = state();
    {
        NxCSLocker guard(s->lock);
        if (const ChunkRecord* rec = chunkOf(s, ptr))
            return static_cast<int>(rec->blockSize);
    }
    return static_cast<int>(platform::heapBlockSize(ptr));
}

void* mp_realloc(void* ptr, unsigned int size) {
    if (!g_enabled.load(std::memory_order_relaxed) && !pooledWhileOff(ptr))
        return std::realloc(ptr, size);
    PoolState* s = state();
    if (!ptr)
        return mp_alloc(size);

    bool pooled = false;
    {
        NxCSLocker guard(s->lock);
        if (const ChunkRecord* rec = chunkOf(s, ptr)) {
            pooled = true;
            if (rec->blockSize >= size) {
                unsigned char* h = static_cast<unsigned char*>(ptr) - 2;
                const std::uint16_t header = loadWord(h);
                if ((header & kFreeFlag) || loadWord(h + 2 + rec->blockSize) != kGuard)
                    report(u"mp_free - detect block 0x%08X corrupt!", ptr);
                storeWord(h, static_cast<std::uint16_t>(header & ~kFreeFlag));
                storeWord(h + 2 + rec->blockSize, kGuard);
                return ptr;
            }
        }
    }

    if (pooled) {
        // Three separately locked steps; on exhaustion the old block stays valid and untouched.
        void* moved = mp_alloc(size);
        if (!moved)
            return nullptr;
        std::memcpy(moved, ptr, static_cast<std::size_t>(mp_size(ptr)));
        mp_free(ptr);
        return moved;
    }

    // A runtime-heap block stays with the runtime heap (the platform's allocation step is the
    // runtime's realloc, and leaves the block as it was when it fails).
    if (size == 0) {
        std::free(ptr);
        return mp_alloc(0);
    }
    if (void* grown = platform::sys().allocate(ptr, size))
        return grown;
    // The heap could not grow the block in place or elsewhere; the old block is still valid.
    void* moved = mp_alloc(size);
    if (!moved)
        return nullptr;
    std::size_t keep = platform::heapBlockSize(ptr);
    const std::size_t room = static_cast<std::size_t>(mp_size(moved));
    if (keep > room)
        keep = room;
    std::memcpy(moved, ptr, keep);
    std::free(ptr);
    return moved;
}

NxPoolReportFn mp_set_report_handler(NxPoolReportFn fn) {
    return g_reportHandler.exchange(fn, std::memory_order_acq_rel);
}

void mp_get_stats(NxPoolStats* out) {
    if (!out)
        return;
    std::memset(out, 0, sizeof *out);
    for (unsigned k = 0; k < kClassCount; ++k)
        out->blockSize[k] = blockSizeOf(k);
    PoolState* s = g_state.load(std::memory_order_acquire);
    if (!s)
        return;
    NxCSLocker guard(s->lock);
    const std::uint32_t count = s->chunkCount.load(std::memory_order_relaxed);
    out->chunkCount = count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const ChunkRecord& rec = s->chunks[i];
        const unsigned k = static_cast<unsigned>(rec.owner - s->classes);
        out->chunks[k] += 1;
        out->chunkBytes[k] += rec.size;
        out->blocksTotal[k] += (rec.size - 3) / (rec.blockSize + 4);
    }
    for (unsigned k = 0; k < kClassCount; ++k)
        for (const unsigned char* h = decodeLink(s, s->classes[k].freeHead); h;
             h = decodeLink(s, loadLink(h)))
            out->blocksFree[k] += 1;
}
