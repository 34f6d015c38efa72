#!/bin/sh
# Builds libFuzzer targets with clang (address and undefined-behaviour sanitizers, coverage
# instrumentation of the whole library) and runs them on their seed corpora.
#   scripts/fuzz.sh fuzz_xml_parse 60    one target for 60 seconds
#   scripts/fuzz.sh all 30               every target for 30 seconds each, then a summary
# A target's seeds are tests/fuzz/corpus/<topic> for fuzz_<topic> (fuzz_<topic>_parse too).
# Crashes are written to build-fuzz/artifacts/; new inputs go to build-fuzz/corpus/TARGET.
# "all" prints per target the executions, the final coverage (cov: edges, ft: features) and the
# crashes found, writes the same table to build-fuzz/summary.txt and exits non-zero when any
# target crashed. FUZZ_BUILD_DIR overrides the build folder, FUZZ_MAX_LEN the input size limit.
set -eu
TARGET=${1:?usage: scripts/fuzz.sh TARGET|all SECONDS}
SECONDS_TO_RUN=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
MAX_LEN=${FUZZ_MAX_LEN:-4096}

for tool in clang clang++ cmake; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "fuzz.sh: $tool is missing (install the packages in .ci/packages)" >&2; exit 2; }
done

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNXUTIL_BUILD_FUZZ=ON -DNXUTIL_BUILD_TESTS=ON -DNXUTIL_BUILD_TOOLS=OFF \
  -DNXUTIL_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null

# The targets the build defines: every nx_add_fuzz line of tests/fuzz/CMakeLists.txt.
all_targets() {
  sed -n 's/^nx_add_fuzz(\([A-Za-z0-9_]*\) .*/\1/p' "$ROOT/tests/fuzz/CMakeLists.txt"
}

seeds_of() {
  echo "$ROOT/tests/fuzz/corpus/$(echo "$1" | sed -e 's/^fuzz_//' -e 's/_parse$//')"
}

# run_one TARGET LOG: fuzzes TARGET for SECONDS_TO_RUN, output to LOG; returns libFuzzer's status.
run_one() {
  work="$BUILD/corpus/$1"
  mkdir -p "$work" "$BUILD/artifacts"
  "$BUILD/tests/fuzz/$1" -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/$1-" -max_len="$MAX_LEN" "$work" "$(seeds_of "$1")" \
    >"$2" 2>&1
}

if [ "$TARGET" != all ]; then
  cmake --build "$BUILD" --target "$TARGET" -j2
  WORK="$BUILD/corpus/$TARGET"
  mkdir -p "$WORK" "$BUILD/artifacts"
  exec "$BUILD/tests/fuzz/$TARGET" -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/" -max_len="$MAX_LEN" "$WORK" "$(seeds_of "$TARGET")"
fi

TARGETS=$(all_targets)
# shellcheck disable=SC2086
cmake --build "$BUILD" -j2 --target $TARGETS

SUMMARY="$BUILD/summary.txt"
LOGS="$BUILD/logs"
mkdir -p "$LOGS"
failed=0
{
  printf '%-18s %14s %8s %8s %8s %8s %s\n' target executions exec/s cov ft seconds crashes
} >"$SUMMARY.tmp"
for t in $TARGETS; do
  log="$LOGS/$t.log"
  echo "fuzzing $t for ${SECONDS_TO_RUN}s ..." >&2
  status=0
  run_one "$t" "$log" || status=$?
  # The final statistics (-print_final_stats) and the last "cov: N ft: M" status line.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | sed 's/cov: //')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | sed 's/ft: //')
  crashes=0
  if [ "$status" -ne 0 ]; then
    crashes=$(grep -c '^artifact_prefix=\|Test unit written to' "$log" || true)
    [ "$crashes" -gt 0 ] || crashes=1
    failed=1
  fi
  printf '%-18s %14s %8s %8s %8s %8s %s\n' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" \
    "${ft:-?}" "$SECONDS_TO_RUN" "$crashes" >>"$SUMMARY.tmp"
  if [ "$status" -ne 0 ]; then
    echo "$t failed (status $status); log: $log" >&2
    grep -E 'ERROR|invariant broken|Test unit written to' "$log" | head -n 5 >&2 || true
  fi
done
mv "$SUMMARY.tmp" "$SUMMARY"
cat "$SUMMARY"
exit "$failed"
