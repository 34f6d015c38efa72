#!/usr/bin/env bash
# Builds the "bench" preset, then runs every benchmark program one after the other, so that all
# the figures of docs/benchmarks.md come from one session on one machine. Each program's report
# goes to OUT/<program>.txt, the machine's state before and after to OUT/machine.txt.
# usage: scripts/bench.sh [OUT]   (default: build/bench/results)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/bench/results}
scripts/build.sh bench
mkdir -p "$out"
bin=build/bench/bench
aggregates=(--benchmark_report_aggregates_only=true)

machine() {
    echo "$1: $(date -u '+%F %T UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

run() {
    local program=$1
    shift
    echo "== $program $*" | tee -a "$out/$program.txt"
    "$bin/$program" "$@" 2>&1 | tee -a "$out/$program.txt"
}

rm -f "$out"/*.txt
{
    machine start
    echo "processors: $(nproc), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)"
} >>"$out/machine.txt"
run pool_bench --benchmark_min_time=1 --benchmark_repetitions=3 "${aggregates[@]}"
run log_bench --benchmark_min_time=1 --benchmark_repetitions=3 "${aggregates[@]}"
run sysinfo_bench --benchmark_min_time=1 --benchmark_repetitions=3 "${aggregates[@]}"
run video_bench --benchmark_min_time=0.5 --benchmark_repetitions=10 \
    --benchmark_enable_random_interleaving=true "${aggregates[@]}"
run signal_bench --benchmark_filter='Emit|Connect|Clock' --benchmark_min_time=0.5 \
    --benchmark_repetitions=3 "${aggregates[@]}"
run signal_bench --benchmark_filter=Lateness
run xml_bench --memory=fresh --benchmark_repetitions=5 "${aggregates[@]}"
run xml_bench --memory=reused --benchmark_repetitions=5 "${aggregates[@]}"
[ -s build/xml_corpus/files.txt ] || bench/xml_corpus.sh build/xml_corpus
run xml_corpus_bench --corpus=build/xml_corpus --benchmark_repetitions=5 "${aggregates[@]}"
run xml_edit_bench --benchmark_repetitions=5 "${aggregates[@]}"
run text_bench --benchmark_repetitions=5 "${aggregates[@]}"
machine end >>"$out/machine.txt"
echo "reports in $out"
