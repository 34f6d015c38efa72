#!/usr/bin/env bash
# Installs the packages, builds the library, nxtool and the test suites, and runs every test.
# usage: scripts/test.sh [release|debug|asan|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
scripts/build.sh "$preset"
ctest --preset "$preset" -j2
