#!/usr/bin/env bash
# The Windows leg: cross-builds nxutil as a 32-bit Windows DLL with MinGW-w64 (i686, POSIX
# threads), with its tests and nxtool, and runs the whole CTest suite under Wine, headless.
#
#   bash .ci/win32.sh [<source dir> [<build dir>]]     (as root on Debian 12; no stdin needed)
#
# The source dir defaults to this clone, the build dir to <source dir>/build/win32 (the folder of
# the "win32" preset). Environment (all optional):
#   NXUTIL_WIN32_BUILD   build folder when no argument names one
#   NXUTIL_WIN32_WORK    Wine work folder outside the clone: the wine wrapper, the 32-bit
#                        prefix and, when apt cannot install wine32:i386, a private Wine root
#                        (default /var/tmp/nxutil-win32)
#   NXUTIL_WIN32_CMAKE_ARGS  extra configure arguments
#   NXUTIL_WIN32_JOBS    parallel build jobs and test programs (default 2)
#
# Exits non-zero on any failure: packages, Wine, prefix, configure, build, a test, nxtool.
set -euo pipefail
exec </dev/null

SRC=$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}" && pwd)
BUILD=${2:-${NXUTIL_WIN32_BUILD:-$SRC/build/win32}}
WORK=${NXUTIL_WIN32_WORK:-/var/tmp/nxutil-win32}
JOBS=${NXUTIL_WIN32_JOBS:-2}
TRIPLE=i686-w64-mingw32

export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -q -o DPkg::Lock::Timeout=300 -o Acquire::Retries=3 -o Dpkg::Use-Pty=0)

