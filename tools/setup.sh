#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build mox32 (the tool
# alone: what only the tests need, tools/test.sh installs), then configures
# and builds into the given directory (default: build).
#
#   tools/setup.sh [builddir [cmake options...]]
#
# The cmake options are applied whenever they are given, to a new build
# tree or an existing one; a new tree made without any leaves the tests
# out (-DBUILD_TESTING=OFF), as nothing here installs GoogleTest.
# MOX32_TARGET narrows the build to one target.
# Build logs go to standard error so that the tool's own output stays clean.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
shift || true

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
# The recycle bin is reached through GIO.
[ -f /usr/include/glib-2.0/gio/gio.h ] || need+=(libglib2.0-dev)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}" >&2
    if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >&2
fi

if [ $# -gt 0 ]; then
    cmake -S "$top" -B "$build" "$@" >&2
elif [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DBUILD_TESTING=OFF >&2
fi
cmake --build "$build" -j"$(nproc)" ${MOX32_TARGET:+--target "$MOX32_TARGET"} >&2
