// The small-block pool: thirteen size classes of up to 256 bytes carved from chunks obtained from
// the operating system, a free flag in front of every block and a guard word behind it, reports
// of corrupt or repeated releases, and a small cache of free blocks per thread and class in
// front of the shared free lists.
//
// Block layout (stride = block size + 4):
//   +0  header word: bits 6..15 chunk index, bit 0 free flag
//   +2  the caller's bytes; while free, the first 4 hold the link to the next free header
//   +2+block size  guard word 0xCDAB
// A chunk's first block header sits 2 bytes past its base, so caller pointers are base + 4 +
// i * stride: multiples of 4. On 32-bit builds the link is the next header's address. On 64-bit
// builds an address does not fit in 4 bytes, so the link is (chunk index << 20) | offset of the
// header in its chunk, 0 meaning none (no header sits at offset 0); chunks are at most 1 MiB.
// Free-list heads, shared and per thread, are kept as such links too.
//
// Threads. Every free block is on exactly one list: its class's shared list (under the pool
// lock) or the cache of one thread (touched only by that thread). A thread allocates from and
// releases to its own cache; only when the cache of a class runs dry does it take a batch off
// the shared list, and only when it is full does it hand the whole cache back, each under the
// lock. A thread's caches go back to the shared lists when the thread ends. Recognising a pool
// block needs no lock: chunk records are complete before the chunk count that covers them is
// published. The header's free flag is set while the block sits on any list, so a repeated
// release is caught wherever the block waits.
//
// Sections: size classes, state, links and words, reports, chunks, thread caches,
// recognition, entry points.
#include "memory/memory.h"
#include "memory/pool_report.h"
#include "platform/diag.h"
#include "platform/syscalls.h"
#include "platform/thread_exit.h"
#include "platform/vmem.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

// The pointer to the per-thread cache is read on every call; on ELF builds it is placed in the
// static TLS block so that reaching it is one segment-relative load instead of a call into the
// loader.
#if defined(__GNUC__) && defined(__ELF__)
#define NX_POOL_TLS __attribute__((tls_model("initial-exec")))
#else
#define NX_POOL_TLS
#endif
// Rare paths stay out of line, so that the common call saves no registers it does not use.
#if defined(__GNUC__)
#define NX_POOL_COLD __attribute__((noinline, cold))
#else
#define NX_POOL_COLD
#endif

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
constexpr unsigned kSpanShift = 17;        // the smallest chunk, 128 KiB

// Three comparisons, no search: 8-byte steps to 32, 16-byte steps to 96, 32-byte steps to 256.
inline unsigned classOf(unsigned size) {
    if (size <= 32)
        return (size - 1) / 8;
    if (size <= 96)
        return (size - 33) / 16 + 4;
    return (size - 97) / 32 + 8;
}

constexpr unsigned blockSizeOf(unsigned k) {
    return k < 4 ? 8 * (k + 1) : k < 8 ? 16 * (k - 1) : 32 * (k - 4);
}

// A thread keeps at most kCacheBytes of free blocks (strides included) per class: 682 blocks of
// 8 bytes down to 31 of 256. An empty cache takes up to half of that, at most 64 blocks, off the
// shared list at once; a full one hands all of its blocks back.
constexpr unsigned kCacheBytes = 8192;
constexpr unsigned cacheLimitOf(unsigned k) { return kCacheBytes / (blockSizeOf(k) + 4); }
constexpr unsigned batchOf(unsigned k) {
    return cacheLimitOf(k) / 2 < 64 ? cacheLimitOf(k) / 2 : 64;
}

struct ClassFigures {
    std::uint32_t blockSize[kClassCount];
    std::uint32_t cacheLimit[kClassCount];
    std::uint32_t batch[kClassCount];
};

constexpr ClassFigures makeFigures() {
    ClassFigures f{};
    for (unsigned k = 0; k < kClassCount; ++k) {
        f.blockSize[k] = blockSizeOf(k);
        f.cacheLimit[k] = cacheLimitOf(k);
        f.batch[k] = batchOf(k);
    }
    return f;
}

