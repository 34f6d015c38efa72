// Small-block allocation on 1, 2 and 4 threads, every thread working on blocks of its own:
//   churn/<allocator>/live:4096      free one of 4,096 live blocks, allocate a new one of a random
//   churn/<allocator>/live:262144    size 1..256 bytes (over 262,144 live blocks: cache misses)
//   pair/<allocator>                 allocate a block of a random size 1..256 and free it at once
// Each allocator is called through its own explicit entry points, so whichever of the linked
// allocators takes over plain malloc does not change what is measured: glibc through
// __libc_malloc/__libc_free, jemalloc through mallocx/dallocx, mimalloc through
// mi_malloc/mi_free, and the pool through mp_alloc/mp_free.
//
// The counter ns_per_op_thread is the wall-clock time of one operation (a release and an
// allocation) as one thread sees it: the time column multiplied by the thread count.
#include "memory/memory.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
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

constexpr unsigned kSteps = 1 << 18;  // precomputed random slots and sizes, reused cyclically

struct Script {
    std::vector<std::uint32_t> slot;
    std::vector<std::uint16_t> size;
    Script(unsigned seed, unsigned live) : slot(kSteps), size(kSteps) {
        std::mt19937 rng(seed);
        for (unsigned i = 0; i < kSteps; ++i) {
            slot[i] = static_cast<std::uint32_t>(rng() % live);
            size[i] = static_cast<std::uint16_t>(1 + rng() % 256);
        }
    }
};

void perThread(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    // Iterations of this thread over the wall-clock seconds, inverted: seconds per operation.
    state.counters["ns_per_op_thread"] = benchmark::Counter(
        static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert | benchmark::Counter::kAvgThreads);
}

template <void* (*Alloc)(std::size_t), void (*Free)(void*)>
void churn(benchmark::State& state) {
    const unsigned live = static_cast<unsigned>(state.range(0));
    const Script script(1000u + static_cast<unsigned>(state.thread_index()), live);
    std::vector<void*> blocks(live);
    for (unsigned i = 0; i < live; ++i)
        blocks[i] = Alloc(script.size[i % kSteps]);
    unsigned step = 0;
    for (auto _ : state) {
        void*& slot = blocks[script.slot[step]];
        Free(slot);
        slot = Alloc(script.size[step]);
        *static_cast<char*>(slot) = 1;  // touch it, as a real user would
        step = (step + 1) & (kSteps - 1);
    }
    for (void* p : blocks)
        Free(p);
    perThread(state);
}

template <void* (*Alloc)(std::size_t), void (*Free)(void*)>
void pair(benchmark::State& state) {
    const Script script(2000u + static_cast<unsigned>(state.thread_index()), 1);
    unsigned step = 0;
    for (auto _ : state) {
        void* p = Alloc(script.size[step]);
        *static_cast<volatile char*>(p) = 1;
        Free(p);
        step = (step + 1) & (kSteps - 1);
    }
    perThread(state);
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

template <void* (*Alloc)(std::size_t), void (*Free)(void*)>
void registerAllocator(const char* name) {
    const std::string suffix = name;
    benchmark::RegisterBenchmark(("churn/" + suffix).c_str(), churn<Alloc, Free>)
        ->ArgName("live")->Arg(4096)->Arg(262144)
        ->Threads(1)->Threads(2)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark(("pair/" + suffix).c_str(), pair<Alloc, Free>)
        ->Threads(1)->Threads(2)->Threads(4)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    registerAllocator<poolAlloc, poolFree>("nxutil_pool");
    registerAllocator<glibcAlloc, glibcFree>("glibc_malloc");
#ifdef NX_HAVE_JEMALLOC
    registerAllocator<jeAlloc, jeFree>("jemalloc");
#endif
#ifdef NX_HAVE_MIMALLOC
    registerAllocator<miAlloc, miFree>("mimalloc");
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
