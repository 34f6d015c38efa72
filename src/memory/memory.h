// Memory and synchronisation: the atomic counter, the recursive lock and its scoped guard, the
// allocation entry points of the library's containers and the small-block memory pool.
#ifndef NXUTIL_MEMORY_H
#define NXUTIL_MEMORY_H

#include "nxutil_export.h"

#include <atomic>

/// A 32-bit reference counter: `ref` and `deref` are atomic read-modify-writes with a full
/// barrier; assignment and reads are plain (relaxed) and may be stale by the time they are used.
class NXUTIL_API NxAtomicInt {
public:
    constexpr NxAtomicInt() : m_value(0) {}
    constexpr NxAtomicInt(int value) : m_value(value) {}
    NxAtomicInt(const NxAtomicInt& other) : m_value(static_cast<int>(other)) {}

    /// Copies the other's value with a plain store.
    NxAtomicInt& operator=(const NxAtomicInt& other);

    /// Adds 1; false only when the value went from -1 to 0.
    bool ref();
    /// Subtracts 1 and returns the new value (0 means the last reference went).
    int deref();

    bool operator!=(int value) const { return static_cast<int>(*this) != value; }
    operator int() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_value;
};

/// A recursive lock: the owning thread may take it again (with `lock` or `tryLock`) and must
/// release it as many times. Locking is const so a member lock works in const members.
class NXUTIL_API NxCriticalSection {
public:
    NxCriticalSection();
    ~NxCriticalSection();
    NxCriticalSection(const NxCriticalSection&) = delete;
    NxCriticalSection& operator=(const NxCriticalSection&) = delete;

    /// Waits until the calling thread owns the lock.
    void lock() const;
    /// Releases one level of ownership; only the owning thread may call it.
    void unlock() const;
    /// Takes the lock without waiting; true when the calling thread now owns it.
    bool tryLock() const;

private:
    // The platform's lock object lives in place; `mutable` because locking is const.
    alignas(void*) mutable unsigned char m_cs[NXUTIL_LOCK_STORAGE];
};

/// Holds an NxCriticalSection from construction to destruction; cs must not be null.
class NXUTIL_API NxCSLocker {
public:
    explicit NxCSLocker(const NxCriticalSection* cs) : m_cs(cs) { m_cs->lock(); }
    ~NxCSLocker() { m_cs->unlock(); }
    NxCSLocker(const NxCSLocker&) = delete;
    NxCSLocker& operator=(const NxCSLocker&) = delete;

private:
    const NxCriticalSection* m_cs;
};

/// The containers' allocation entry points: exactly the runtime heap's malloc, realloc and
/// free. They never use the pool.
NXUTIL_API void* nxMalloc(unsigned int size);
NXUTIL_API void* nxRealloc(void* ptr, unsigned int size);
NXUTIL_API void nxFree(void* ptr);

/// Switches the small-block pool on or off for later calls (it starts on). Creates the pool
/// state if it does not exist yet.
NXUTIL_API void mp_enable(bool enable);
/// A block of at least `size` bytes: from the pool for 0..256 bytes (0 counts as 1), from the
/// runtime heap above that, when the pool is off, or when its 1024-chunk table is full.
NXUTIL_API void* mp_alloc(unsigned int size);
/// Releases a block from mp_alloc/mp_realloc or the runtime heap; null does nothing. A second
/// release of a pool block is reported and otherwise ignored.
NXUTIL_API void mp_free(void* ptr);
/// Usable size: the class's block size for a pool block (8 for a 1-byte request), the runtime
/// heap's usable size otherwise, 0 for null.
NXUTIL_API int mp_size(const void* ptr);
/// Resizes: a pool block that is large enough stays in place (shrinking never moves it);
/// otherwise the whole old block is copied to a new one. Null behaves as mp_alloc.
NXUTIL_API void* mp_realloc(void* ptr, unsigned int size);

/// Receives the pool's misuse reports ("mp_free - repeat free block 0x...!", ...).
typedef void (*NxPoolReportFn)(const char16_t* message);
/// Installs a report handler and returns the previous one; null restores the default (Windows:
/// a message box, then a debug break; POSIX: one line on standard error, and a trap only when a
/// debugger is attached). The handler runs while the pool lock is held: it must not use the pool.
NXUTIL_API NxPoolReportFn mp_set_report_handler(NxPoolReportFn fn);

/// A snapshot of the pool for diagnostics (`nxtool memory`). Counts are taken under the pool
/// lock; a class's blocks in use are its carved blocks minus its free ones (on its shared list
/// or in a thread's cache; exact while no other thread uses the pool).
struct NxPoolStats {
    enum { kClasses = 13 };
    unsigned int chunkCount;              ///< chunk records in use (at most 1024)
    unsigned int blockSize[kClasses];     ///< block size of each class
    unsigned int chunks[kClasses];        ///< chunks owned by each class
    unsigned int chunkBytes[kClasses];    ///< bytes obtained for each class
    unsigned int blocksTotal[kClasses];   ///< blocks carved for each class
    unsigned int blocksFree[kClasses];    ///< free blocks of each class, cached ones included
};
/// Fills `out` with the pool's current figures (all zero before the pool's first use).
NXUTIL_API void mp_get_stats(NxPoolStats* out);

#endif