constexpr ClassFigures kFigures = makeFigures();
static_assert(cacheLimitOf(kClassCount - 1) == 31 && batchOf(0) == 64, "cache bounds");

// ---- state ----------------------------------------------------------------------------------

struct SizeClass {
    std::uint32_t lastChunkSize;   // 0 before the class's first chunk
    std::uint32_t freeHead;        // link to the first free block's header, 0 when none
};

struct ChunkRecord {
    unsigned char* base;
    std::uint32_t size;
    std::uint32_t blockSize;
    SizeClass* owner;
    std::uint32_t klass;           // owner's index, so a release needs no pointer arithmetic
};

struct ThreadCache;

// The first line is read by every call and written only when a chunk is added; the class
// records and the list of thread caches, written under the lock, live on lines of their own.
struct PoolState {
    std::uint32_t generation;      // tells a thread's cache which state it belongs to
    std::atomic<std::uint32_t> chunkCount;
    NxCriticalSection* lock;
    ChunkRecord chunks[kMaxChunks];
    alignas(64) SizeClass classes[kClassCount];
    ThreadCache* caches;           // every thread cache attached to this state
    ThreadCache* spare;            // caches of ended threads, kept for new ones
    // Chunks that follow each other in memory from the first one on (chunks are committed and
    // never given back, so every byte in [spanLo, spanHi) is readable). Written under the lock.
    alignas(64) std::atomic<std::uintptr_t> spanLo;
    std::atomic<std::uintptr_t> spanHi;
    // The chunk of each 128 KiB step of the span (every chunk size is a multiple of 128 KiB),
    // written before spanHi covers it.
    std::uint16_t spanChunk[kMaxChunks * (kMaxChunkBytes >> kSpanShift)];
};

std::atomic<bool> g_enabled{true};
std::atomic<PoolState*> g_state{nullptr};
std::atomic<std::uint32_t> g_generations{0};
// The thread-end clean-up's id (platform/thread_exit.h); -2 before the first try.
std::atomic<int> g_exitHook{-2};

void releaseCaches(PoolState* s);

void destroyState() {
    PoolState* s = g_state.exchange(nullptr, std::memory_order_acq_rel);
    if (s) {
        releaseCaches(s);
        delete s->lock;
        delete s;
    }
    // This runs at exit and when a host unloads the library: threads that end later must not
    // call into code that may be gone. Their caches stay allocated, a few KiB each.
    const int hook = g_exitHook.exchange(-2, std::memory_order_relaxed);
    if (hook >= 0)
        platform::threadExitUnregister(hook);
}

