// Four threads churn the pool with mixed sizes (pooled and not), realloc chains and content
// checks. Run under ThreadSanitizer and AddressSanitizer in CI.
#include "memory/memory.h"
#include "pool_reports.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Live {
    unsigned char* p;
    unsigned size;
    unsigned char fill;
};

bool intact(const Live& b) {
    for (unsigned i = 0; i < b.size; ++i)
        if (b.p[i] != b.fill)
            return false;
    return true;
}

}  // namespace

TEST(PoolStress, FourThreadsKeepEveryBlockIntact) {
    PoolReports reports;
    std::atomic<int> damaged{0};
    std::atomic<int> failed{0};
    auto worker = [&](unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<unsigned> sizeOf(0, 320);
        std::vector<Live> live;
        for (int step = 0; step < 60000; ++step) {
            const unsigned action = rng() % 8;
            if (live.size() < 64 || action < 3) {
                Live b{nullptr, sizeOf(rng), static_cast<unsigned char>(rng())};
                b.p = static_cast<unsigned char*>(mp_alloc(b.size));
                if (!b.p) { failed.fetch_add(1); continue; }
                std::memset(b.p, b.fill, b.size);
                live.push_back(b);
            } else if (action < 5) {
                // A realloc chain: grow or shrink the same block a few times.
                Live& b = live[rng() % live.size()];
                for (int hop = 0; hop < 3; ++hop) {
                    if (!intact(b)) damaged.fetch_add(1);
                    const unsigned newSize = sizeOf(rng);
                    auto* q = static_cast<unsigned char*>(mp_realloc(b.p, newSize));
                    if (!q) { failed.fetch_add(1); break; }
                    const unsigned kept = newSize < b.size ? newSize : b.size;
                    for (unsigned i = 0; i < kept; ++i)
                        if (q[i] != b.fill) { damaged.fetch_add(1); break; }
                    b.p = q;
                    b.size = newSize;
                    b.fill = static_cast<unsigned char>(rng());
                    std::memset(b.p, b.fill, b.size);
                }
            } else {
                const std::size_t i = rng() % live.size();
                if (!intact(live[i])) damaged.fetch_add(1);
                if (mp_size(live[i].p) < static_cast<int>(live[i].size)) damaged.fetch_add(1);
                mp_free(live[i].p);
                live[i] = live.back();
                live.pop_back();
            }
        }
        for (const Live& b : live) {
            if (!intact(b)) damaged.fetch_add(1);
            mp_free(b.p);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back(worker, 1234u + t);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, damaged.load());
    EXPECT_EQ(0, failed.load());
    EXPECT_TRUE(reports.take().empty());
}
