// Allocation churn: free one of 4,096 live blocks and allocate a new one of a random size
// 1..256 bytes, per thread. Each allocator is called through its own explicit entry points, so
// whichever of the linked allocators takes over plain malloc does not change what is measured:
// glibc through __libc_malloc/__libc_free, jemalloc through mallocx/dallocx, mimalloc through
// mi_malloc/mi_free, and the pool through mp_alloc/mp_free.
#include "memory/memory.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" {
void* __libc_malloc(std::size_t);
void __libc_free(void*);
#ifdef NX_HAVE_JEMALLOC
void* mallocx(std::size_t, int);
void dallocx(void*, int);
#endif
}
#ifdef NX_HAVE_MIMALLOC
#include <mimalloc.h>
#endif

namespace {

constexpr unsigned kLive = 4096;
constexpr unsigned kSteps = 1 << 16;  // precomputed random slots and sizes, reused cyclically

struct Script {
    std::vector<std::uint16_t> slot;
    std::vector<std::uint16_t> size;
    explicit Script(unsigned seed) : slot(kSteps), size(kSteps) {
        std::mt19937 rng(seed);
        for (unsigned i = 0; i < kSteps; ++i) {
            slot[i] = static_cast<std::uint16_t>(rng() % kLive);
            size[i] = static_cast<std::uint16_t>(1 + rng() % 256);
        }
    }
};

template <void* (*Alloc)(std::size_t), void (*Free)(void*)>
void churn(benchmark::State& state) {
    const Script script(1000u + static_cast<unsigned>(state.thread_index()));
    std::vector<void*> live(kLive);
    for (unsigned i = 0; i < kLive; ++i)
        live[i] = Alloc(script.size[i]);
    unsigned step = 0;
    for (auto _ : state) {
        void*& slot = live[script.slot[step]];
        Free(slot);
        slot = Alloc(script.size[step]);
        *static_cast<char*>(slot) = 1;  // touch it, as a real user would
        step = (step + 1) & (kSteps - 1);
    }
    for (void* p : live)
        Free(p);
    state.SetItemsProcessed(state.iterations());
}

void* poolAlloc(std::size_t n) { return mp_alloc(static_cast<unsigned>(n)); }
void poolFree(void* p) { mp_free(p); }
void* glibcAlloc(std::size_t n) { return __libc_malloc(n); }
void glibcFree(void* p) { __libc_free(p); }
#ifdef NX_HAVE_JEMALLOC
void* jeAlloc(std::size_t n) { return mallocx(n, 0); }
void jeFree(void* p) { dallocx(p, 0); }
#endif
#ifdef NX_HAVE_MIMALLOC
void* miAlloc(std::size_t n) { return mi_malloc(n); }
void miFree(void* p) { mi_free(p); }
#endif

}  // namespace

BENCHMARK(churn<poolAlloc, poolFree>)->Name("churn/nxutil_pool")->Threads(1)->Threads(2);
BENCHMARK(churn<glibcAlloc, glibcFree>)->Name("churn/glibc_malloc")->Threads(1)->Threads(2);
#ifdef NX_HAVE_JEMALLOC
BENCHMARK(churn<jeAlloc, jeFree>)->Name("churn/jemalloc")->Threads(1)->Threads(2);
#endif
#ifdef NX_HAVE_MIMALLOC
BENCHMARK(churn<miAlloc, miFree>)->Name("churn/mimalloc")->Threads(1)->Threads(2);
#endif

BENCHMARK_MAIN();