// Created on first use; two threads racing here both build a state and the loser discards its
// own, so no lock is needed before the pool lock exists.
PoolState* createState() {
    PoolState* fresh = new PoolState();
    fresh->lock = new NxCriticalSection();
    fresh->generation = g_generations.fetch_add(1, std::memory_order_relaxed) + 1;
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

// Takes the pool lock for the report (a no-op re-entry when the caller holds it already), as
// the report of a misuse must stop the other threads' refills and releases until it has been
// seen.
NX_POOL_COLD void report(PoolState* s, const char16_t* pattern, const void* callerPointer) {
    NxCSLocker guard(s->lock);
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
    const unsigned blockSize = kFigures.blockSize[k];
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
    rec.blockSize = blockSize;
    rec.owner = &sc;
    rec.klass = k;
    sc.lastChunkSize = bytes;
    const auto lo = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t hi = s->spanHi.load(std::memory_order_relaxed);
    if (hi == 0)
        s->spanLo.store(lo, std::memory_order_relaxed);
    if (hi == 0 || hi == lo) {
        const std::uintptr_t first = s->spanLo.load(std::memory_order_relaxed);
        for (std::uintptr_t g = (lo - first) >> kSpanShift; g < (lo + bytes - first) >> kSpanShift; ++g)
            s->spanChunk[g] = static_cast<std::uint16_t>(index);
        s->spanHi.store(lo + bytes, std::memory_order_release);
    }
    // Publishes the record: readers that see the new count see all of it.
    s->chunkCount.fetch_add(1, std::memory_order_acq_rel);
}

// ---- thread caches --------------------------------------------------------------------------

struct ClassCache {
    std::uint32_t head;                 // link to the most recently cached block
    std::uint32_t tail;                 // link to the oldest, valid while count > 0
    std::atomic<std::uint32_t> count;   // written by the owner only; read by mp_get_stats
};

// One thread's cache, allocated on the thread's first pool call and kept for another thread
// when it ends. Reached through a thread-local pointer that starts at a placeholder, so the
// common call needs no null test: the placeholder's generation matches no state.
struct ThreadCache {
    std::uint32_t generation;           // the state this cache belongs to; 0 when none
    ThreadCache* prev;                  // the state's list of caches (or of spares), under
    ThreadCache* next;                  // the lock
    ClassCache classes[kClassCount];
};

ThreadCache g_noCacheYet;               // before the thread's first call
ThreadCache g_threadEnded;              // after its thread-end clean-up: use the shared lists

thread_local ThreadCache* t_cache NX_POOL_TLS = &g_noCacheYet;

// Gives a class's cached blocks back to the front of its shared list, keeping their order, so
// that on one thread the cache and the shared list together stay one last-in-first-out stack.
// Called with the lock held.
void drainLocked(PoolState* s, ClassCache& c, unsigned k) {
    if (c.count.load(std::memory_order_relaxed) == 0)
        return;
    SizeClass& sc = s->classes[k];
    storeLink(decodeLink(s, c.tail), sc.freeHead);
    sc.freeHead = c.head;
    c.count.store(0, std::memory_order_relaxed);
}

// Moves up to a batch of blocks from the front of the shared list into an empty cache, adding a
// chunk first when the list is empty and the table has room. Called with the lock held.
void refillLocked(PoolState* s, ClassCache& c, unsigned k) {
    SizeClass& sc = s->classes[k];
    if (!sc.freeHead && s->chunkCount.load(std::memory_order_relaxed) < kMaxChunks)
        addChunk(s, k);
    if (!sc.freeHead)
        return;
    const std::uint32_t head = sc.freeHead;
    std::uint32_t tail = head;
    unsigned char* t = decodeLink(s, tail);
    unsigned n = 1;
    for (std::uint32_t next; n < kFigures.batch[k] && (next = loadLink(t)) != 0; ++n) {
        tail = next;
        t = decodeLink(s, next);
    }
    sc.freeHead = loadLink(t);
    c.head = head;
    c.tail = tail;
    c.count.store(n, std::memory_order_relaxed);
}

// The thread-end clean-up, on the ending thread: hands its cached blocks back to the shared
// lists and keeps the cache for another thread. A cache of a state destroyed at process exit
// (or replaced since) is simply released. Later pool calls of this thread, from other thread-end
// code, go straight to the shared lists.
void onThreadEnd(void* value) {
    auto* tc = static_cast<ThreadCache*>(value);
    PoolState* s = g_state.load(std::memory_order_acquire);
    if (s && tc->generation == s->generation) {
        NxCSLocker guard(s->lock);
        for (unsigned k = 0; k < kClassCount; ++k)
            drainLocked(s, tc->classes[k], k);
        if (tc->prev)
            tc->prev->next = tc->next;
        else
            s->caches = tc->next;
        if (tc->next)
            tc->next->prev = tc->prev;
        tc->generation = 0;
        tc->prev = nullptr;
        tc->next = s->spare;
        s->spare = tc;
    } else {
        delete tc;
    }
    t_cache = &g_threadEnded;
}

// At process exit, with the state: the exiting thread's cache and the kept caches of ended
// threads are released. Threads still running keep theirs; their next call finds the state
// gone and starts over.
void releaseCaches(PoolState* s) {
    ThreadCache* own = t_cache;
    if (own->generation == s->generation) {
        const int hook = g_exitHook.load(std::memory_order_relaxed);
        if (hook >= 0)
            platform::threadExitSet(hook, nullptr);
        t_cache = &g_noCacheYet;
        delete own;
    }
    while (ThreadCache* tc = s->spare) {
        s->spare = tc->next;
        delete tc;
    }
}

// The calling thread's cache, attached to `s` on first use, or null when the thread cannot keep
// one: its thread-end clean-up ran already, or the system refused to arrange one.
ThreadCache* attachCache(PoolState* s) {
    ThreadCache* tc = t_cache;
    if (tc->generation == s->generation)
        return tc;
    if (tc == &g_threadEnded)
        return nullptr;
    NxCSLocker guard(s->lock);
    int hook = g_exitHook.load(std::memory_order_relaxed);
    if (hook == -2) {
        hook = platform::sys().threadExitRegister(onThreadEnd);
        g_exitHook.store(hook, std::memory_order_relaxed);
    }
    if (hook < 0)
        return nullptr;
    const bool fresh = tc == &g_noCacheYet;
    if (fresh) {  // a spare, or a new one
        if ((tc = s->spare) != nullptr)
            s->spare = tc->next;
        else if ((tc = new (std::nothrow) ThreadCache()) == nullptr)
            return nullptr;
    }
    // Else the thread's cache from a state that is gone (its blocks went with that state); the
    // clean-up it was registered with may have gone too, so it is registered again.
    if (!platform::sys().threadExitSet(hook, tc)) {
        if (fresh) {
            tc->next = s->spare;
            s->spare = tc;
        }
        return nullptr;
    }
    for (ClassCache& c : tc->classes)
        c.count.store(0, std::memory_order_relaxed);
    tc->prev = nullptr;
    tc->next = s->caches;
    if (s->caches)
        s->caches->prev = tc;
    s->caches = tc;
    tc->generation = s->generation;
    t_cache = tc;
    return tc;
}

// ---- recognition ----------------------------------------------------------------------------

// The chunk holding the pool block whose caller pointer is p, or null for any other pointer.
// Needs no lock: a record is complete before the count that covers it is published, and the
// header read is guarded by the readability probe.
inline const ChunkRecord* chunkOf(const PoolState* s, const void* p) {
    const auto addr = reinterpret_cast<std::uintptr_t>(p);
    if (!p || (addr & 3) != 0)
        return nullptr;
    const auto* bytes = static_cast<const unsigned char*>(p);
    // Inside the run of adjacent chunks the 4 bytes before p are readable without asking.
    const std::uintptr_t hi = s->spanHi.load(std::memory_order_acquire);
    if ((addr - 4 < s->spanLo.load(std::memory_order_relaxed) || addr > hi) &&
        !platform::probeReadable(bytes - 4, 4))
        return nullptr;
    const unsigned index = loadWord(bytes - 2) >> kIndexShift;
    if (index >= s->chunkCount.load(std::memory_order_acquire))
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
    return chunkOf(s, ptr) != nullptr;
}

// Where the guard word lies is known once the header names the chunk, so a release of a block
// that is no longer in the processor's caches would wait for two memory reads in a row. Inside
// the span the chunk follows from the address alone: asking for the guard's line up front lets
// both reads overlap. A prefetch never faults, whatever the pointer.
inline void prefetchGuard(const PoolState* s, const void* ptr) {
#if defined(__GNUC__)
    const auto addr = reinterpret_cast<std::uintptr_t>(ptr);
    const std::uintptr_t hi = s->spanHi.load(std::memory_order_acquire);
    const std::uintptr_t lo = s->spanLo.load(std::memory_order_relaxed);
    if (addr - lo < hi - lo) {
        const ChunkRecord& rec = s->chunks[s->spanChunk[(addr - lo) >> kSpanShift]];
        __builtin_prefetch(static_cast<const char*>(ptr) + rec.blockSize);
    }
#else
    (void)s;
    (void)ptr;
#endif
}

// Checks a block taken off a list and marks it in use.
inline void* handOut(PoolState* s, unsigned char* h, unsigned k) {
    unsigned char* guard = h + 2 + kFigures.blockSize[k];
    const std::uint16_t header = loadWord(h);
    if (!(header & kFreeFlag) || loadWord(guard) != kGuard) {
        report(s, u"mp_alloc - detect block 0x%08X corrupt!", h + 2);
        storeWord(guard, kGuard);
    }
    storeWord(h, static_cast<std::uint16_t>(header & ~kFreeFlag));
    return h + 2;
}

NX_POOL_COLD void* allocSlow(PoolState* s, unsigned k, unsigned size) {
    unsigned char* h = nullptr;
    if (ThreadCache* tc = attachCache(s)) {
        ClassCache& c = tc->classes[k];
        if (c.count.load(std::memory_order_relaxed) == 0) {
            NxCSLocker guard(s->lock);
            refillLocked(s, c, k);
        }
        if (const std::uint32_t n = c.count.load(std::memory_order_relaxed)) {
            h = decodeLink(s, c.head);
            c.head = loadLink(h);
            c.count.store(n - 1, std::memory_order_relaxed);
        }
    } else {
        // A thread without a cache (past its thread-end clean-up, or none could be arranged):
        // one block straight off the shared list.
        NxCSLocker guard(s->lock);
        SizeClass& sc = s->classes[k];
        if (!sc.freeHead && s->chunkCount.load(std::memory_order_relaxed) < kMaxChunks)
            addChunk(s, k);
        if ((h = decodeLink(s, sc.freeHead)) != nullptr)
            sc.freeHead = loadLink(h);
    }
    return h ? handOut(s, h, k) : std::malloc(size);
}

NX_POOL_COLD void freeSlow(PoolState* s, unsigned k, unsigned char* h, std::uint32_t link) {
    if (ThreadCache* tc = attachCache(s)) {
        ClassCache& c = tc->classes[k];
        const std::uint32_t n = c.count.load(std::memory_order_relaxed);
        if (n >= kFigures.cacheLimit[k]) {
            NxCSLocker guard(s->lock);
            drainLocked(s, c, k);
        } else if (n != 0) {
            storeLink(h, c.head);
            c.head = link;
            c.count.store(n + 1, std::memory_order_relaxed);
            return;
        }
        storeLink(h, 0);
        c.head = c.tail = link;
        c.count.store(1, std::memory_order_relaxed);
        return;
    }
    NxCSLocker guard(s->lock);
    SizeClass& sc = s->classes[k];
    storeLink(h, sc.freeHead);
    sc.freeHead = link;
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
    ThreadCache* tc = t_cache;
    if (tc->generation == s->generation) {
        ClassCache& c = tc->classes[k];
        if (const std::uint32_t n = c.count.load(std::memory_order_relaxed)) {
            unsigned char* h = decodeLink(s, c.head);
            c.head = loadLink(h);
            c.count.store(n - 1, std::memory_order_relaxed);
            return handOut(s, h, k);
        }
    }
    return allocSlow(s, k, size);
}

void mp_free(void* ptr) {
    if (!ptr)
        return;
    if (!g_enabled.load(std::memory_order_relaxed) && !pooledWhileOff(ptr)) {
        std::free(ptr);
        return;
    }
    PoolState* s = state();
    prefetchGuard(s, ptr);
    const ChunkRecord* rec = chunkOf(s, ptr);
    if (!rec) {
        std::free(ptr);
        return;
    }
    unsigned char* h = static_cast<unsigned char*>(ptr) - 2;
    const std::uint16_t header = loadWord(h);
    if (header & kFreeFlag) {
        report(s, u"mp_free - repeat free block 0x%08X!", ptr);
        return;
    }
    unsigned char* guard = h + 2 + rec->blockSize;
    if (loadWord(guard) != kGuard) {
        report(s, u"mp_free - detect block 0x%08X corrupt!", ptr);
        storeWord(guard, kGuard);
    }
    storeWord(h, static_cast<std::uint16_t>(header | kFreeFlag));
    const unsigned k = rec->klass;
    std::uint32_t link;
    if constexpr (sizeof(void*) == 4)
        link = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h));
    else  // the chunk's index is the header's, as recognition checked
        link = (std::uint32_t(header >> kIndexShift) << 20) |
               static_cast<std::uint32_t>(h - rec->base);
    // Push on the front of the thread's cache: the block links to the old head.
    ThreadCache* tc = t_cache;
    if (tc->generation == s->generation) {
        ClassCache& c = tc->classes[k];
        const std::uint32_t n = c.count.load(std::memory_order_relaxed);
        if (n - 1 < kFigures.cacheLimit[k] - 1) {  // 0 < n < limit
            storeLink(h, c.head);
            c.head = link;
            c.count.store(n + 1, std::memory_order_relaxed);
            return;
        }
    }
    freeSlow(s, k, h, link);
}

