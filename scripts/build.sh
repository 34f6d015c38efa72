#!/usr/bin/env bash
# Configures and builds one preset (default: release) after installing what it needs.
# usage: scripts/build.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
if [ "$preset" = bench ]; then scripts/setup.sh --bench; else scripts/setup.sh; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
