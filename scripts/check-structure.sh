#!/usr/bin/env bash
# Keeps the source tree's shape: run from anywhere, exits non-zero on any finding.
#  1. Layers: a subsystem (a folder of src/) includes headers only from subsystems on lower
#     layers of the table in docs/architecture.md, so the subsystems form no cycle.
#  2. OS headers: only src/platform/ includes the system's own headers.
#  3. Function length: no function in src/ longer than 120 lines.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
fail() { echo "check-structure: $*" >&2; status=1; }

# ---- 1. layers ------------------------------------------------------------------------------
# The table rows look like "| 3 | `text` | what it holds |": a subsystem may include the
# headers of subsystems on lower layers only.
declare -A layer=()
while IFS='|' read -r _ number name _; do
    layer[$(echo "$name" | tr -d ' `')]=$(echo "$number" | tr -d ' ')
done < <(sed -n '/<!-- layers -->/,/<!-- \/layers -->/p' docs/architecture.md | grep -E '^\| *[0-9]+ *\|')
[ ${#layer[@]} -gt 0 ] || fail "docs/architecture.md has no layers table"
for dir in src/*/; do
    sub=$(basename "$dir")
    [ -n "${layer[$sub]+x}" ] || { fail "src/$sub is not in the layers table"; continue; }
    while IFS= read -r used; do
        [ "$used" = "$sub" ] && continue
        if [ -z "${layer[$used]+x}" ] || [ "${layer[$used]}" -ge "${layer[$sub]}" ]; then
            fail "src/$sub (layer ${layer[$sub]}) includes $used/ (layer ${layer[$used]:-none})"
        fi
    done < <(grep -rhoE '^#include "[a-z_]+/' "$dir" | sed -E 's/#include "//; s#/##' | sort -u)
done

# ---- 2. OS headers --------------------------------------------------------------------------
os_headers='windows\.h|winsock|unistd\.h|fcntl\.h|sys/[a-z_]+\.h|pthread\.h|dlfcn\.h|link\.h|iconv\.h|signal\.h|csignal|spawn\.h|poll\.h|X11/|linux/|semaphore\.h|termios\.h|dirent\.h|pwd\.h'
if found=$(grep -rnE "^#include <($os_headers)" src --include='*.cpp' --include='*.h' | grep -v '^src/platform/'); then
    fail "OS headers outside src/platform/:"$'\n'"$found"
fi

# ---- 3. function length ---------------------------------------------------------------------
# A brace that opens at nesting depth 0 (namespace blocks do not count) after a text that ends
# in ")" and qualifiers starts a function; literals and comments are dropped first.
long=$(find src -name '*.cpp' -print0 | xargs -0 awk -v limit=120 '
    FNR == 1 { depth = 0; pending = ""; start = 0; inComment = 0 }
    /^[ \t]*#/ { next }   # preprocessor lines
    {
        line = $0; quote = ""
        for (i = 1; i <= length(line); i++) {
            c = substr(line, i, 1); two = substr(line, i, 2)
            if (inComment) { if (two == "*/") { inComment = 0; i++ } continue }
            if (quote != "") {
                if (c == "\\") i++
                else if (c == quote) quote = ""
                continue
            }
            if (two == "//") break
            if (two == "/*") { inComment = 1; i++; continue }
            if (c == "\"" || c == "'"'"'") { quote = c; continue }
            if (c == "{") {
                if (depth == 0 && pending ~ /^[ \t]*(inline[ \t]+)?namespace/) { pending = ""; continue }
                if (depth == 0 && pending ~ /\)[ \t]*(const|noexcept|override|try|[ \t])*$/ &&
                    pending !~ /^[ \t]*(struct|class|enum|union|extern)/) { start = FNR; name = pending }
                depth++; pending = ""
            } else if (c == "}") {
                if (depth == 0) { pending = ""; continue }   # the end of a namespace block
                if (--depth == 0 && start) {
                    if (FNR - start + 1 > limit) {
                        gsub(/^[ \t]+|[ \t]+$/, "", name)
                        printf "%s:%d: %d lines: %s\n", FILENAME, start, FNR - start + 1, substr(name, 1, 90)
                    }
                    start = 0
                }
                pending = ""
            } else if (c == ";" && depth == 0) {
                pending = ""
            } else if (depth == 0) {
                pending = pending c
            }
        }
        if (depth == 0) pending = pending " "
    }')
[ -z "$long" ] || fail "functions over 120 lines:"$'\n'"$long"

[ $status -eq 0 ] && echo "check-structure: layers, OS headers and function lengths are in order"
exit $status