int mp_size(const void* ptr) {
    if (!ptr)
        return 0;
    if (!g_enabled.load(std::memory_order_relaxed) && !pooledWhileOff(ptr))
        return static_cast<int>(platform::heapBlockSize(ptr));
    PoolState* s = state();
    if (const ChunkRecord* rec = chunkOf(s, ptr))
        return static_cast<int>(rec->blockSize);
    return static_cast<int>(platform::heapBlockSize(ptr));
}

void* mp_realloc(void* ptr, unsigned int size) {
    if (!g_enabled.load(std::memory_order_relaxed) && !pooledWhileOff(ptr))
        return std::realloc(ptr, size);
    PoolState* s = state();
    if (!ptr)
        return mp_alloc(size);

    if (const ChunkRecord* rec = chunkOf(s, ptr)) {
        if (rec->blockSize >= size) {
            unsigned char* h = static_cast<unsigned char*>(ptr) - 2;
            unsigned char* guard = h + 2 + rec->blockSize;
            const std::uint16_t header = loadWord(h);
            if ((header & kFreeFlag) || loadWord(guard) != kGuard) {
                report(s, u"mp_free - detect block 0x%08X corrupt!", ptr);
                storeWord(guard, kGuard);
            }
            storeWord(h, static_cast<std::uint16_t>(header & ~kFreeFlag));
            return ptr;
        }
        // Three separate steps; on exhaustion the old block stays valid and untouched.
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
        out->blockSize[k] = kFigures.blockSize[k];
    PoolState* s = g_state.load(std::memory_order_acquire);
    if (!s)
        return;
    NxCSLocker guard(s->lock);
    const std::uint32_t count = s->chunkCount.load(std::memory_order_relaxed);
    out->chunkCount = count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const ChunkRecord& rec = s->chunks[i];
        out->chunks[rec.klass] += 1;
        out->chunkBytes[rec.klass] += rec.size;
        out->blocksTotal[rec.klass] += (rec.size - 3) / (rec.blockSize + 4);
    }
    // Free blocks: those on the shared lists (a walk bounded by the blocks carved, so a list
    // that a misuse made circular still ends) and those in the threads' caches.
    for (unsigned k = 0; k < kClassCount; ++k)
        for (const unsigned char* h = decodeLink(s, s->classes[k].freeHead);
             h && out->blocksFree[k] < out->blocksTotal[k]; h = decodeLink(s, loadLink(h)))
            out->blocksFree[k] += 1;
    for (const ThreadCache* tc = s->caches; tc; tc = tc->next)
        for (unsigned k = 0; k < kClassCount; ++k)
            out->blocksFree[k] += tc->classes[k].count.load(std::memory_order_relaxed);
}
