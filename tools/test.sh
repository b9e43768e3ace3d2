#!/usr/bin/env bash
# Builds mox32 and its tests when needed and runs the whole test suite,
# installing first what a fresh Debian machine lacks for the tests (the
# build's own needs are tools/setup.sh's).
#
#   tools/test.sh              the Linux build's suite; and where the Win32
#                              build can be made (tools/build-win32.sh), that
#                              build too: its unit tests under Wine and the
#                              end-to-end suite run against it, while the
#                              Linux suite checks both builds for parity
#   tools/test.sh --no-win32   the Linux build's suite alone
#   tools/test.sh --sanitize   the Linux suite built into build-san with
#                              AddressSanitizer and UndefinedBehaviorSanitizer
#
# Every suite runs even when one before it failed; the status is 1 when any
# did. Each part's time goes to standard error. The Wine servers started
# here are stopped at the end, and no other.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitize=0
win32=1
for arg in "$@"; do
    case $arg in
    --sanitize) sanitize=1 win32=0 ;;
    --no-win32) win32=0 ;;
    *)
        echo "usage: tools/test.sh [--sanitize | --no-win32]" >&2
        exit 2
        ;;
    esac
done
if [ "$win32" = 1 ] && [ ! -x "$top/tools/build-win32.sh" ]; then
    echo "test.sh: no tools/build-win32.sh here: the Linux build alone" >&2
    win32=0
fi
if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
jobs=$(nproc)
failed=0

# part NAME COMMAND...: runs a part, saying how long it took; a failure is
# remembered, not fatal.
part() {
    local name=$1 start=$SECONDS
    shift
    if ! "$@"; then
        echo "test.sh: $name FAILED" >&2
        failed=1
    fi
    echo "test.sh: $name: $((SECONDS - start)) s" >&2
}

# What only the tests use, each for what it checks.
test_needs() {
    local need=()
    [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
    [ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev) # GoogleTest's CMake package names it
    # Japanese locales (a Shift_JIS one made on the fly, ja_JP.UTF-8 for
    # Wine): localedef comes with the C library, its sources do not.
    [ -f /usr/share/i18n/locales/ja_JP ] || need+=(locales)
    [ -f /usr/share/zoneinfo/Europe/Berlin ] || need+=(tzdata) # times copied in other zones
    command -v gio >/dev/null 2>&1 || need+=(libglib2.0-bin)    # lists the recycle bin
    command -v trash-list >/dev/null 2>&1 || need+=(trash-cli) # lists the recycle bin
    command -v strace >/dev/null 2>&1 || need+=(strace)        # slows a copy down
    # The manual page, install and package tests: groff checks the page,
    # man-db reads its NAME line, CPack's Debian generator needs file and
    # dpkg-shlibdeps, lintian checks the package.
    command -v groff >/dev/null 2>&1 || need+=(groff-base)
    command -v lexgrog >/dev/null 2>&1 || need+=(man-db)
    command -v file >/dev/null 2>&1 || need+=(file)
    command -v dpkg-shlibdeps >/dev/null 2>&1 || need+=(dpkg-dev)
    command -v lintian >/dev/null 2>&1 || need+=(lintian)
    # The file system test bed (tests/fs): images, FUSE file systems and
    # an sshd of its own for sshfs.
    command -v mkfs.vfat >/dev/null 2>&1 || need+=(dosfstools)
    command -v mkfs.xfs >/dev/null 2>&1 || need+=(xfsprogs)
    command -v mkfs.btrfs >/dev/null 2>&1 || need+=(btrfs-progs)
    command -v fusefat >/dev/null 2>&1 || need+=(fusefat)
    command -v sshfs >/dev/null 2>&1 || need+=(sshfs)
    [ -x /usr/sbin/sshd ] || need+=(openssh-server)
    command -v filefrag >/dev/null 2>&1 || need+=(e2fsprogs)
    if [ ${#need[@]} -gt 0 ]; then
        echo "installing: ${need[*]}" >&2
        $sudo apt-get update -qq >&2
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >&2
    fi
}

# Wine's ANSI code page is 932 only under a Japanese locale.
japanese_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && return 0
    echo "making the locale ja_JP.UTF-8" >&2
    $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

in_dir() {
    local dir=$1
    shift
    (cd "$dir" && "$@")
}

part "Test tools" test_needs
if [ "$sanitize" = 1 ]; then
    build=$top/build-san
    part "Linux build (sanitizers)" "$top/tools/setup.sh" "$build" -DBUILD_TESTING=ON \
        -DMOX32_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    part "Linux suite (sanitizers)" in_dir "$build" ctest --output-on-failure -j"$jobs" --timeout 300
    exit $failed
fi

build=$top/build
win32_build=$top/build-win32
# The run command may have made the tree without its tests.
part "Linux build" "$top/tools/setup.sh" "$build" -DBUILD_TESTING=ON
if [ "$win32" = 1 ]; then
    # The Win32 unit tests keep a Wine prefix of this tree's own, so that
    # stopping its server stops no one else's.
    export MOX32_WINEPREFIX=/tmp/mox32-unit-wine-$(id -u)-$(echo "$top" | sha1sum | cut -c1-12)
    trap '"$top/tools/wine-run.sh" --stop >/dev/null 2>&1 || true' EXIT
    part "Japanese locale" japanese_locale
    part "Win32 build" "$top/tools/build-win32.sh" "$win32_build"
fi
# With the Win32 build present, the Linux suite compares both.
export MOX32_E2E_EXE=$win32_build/mox32.exe
part "Linux suite" in_dir "$build" ctest --output-on-failure -j"$jobs" --timeout 300
if [ "$win32" = 1 ]; then
    # Wine's server and services start with no stream of CTest's: started
    # by a test, they would hold its output open until they end.
    "$top/tools/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
    part "Win32 unit tests" in_dir "$win32_build" ctest --output-on-failure -j"$jobs" --timeout 300
    # The runner's own tests and the parity check ran with the Linux suite.
    part "End-to-end suite on Win32" in_dir "$build" env MOX32_E2E_BIN="$win32_build/mox32.exe" \
        ctest --output-on-failure -j"$jobs" --timeout 300 -L e2e -E '^(WineRunner|Parity)\.'
fi
exit $failed
