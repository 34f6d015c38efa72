// nxtool memory: churns the small-block pool and prints its statistics; the demo's pool screen.
#include "command.h"
#include "memory/memory.h"

#include <cstdlib>
#include <random>

namespace {

void printStats() {
    NxPoolStats s;
    mp_get_stats(&s);
    std::printf("chunks in use: %u of 1024\n", s.chunkCount);
    std::printf("%6s %7s %10s %10s %10s\n", "block", "chunks", "KiB", "blocks", "in use");
    for (int k = 0; k < NxPoolStats::kClasses; ++k) {
        if (s.chunks[k] == 0)
            continue;
        std::printf("%6u %7u %10u %10u %10u\n", s.blockSize[k], s.chunks[k],
                    s.chunkBytes[k] / 1024, s.blocksTotal[k], s.blocksTotal[k] - s.blocksFree[k]);
    }
}

// Allocates and releases random sizes 1..256 with `live` blocks kept at any time, then leaves
// every `keepEvery`-th block allocated so the table shows blocks in use.
void churn(unsigned operations, unsigned live, unsigned keepEvery) {
    std::mt19937 rng(42);
    std::vector<void*> blocks(live, nullptr);
    for (unsigned i = 0; i < operations; ++i) {
        void*& slot = blocks[rng() % live];
        mp_free(slot);
        slot = mp_alloc(1 + rng() % 256);
    }
    for (unsigned i = 0; i < live; ++i)
        if (i % keepEvery != 0)
            mp_free(blocks[i]);
}

int runMemory(const std::vector<std::string>& args) {
    unsigned operations = 1000000;
    unsigned live = 4096;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--ops")
            operations = static_cast<unsigned>(std::strtoul(args[i + 1].c_str(), nullptr, 10));
        else if (args[i] == "--live")
            live = static_cast<unsigned>(std::strtoul(args[i + 1].c_str(), nullptr, 10));
    }
    if (live == 0)
        live = 1;
    std::printf("churn: %u alloc+free pairs of 1..256 bytes, %u blocks live\n", operations, live);
    churn(operations, live, 4);
    printStats();
    return 0;
}

int demoMemory() {
    std::printf("mp_alloc(0) -> %d-byte block, mp_alloc(100) -> %d, mp_alloc(300) -> runtime heap\n",
                [] { void* p = mp_alloc(0); int n = mp_size(p); mp_free(p); return n; }(),
                [] { void* p = mp_alloc(100); int n = mp_size(p); mp_free(p); return n; }());
    void* a = mp_alloc(24);
    mp_free(a);
    void* b = mp_alloc(24);
    std::printf("release then allocate again in one class: %s block (last in, first out)\n",
                a == b ? "same" : "different");
    mp_free(b);
    churn(200000, 2048, 4);
    printStats();
    return 0;
}

}  // namespace

NXTOOL_COMMAND("memory", "churn the small-block pool and print its statistics",
               "usage: nxtool memory [--ops N] [--live N]\n\n"
               "Runs N (default 1000000) releases and allocations of random sizes 1..256 bytes\n"
               "with --live blocks (default 4096) held at any time, keeps a quarter of them,\n"
               "and prints per size class: chunks, KiB obtained, blocks carved, blocks in use.",
               runMemory);
NXTOOL_DEMO(10, "memory pool", demoMemory);
