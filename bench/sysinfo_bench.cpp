// What one processor-load sample costs: the sampler builds a whole raw-data block from /proc
// and walks it; the baseline reads the same source file directly and parses one line.
#include "sysinfo/sysinfo.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The first line of a /proc file, read the plain way (one fopen, one fgets).
unsigned long long firstNumberAfter(const char* path, const char* skip) {
    std::FILE* f = std::fopen(path, "r");
    if (!f)
        return 0;
    char line[1024];
    unsigned long long v = 0;
    if (std::fgets(line, sizeof line, f)) {
        const char* p = std::strstr(line, skip);
        v = std::strtoull(p ? p + std::strlen(skip) : line, nullptr, 10);
    }
    std::fclose(f);
    return v;
}

unsigned long selfPid() { return static_cast<unsigned long>(firstNumberAfter("/proc/self/stat", "")); }

void BM_SamplerMachineWide(benchmark::State& state) {
    CCpuUsage cpu;
    for (auto _ : state)
        benchmark::DoNotOptimize(cpu.GetCpuUsage());
}
BENCHMARK(BM_SamplerMachineWide);

void BM_DirectProcStat(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(firstNumberAfter("/proc/stat", "cpu "));
}
BENCHMARK(BM_DirectProcStat);

void BM_SamplerOneProcessById(benchmark::State& state) {
    CCpuUsage cpu;
    const unsigned long pid = selfPid();
    for (auto _ : state)
        benchmark::DoNotOptimize(cpu.GetCpuUsage(pid));
}
BENCHMARK(BM_SamplerOneProcessById);

void BM_SamplerOneProcessByName(benchmark::State& state) {
    CCpuUsage cpu;
    for (auto _ : state)
        benchmark::DoNotOptimize(cpu.GetCpuUsage(u"sysinfo_bench"));
}
BENCHMARK(BM_SamplerOneProcessByName);

void BM_DirectProcSelfStat(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(firstNumberAfter("/proc/self/stat", ") "));
}
BENCHMARK(BM_DirectProcSelfStat);

void BM_CounterQuery(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(GetCpuInfo_All());
}
BENCHMARK(BM_CounterQuery);

}  // namespace

BENCHMARK_MAIN();
