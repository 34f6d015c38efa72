#!/usr/bin/env bash
# Installs the packages, builds the library and nxtool, and runs the tour on built-in data.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release >/dev/null
exec build/release/tools/nxtool demo "$@"
