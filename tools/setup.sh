#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test mox32, then
# configures and builds into the given directory (default: build).
# Build logs go to standard error so that the tool's own output stays clean.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
shift || true

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
command -v localedef >/dev/null 2>&1 || need+=(locales)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
[ -f /usr/include/glib-2.0/gio/gio.h ] || need+=(libglib2.0-dev)
command -v gio >/dev/null 2>&1 || need+=(libglib2.0-bin)
command -v trash-list >/dev/null 2>&1 || need+=(trash-cli) # the tests list the recycle bin with it
command -v strace >/dev/null 2>&1 || need+=(strace) # the tests slow a copy down with it
# The manual page, install and package tests: groff checks the page, man-db
# reads its NAME line, CPack's Debian generator needs file and dpkg-shlibdeps.
command -v groff >/dev/null 2>&1 || need+=(groff-base)
command -v lexgrog >/dev/null 2>&1 || need+=(man-db)
command -v file >/dev/null 2>&1 || need+=(file)
command -v dpkg-shlibdeps >/dev/null 2>&1 || need+=(dpkg-dev)
[ -f /usr/share/zoneinfo/Europe/Berlin ] || need+=(tzdata) # the tests copy times in other zones
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}" >&2
    if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >&2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" "$@" >&2
fi
# MOX32_TARGET narrows the build (the run command needs only the tool).
cmake --build "$build" -j"$(nproc)" ${MOX32_TARGET:+--target "$MOX32_TARGET"} >&2
