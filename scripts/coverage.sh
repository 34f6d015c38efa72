#!/bin/sh
# Line and branch coverage of the library by its test suite: builds with gcc --coverage in
# build-cov, runs ctest, collects with lcov and prints one row per subsystem (src/memory,
# src/text, ..., src/platform split into its shared part and the posix backend).
#   scripts/coverage.sh            build, test, report
#   scripts/coverage.sh --report   report from the counters of the last run only
# Writes build-cov/coverage.info (library sources only), build-cov/summary.txt and an HTML
# report in build-cov/html. Exits non-zero when lcov is missing or nothing was collected; test
# failures are reported but don't stop the report. COV_BUILD_DIR overrides the build folder.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${COV_BUILD_DIR:-$ROOT/build-cov}
RC="--rc lcov_branch_coverage=1 --rc geninfo_no_exception_branch=1"

for tool in gcc g++ gcov lcov genhtml cmake; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "coverage.sh: $tool is missing (install the packages in .ci/packages)" >&2; exit 2; }
done

if [ "${1:-}" != "--report" ]; then
  CC=gcc CXX=g++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug \
    -DNXUTIL_BUILD_TESTS=ON -DNXUTIL_BUILD_TOOLS=OFF -DNXUTIL_BUILD_BENCH=OFF \
    -DNXUTIL_BUILD_FUZZ=OFF -DNXUTIL_SANITIZE= \
    -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic" \
    -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage" -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
  cmake --build "$BUILD" -j2
  # Counters of an earlier run would add up with this one's.
  lcov $RC --quiet --zerocounters --directory "$BUILD"
  (cd "$BUILD" && ctest -j2 --output-on-failure) || echo "coverage.sh: some tests failed" >&2
fi

RAW="$BUILD/coverage.raw.info"
INFO="$BUILD/coverage.info"
# Debian's geninfo warns about redefined subroutines under newer perl; keep real messages only.
# Counters are updated atomically (-fprofile-update=atomic) so that threaded tests add up.
if ! lcov $RC --quiet --capture --directory "$BUILD" --base-directory "$ROOT" \
    --output-file "$RAW" 2>"$BUILD/lcov.err"; then
  cat "$BUILD/lcov.err" >&2
  exit 1
fi
grep -v 'redefined at /usr/bin/geninfo' "$BUILD/lcov.err" >&2 || true
lcov $RC --quiet --extract "$RAW" "$ROOT/src/*" --output-file "$INFO"
# The Windows backend is not compiled on Linux; drop it should a stray record name it.
lcov $RC --quiet --remove "$INFO" "$ROOT/src/platform/win32/*" --output-file "$INFO"

# One row: the totals of the records whose file names match the pattern.
row() {
  name=$1; pattern=$2; exclude=${3:-}
  part="$BUILD/coverage.$(echo "$name" | tr '/' '_').info"
  if ! lcov $RC --quiet --extract "$INFO" "$pattern" --output-file "$part" 2>/dev/null; then
    printf '%-22s %s\n' "$name" "(no data)"; return
  fi
  if [ -n "$exclude" ]; then
    lcov $RC --quiet --remove "$part" "$exclude" --output-file "$part" 2>/dev/null || true
  fi
  # The totals of the tracefile: LF/LH lines found/hit, BRF/BRH branches found/hit.
  awk -v name="$name" -F: '
    /^LF:/ {lf += $2} /^LH:/ {lh += $2} /^BRF:/ {bf += $2} /^BRH:/ {bh += $2}
    END {
      lp = lf ? sprintf("%5.1f%%", 100 * lh / lf) : "    -";
      bp = bf ? sprintf("%5.1f%%", 100 * bh / bf) : "    -";
      printf "%-22s %7d %7d %7s %7d %7d %7s\n", name, lh, lf, lp, bh, bf, bp
    }' "$part"
}

SUMMARY="$BUILD/summary.txt"
{
  printf '%-22s %7s %7s %7s %7s %7s %7s\n' subsystem lines/hit found line% br/hit found branch%
  for dir in "$ROOT"/src/*/; do
    sub=$(basename "$dir")
    if [ "$sub" = platform ]; then
      row "src/platform" "$ROOT/src/platform/*" "$ROOT/src/platform/posix/*"
      row "src/platform/posix" "$ROOT/src/platform/posix/*"
    else
      row "src/$sub" "$ROOT/src/$sub/*"
    fi
  done
  row "total" "$ROOT/src/*"
} >"$SUMMARY"
cat "$SUMMARY"
genhtml $RC --quiet --branch-coverage --output-directory "$BUILD/html" "$INFO" >/dev/null 2>&1 || true
