#!/bin/sh
# Builds a libFuzzer target with clang (address and undefined-behaviour sanitizers, coverage
# instrumentation of the whole library) and runs it on its seed corpus for SECONDS.
#   scripts/fuzz.sh fuzz_xml_parse 60
# Crashes are written to build-fuzz/artifacts/; new inputs go to build-fuzz/corpus/TARGET.
set -eu
TARGET=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
SECONDS_TO_RUN=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNXUTIL_BUILD_FUZZ=ON -DNXUTIL_BUILD_TESTS=ON -DNXUTIL_BUILD_TOOLS=OFF \
  -DNXUTIL_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$BUILD" --target "$TARGET" -j2

# The seed corpus of the target: tests/fuzz/corpus/<topic> for fuzz_<topic>_parse.
TOPIC=$(echo "$TARGET" | sed -e 's/^fuzz_//' -e 's/_parse$//')
SEEDS="$ROOT/tests/fuzz/corpus/$TOPIC"
WORK="$BUILD/corpus/$TARGET"
mkdir -p "$WORK" "$BUILD/artifacts"
"$BUILD/tests/fuzz/$TARGET" -max_total_time="$SECONDS_TO_RUN" -print_final_stats=1 \
  -artifact_prefix="$BUILD/artifacts/" -max_len=4096 "$WORK" "$SEEDS"
