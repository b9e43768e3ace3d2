#!/usr/bin/env bash
# Builds mox32 and its tests when needed and runs the whole test suite.
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

if [ "$sanitize" = 1 ]; then
    build=$top/build-san
    part "Linux build (sanitizers)" "$top/tools/setup.sh" "$build" -DMOX32_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    part "Linux suite (sanitizers)" in_dir "$build" ctest --output-on-failure -j"$jobs" --timeout 300
    exit $failed
fi

build=$top/build
win32_build=$top/build-win32
part "Linux build" "$top/tools/setup.sh" "$build"
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
