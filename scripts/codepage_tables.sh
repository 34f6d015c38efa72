#!/usr/bin/env bash
# Regenerates src/platform/posix/codepage_tables.inc from ICU's converter data, or with --check
# verifies that the committed file is exactly what the generator writes on this machine.
# Needs a C++ compiler and ICU's development files (Debian: libicu-dev); the library build does
# not (the Windows cross build has no ICU and needs no tables).
#
#   bash scripts/codepage_tables.sh [--check]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TABLE=$ROOT/src/platform/posix/codepage_tables.inc
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

ICU_FLAGS=$(pkg-config --cflags --libs icu-uc 2>/dev/null || echo "-licuuc -licudata")
# shellcheck disable=SC2086
${CXX:-c++} -std=c++17 -O1 -Wall -Wextra -o "$WORK/gen" "$ROOT/tools/codepages/codepage_tables_gen.cpp" $ICU_FLAGS
"$WORK/gen" > "$WORK/codepage_tables.inc"

if [ "${1:-}" = "--check" ]; then
    if diff -u "$TABLE" "$WORK/codepage_tables.inc"; then
        echo "codepage tables: up to date"
    else
        echo "codepage tables: $TABLE differs from what the generator writes" >&2
        exit 1
    fi
else
    cp "$WORK/codepage_tables.inc" "$TABLE"
    echo "wrote $TABLE"
fi
