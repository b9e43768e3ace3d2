#!/usr/bin/env bash
# Cross-builds mox32.exe and the unit tests for 64-bit Windows with MinGW-w64
# into the given directory (default: build-win32), installing what a fresh
# Debian machine lacks: the MinGW-w64 compilers, GoogleTest's source (no
# distribution packages it for MinGW: the build compiles it) and Wine, which
# the build already needs to list the unit tests.
#
#   tools/build-win32.sh [--test] [builddir]
#
# With --test the unit tests then run under Wine (tools/wine-run.sh, in a
# prefix of their own) and that prefix's wineserver is stopped at the end.
# Build logs go to standard error.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
test=0
if [ "${1:-}" = "--test" ]; then
    test=1
    shift
fi
build=${1:-$top/build-win32}

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v wine >/dev/null 2>&1 || need+=(wine)
command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}" >&2
    if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >&2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" >&2
fi
cmake --build "$build" -j"$(nproc)" >&2

if [ "$test" = 1 ]; then
    status=0
    (cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 300) || status=$?
    "$top/tools/wine-run.sh" --stop
    exit "$status"
fi
