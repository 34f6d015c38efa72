// Counting wrappers of the glibc allocator (see xml_heap_hook.h).
#include "xml_heap_hook.h"

#include <cerrno>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* __libc_memalign(std::size_t, std::size_t);
std::size_t malloc_usable_size(void*);
}

namespace {
std::atomic<long long> g_inUse{0};

inline void* counted(void* p) {
    if (p)
        g_inUse.fetch_add(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}
inline void uncount(void* p) {
    if (p)
        g_inUse.fetch_sub(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
}
}  // namespace

long long xmlbench::heapInUse() { return g_inUse.load(); }

extern "C" {
void* malloc(std::size_t n) { return counted(__libc_malloc(n)); }
void* calloc(std::size_t n, std::size_t size) { return counted(__libc_calloc(n, size)); }
void free(void* p) {
    uncount(p);
    __libc_free(p);
}
void* realloc(void* p, std::size_t n) {
    uncount(p);
    void* q = __libc_realloc(p, n);
    if (!q && p && n)
        counted(p);  // the old block stays
    return counted(q);
}
void* memalign(std::size_t alignment, std::size_t n) { return counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(std::size_t alignment, std::size_t n) { return memalign(alignment, n); }
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    void* p = memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}
