#!/usr/bin/env bash
# Installs the Debian packages listed in .ci/packages (and, with --bench, .ci/packages-bench).
# Runs apt-get only when something is missing, so repeated runs are quick.
set -euo pipefail
cd "$(dirname "$0")/.."
lists=(.ci/packages)
[ "${1:-}" = "--bench" ] && lists+=(.ci/packages-bench)
mapfile -t wanted < <(cat "${lists[@]}" | sed 's/#.*//' | awk 'NF {print $1}')
missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq || echo "setup: apt-get update reported errors; continuing" >&2
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
