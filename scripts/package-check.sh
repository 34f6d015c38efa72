#!/usr/bin/env bash
# Installs a release build into a staging prefix, builds the example consumer against it through
# the CMake package and through pkg-config and runs both, then builds the Debian package with
# cpack, unpacks it into a scratch root and runs its nxtool demo.
# usage: scripts/package-check.sh [build dir]   (default build/release, built by scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
stage=$(mktemp -d /tmp/nxutil-stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT

cmake --install "$build" --prefix "$stage/prefix" >/dev/null
libdir=$(dirname "$(find "$stage/prefix" -name 'libnxutil.so' | head -n 1)")

echo "== example consumer through find_package(nxutil)"
cmake -S examples/consumer -B "$stage/consumer-cmake" -DCMAKE_PREFIX_PATH="$stage/prefix" >/dev/null
cmake --build "$stage/consumer-cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$stage/consumer-cmake/consumer"

echo "== example consumer through pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# The .pc file names the install prefix; point it at the staging tree.
g++ -std=c++17 examples/consumer/main.cpp -o "$stage/consumer-pc" \
    $(pkg-config --define-variable=prefix="$stage/prefix" --cflags --libs nxutil)
LD_LIBRARY_PATH=$libdir "$stage/consumer-pc"

echo "== Debian package"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/nxutil_*.deb | head -n 1)
dpkg-deb --info "$deb" | sed -n '1,12p'
dpkg-deb -x "$deb" "$stage/debroot"
"$stage/debroot/usr/bin/nxtool" demo >/dev/null
echo "package $deb installs into a scratch root and its nxtool demo runs"
