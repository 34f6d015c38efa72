// Lines per second into a log file with a flush after every line, on one and two threads:
// TRK::TRKLogger against spdlog's basic file sink (flush on every message), glog (no level
// buffered) and a bare fprintf + fflush loop with a pre-built time stamp as the ceiling.
// Every line carries a time stamp, the process id, a level and "bench line <n> of <text>".
#include "log/log.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#ifdef NX_HAVE_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif
#ifdef NX_HAVE_GLOG
#include <glog/logging.h>
#endif

namespace {

namespace fs = std::filesystem;

const fs::path& benchDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / "nxutil-log-bench";
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void BM_TRKLogger(benchmark::State& state) {
    static TRK::TRKLogger* logger = [] {
        auto* l = new TRK::TRKLogger();
        l->InitLog((benchDir() / "nxutil.log").u16string());
        return l;
    }();
    int n = 0;
    for (auto _ : state)
        logger->LogInfo(u"bench line %d of %s", ++n, u"the logger benchmark");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TRKLogger)->Threads(1)->Threads(2)->UseRealTime();

// The same lines while other writers keep rotating the log: every 65,536 lines the file is
// renamed away (as another process's rotation moves it to ".bk"), so besides its once-a-second
// check of the path the logger also reopens the log about once a second.
void BM_TRKLoggerRotatedByOthers(benchmark::State& state) {
    static const fs::path path = benchDir() / "rotated.log";
    static TRK::TRKLogger* logger = [] {
        auto* l = new TRK::TRKLogger();
        l->InitLog(path.u16string());
        return l;
    }();
    int n = 0;
    for (auto _ : state) {
        logger->LogInfo(u"bench line %d of %s", ++n, u"the logger benchmark");
        if (state.thread_index() == 0 && (n & 0xFFFF) == 0) {
            std::error_code ignored;
            fs::rename(path, benchDir() / "rotated.log.bk", ignored);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TRKLoggerRotatedByOthers)->Threads(1)->Threads(2)->UseRealTime();

#ifdef NX_HAVE_SPDLOG
void BM_spdlog(benchmark::State& state) {
    static std::shared_ptr<spdlog::logger> logger = [] {
        auto l = spdlog::basic_logger_mt("bench", (benchDir() / "spdlog.log").string());
        l->set_pattern("%a %b %d %H:%M:%S %Y: %e [%P] :%l %v");
        l->flush_on(spdlog::level::trace);
        return l;
    }();
    int n = 0;
    for (auto _ : state)
        logger->info("bench line {} of {}", ++n, "the logger benchmark");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_spdlog)->Threads(1)->Threads(2)->UseRealTime();
#endif

#ifdef NX_HAVE_GLOG
void BM_glog(benchmark::State& state) {
    static const bool ready = [] {
        FLAGS_log_dir = benchDir().string();
        FLAGS_logbuflevel = -1;  // no level is buffered: every line is flushed
        FLAGS_logtostderr = false;
        FLAGS_stderrthreshold = 3;
        google::InitGoogleLogging("log_bench");
        return true;
    }();
    (void)ready;
    int n = 0;
    for (auto _ : state)
        LOG(INFO) << "bench line " << ++n << " of " << "the logger benchmark";
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_glog)->Threads(1)->Threads(2)->UseRealTime();
#endif

// The ceiling: the same bytes through stdio with no time reading and no conversion.
void BM_fprintf_fflush(benchmark::State& state) {
    static std::FILE* f = std::fopen((benchDir() / "stdio.log").string().c_str(), "ab");
    int n = 0;
    for (auto _ : state) {
        std::fprintf(f, "Sun Dec 06 08:30:19 2026: %d [%d] :info bench line %d of %s\r\n", 7, 4120,
                     ++n, "the logger benchmark");
        std::fflush(f);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_fprintf_fflush)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