t0=$SECONDS
phase_start=$SECONDS
declare -a TIMINGS=()
log() { printf '[win32 %(%H:%M:%S)T +%4ds] %s\n' -1 "$((SECONDS - t0))" "$*"; }
phase() { # phase <name>: closes the running phase and records its duration
    TIMINGS+=("$(printf '%-22s %5d s' "$1" "$((SECONDS - phase_start))")")
    log "$1 done in $((SECONDS - phase_start)) s"
    phase_start=$SECONDS
}
die() { log "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || die "run as root (installs packages with apt-get)"
mkdir -p "$WORK"
case "$WORK/" in "$SRC"/*) die "NXUTIL_WIN32_WORK must be outside the clone" ;; esac
# One run at a time per work folder: runs share the prefix, its server and the Wine root.
exec 9>"$WORK/.lock"
flock -w 3600 9 || die "another run holds $WORK/.lock"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

apt_updated=0
apt_update() {
    [ "$apt_updated" -eq 1 ] && return 0
    apt_updated=1
    # apt-get update exits 100 when one index fails (seen: a stale i386 security index); the
    # installs below report what is really missing.
    timeout 300 "${APT[@]}" update -qq || log "apt-get update reported errors; continuing"
}

# ---- 1. toolchain ---------------------------------------------------------------------------
# g++-mingw-w64-i686-posix makes the posix-thread compiler the default; googletest is the source
# package the tests build for the target; libz-mingw-w64 and patchelf serve the private Wine
# root below (zlib1.dll builtin, loader path); Xvfb is the display of the Wine desktop.
TOOL_PKGS=(g++-mingw-w64-i686-posix cmake make googletest libz-mingw-w64 patchelf xvfb)
missing=()
for p in "${TOOL_PKGS[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    apt_update
    timeout 900 "${APT[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
        || die "apt-get install ${missing[*]}"
fi
for t in gcc-posix g++-posix windres ar ranlib; do
    [ -x /usr/bin/$TRIPLE-$t ] || die "/usr/bin/$TRIPLE-$t missing"
done
[ -f /usr/src/googletest/CMakeLists.txt ] || die "/usr/src/googletest missing"
phase "toolchain"

# ---- 2. a Wine that runs PE32 programs --------------------------------------------------------
dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; apt_updated=0; }
R=$WORK/wine32root
system_wine() { installed wine32:i386 && [ -x /usr/lib/wine/wine ]; }
write_system_wrappers() {
    # The 32-bit loader itself (/usr/bin/wine would pick wine64 when wine32 is missing), and the
    # server Debian's own wineserver script would choose.
    local server=/usr/lib/wine/wineserver32
    [ -x /usr/lib/wine/wineserver64 ] && server=/usr/lib/wine/wineserver64
    write_wrappers /usr/lib/wine/wine "$server"
}

write_wrappers() { # write_wrappers <wine loader> <wineserver> [<library path>]
    local env="export WINESERVER=\"$2\""
    if [ -n "${3:-}" ]; then
        env="export LD_LIBRARY_PATH=\"$3\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}\"
$env"
    fi
    # The wrapper pins the 32-bit prefix and keeps Wine quiet and headless, so ctest (and a
    # developer) can call it later without setting anything.
    cat > "$WORK/wine" <<EOF
#!/bin/sh
# Runs a program under the 32-bit Wine of nxutil's Windows leg (written by .ci/win32.sh).
$env
export WINEPREFIX="\${WINEPREFIX:-$WORK/prefix32}"
export WINEARCH=win32
export WINEDEBUG="\${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="\${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset WAYLAND_DISPLAY
exec "$1" "\$@"
EOF
    cat > "$WORK/wineserver" <<EOF
#!/bin/sh
$env
export WINEPREFIX="\${WINEPREFIX:-$WORK/prefix32}"
exec "$2" "\$@"
EOF
    chmod +x "$WORK/wine" "$WORK/wineserver"
}

write_private_wrappers() {
    write_wrappers "$R/usr/lib/wine/wine" "$R/usr/lib/wine/wineserver32" \
        "$R/lib/i386-linux-gnu:$R/usr/lib/i386-linux-gnu"
}

build_private_root() {
    # Debian's wine32:i386 needs i386 libraries at exactly the amd64 versions; when the i386
    # index of bookworm-security is missing or stale, apt cannot resolve that. The same signed,
    # apt-verified .debs are then unpacked into a private root instead of being installed.
    log "building a private wine32 root in $R"
    rm -rf "$R" "$WORK/debs"
    mkdir -p "$R" "$WORK/debs"
    local pkgs
    pkgs=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
             --no-breaks --no-replaces --no-enhances wine32:i386 \
           | grep -E '^[a-z0-9].*:i386$' | sort -u)
    [ -n "$pkgs" ] || die "apt-cache knows no wine32:i386 (is the i386 index missing?)"
    chown _apt "$WORK/debs" 2>/dev/null || true
    # shellcheck disable=SC2086
    (cd "$WORK/debs" && timeout 900 apt-get -qq -o Acquire::Retries=3 download $pkgs) \
        || die "downloading the wine32:i386 packages"
    local d
    for d in "$WORK"/debs/*.deb; do dpkg-deb -x "$d" "$R"; done
    rm -rf "$WORK/debs"
    patchelf --set-interpreter "$R/lib/i386-linux-gnu/ld-linux.so.2" \
        "$R/usr/lib/wine/wine" "$R/usr/lib/wine/wineserver32"
    # What libwine's postinst does: turn libz-mingw-w64's zlib1.dll into a Wine builtin.
    local a in out
    for a in i686:i386 x86_64:x86_64; do
        in=/usr/${a%%:*}-w64-mingw32/lib/zlib1.dll
        out=$R/usr/lib/i386-linux-gnu/wine/${a##*:}-windows/zlib1.dll
        if [ -f "$in" ] && [ -d "$(dirname "$out")" ]; then
            { head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } > "$out"
        fi
    done
    # The root's wineserver script looks for /usr/lib/wine/wineserver32; wine falls back to it
    # when it has to start a server itself.
    cat > "$R/usr/lib/wine/wineserver" <<EOF
#!/bin/sh
export LD_LIBRARY_PATH="$R/lib/i386-linux-gnu:$R/usr/lib/i386-linux-gnu\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}"
exec "$R/usr/lib/wine/wineserver32" "\$@"
EOF
    write_private_wrappers
}

if system_wine; then
    write_system_wrappers
elif [ -x "$R/usr/lib/wine/wine" ]; then
    write_private_wrappers
    "$WORK/wine" --version >/dev/null 2>&1 || build_private_root
    log "using the private wine32 root in $R"
else
    apt_update
    log "installing wine wine32:i386"
    if timeout 900 "${APT[@]}" install -y -qq --no-install-recommends wine wine32:i386 \
            >"$WORK/apt-wine.log" 2>&1; then
        write_system_wrappers
    else
        tail -n 5 "$WORK/apt-wine.log" | sed 's/^/    apt: /'
        log "wine32:i386 is not installable through apt"
        build_private_root
    fi
fi
WINE=$WORK/wine
WINESERVER_CMD=$WORK/wineserver
"$WINE" --version 9>&- || die "wine does not start"
phase "wine"

# ---- 3. the 32-bit prefix and its desktop -----------------------------------------------------
# Wine's own background processes (the server, services.exe, the desktop's explorer.exe) inherit
# the standard handles of the program that starts them and outlive it. Every Wine call here
# writes to a file, never to a pipe, and the warm-up below starts all of them, so no reader
# (ctest included) waits for an end of file that would only come when the server goes.
export WINEPREFIX=$WORK/prefix32
WLOG=$WORK/wine.log
: > "$WLOG"
start_server() {
    # A persistent server for the whole run: about 0.05 s per test process instead of about
    # 1.2 s when every process starts its own. Exit status 2 means one already runs.
    mkdir -p "$WINEPREFIX"
    "$WINESERVER_CMD" -p >>"$WLOG" 2>&1 9>&- || true
}
stop_server() { # kills this prefix's server and waits until it has gone
    "$WINESERVER_CMD" -k >>"$WLOG" 2>&1 || true
    timeout 30 "$WINESERVER_CMD" -w >>"$WLOG" 2>&1 || true
}
wine_run() { # wine_run <seconds> <args...>: runs wine with its output appended to $WLOG
    local limit=$1
    shift
    timeout "$limit" "$WINE" "$@" >>"$WLOG" 2>&1 9>&-
}
XVFB_PID=""
cleanup() {
    stop_server
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
# Visible top-level windows need a display: a private X server, found by -displayfd.
rm -f "$WORK/xvfb.display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$WORK/xvfb.display" >"$WORK/xvfb.log" 2>&1 9>&- &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/xvfb.display" ] && break; sleep 0.1; done
[ -s "$WORK/xvfb.display" ] || { cat "$WORK/xvfb.log"; die "Xvfb did not start"; }
DISPLAY=":$(head -n 1 "$WORK/xvfb.display")"
export DISPLAY
# A server left by an earlier run may be bound to another display.
stop_server
# .nxutil-prefix-ready marks a prefix that was set up completely.
if [ ! -f "$WINEPREFIX/.nxutil-prefix-ready" ] || ! grep -q '#arch=win32' "$WINEPREFIX/system.reg"; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # A new prefix keeps installing in the background after wineboot returns; waiting for its
    # server to end (-w) lets that finish before any test runs.
    wine_run 300 wineboot -i || { cat "$WLOG"; die "wineboot -i (creating the prefix)"; }
    timeout 300 "$WINESERVER_CMD" -w >>"$WLOG" 2>&1 9>&- || true
    # Wine 8 reports Windows 7 unless told otherwise.
    wine_run 120 winecfg -v win10 || { cat "$WLOG"; die "winecfg -v win10"; }
    timeout 300 "$WINESERVER_CMD" -w >>"$WLOG" 2>&1 9>&- || true
    touch "$WINEPREFIX/.nxutil-prefix-ready"
fi
start_server
# Starts services.exe and the desktop (explorer.exe) with their output in the log.
wine_run 60 cmd /c echo nxutil-wine-ok || true
grep -q nxutil-wine-ok "$WLOG" || { cat "$WLOG"; die "wine cannot run a 32-bit program"; }
phase "prefix"

# ---- 4. configure and build -------------------------------------------------------------------
# The toolchain's initial flags only reach a fresh cache: start one when the file has changed.
stamp=$(sha256sum "$SRC/cmake/mingw-i686.cmake" | cut -d' ' -f1)
if [ -f "$BUILD/CMakeCache.txt" ] && [ "$(cat "$BUILD/.toolchain-stamp" 2>/dev/null)" != "$stamp" ]; then
    log "toolchain file changed: configuring $BUILD afresh"
    rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
# shellcheck disable=SC2086
timeout 600 cmake -S "$SRC" -B "$BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE" \
    -DNXUTIL_BUILD_TESTS=ON -DNXUTIL_BUILD_TOOLS=ON -DNXUTIL_WERROR=ON \
    ${NXUTIL_WIN32_CMAKE_ARGS:-} >"$WORK/configure.log" 2>&1 \
    || { cat "$WORK/configure.log"; die "configure"; }
echo "$stamp" > "$BUILD/.toolchain-stamp"
timeout 3600 cmake --build "$BUILD" -j"$JOBS" || die "build"
for f in nxutil.dll nxtool.exe libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll; do
    [ -f "$BUILD/bin/$f" ] || die "$BUILD/bin/$f missing"
done
phase "build"

# ---- 5. tests and nxtool under Wine -----------------------------------------------------------
# Every test program carries a PASS_REGULAR_EXPRESSION, so a program that runs silently (wrong
# Wine architecture, missing DLL: exit 53) fails instead of passing.
timeout 2400 ctest --test-dir "$BUILD" --output-on-failure --no-tests=error \
    -j"$JOBS" --timeout 600 9>&- || die "tests under Wine"
timeout 120 "$WINE" "$BUILD/bin/nxtool.exe" --help >"$WORK/nxtool-help.txt" 2>&1 9>&- \
    || { cat "$WORK/nxtool-help.txt"; die "nxtool --help"; }
grep -q 'commands:' "$WORK/nxtool-help.txt" \
    || { cat "$WORK/nxtool-help.txt"; die "nxtool --help printed no commands"; }
timeout 300 "$WINE" "$BUILD/bin/nxtool.exe" demo >"$WORK/nxtool-demo.txt" 2>&1 9>&- \
    || { cat "$WORK/nxtool-demo.txt"; die "nxtool demo"; }
log "nxtool demo: $(grep -c '^== ' "$WORK/nxtool-demo.txt") sections"
phase "tests"

log "Windows leg passed in $((SECONDS - t0)) s"
printf '  %s\n' "${TIMINGS[@]}"
