#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine, as CTest does for
# the Win32 unit tests: wine-run.sh program.exe [arguments].
#
# Wine keeps its state in a prefix: this one uses its own, MOX32_WINEPREFIX
# (default /tmp/mox32-wine-<uid>), made on first use, and never another.
# One wineserver is kept running for it between runs and stops by itself a
# minute after the last; `tools/wine-run.sh --stop` stops it at once.
# TMPDIR stays /tmp, where Wine looks for its server's socket.
set -euo pipefail
export WINEPREFIX=${MOX32_WINEPREFIX:-/tmp/mox32-wine-$(id -u)}
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winemenubuilder.exe=d
export TMPDIR=/tmp
if [ "${1:-}" = "--stop" ]; then
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
    exit 0
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Two tests may start at once: the first makes the prefix.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wine wineboot --init >/dev/null 2>&1
    exec 9>&-
fi
# Drive D of the unit tests: a scratch directory of the prefix (drive C is
# Wine's own and cannot be moved).
if [ ! -e "$WINEPREFIX/dosdevices/d:" ]; then
    mkdir -p "$WINEPREFIX/drive_d"
    ln -s ../drive_d "$WINEPREFIX/dosdevices/d:" 2>/dev/null || true
fi
# A server begun here, and the services Wine starts with its first program,
# would keep the caller's streams open after the program ends (a CTest
# discovery or test would then wait for them): both start with none.
if wineserver -p 60 </dev/null >/dev/null 2>&1; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
