#!/usr/bin/env bash
# Times mox32 against cp, rsync, find and mv on the same trees and prints
# the ratios, system calls and user-space instructions per file and peak
# memory, ending with a Markdown table for the README. Not part of the test
# suite: times depend on the machine, ratios and instructions much less.
#
#   bench/run.sh [--quick] [--only WORK[,WORK...]] [--runs N] [--timeout S] [--keep]
#
# Installs what a Debian machine lacks (rsync, strace, valgrind, time, python3),
# builds a Release mox32 into build-bench, then hands over to bench.py,
# which makes the trees in a new directory under $BENCH_DIR (default
# /var/tmp), times the tools in alternating runs and removes that
# directory at the end.
#
# Every timed run writes into a destination no run used before, and nothing
# is deleted until all runs are done: after a mass delete, a file system
# without a journal (ext2, and ext4 without one) delays reusing the freed
# inodes, which slowed the next run by up to ten times for either tool and
# pulled every ratio towards 1.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$top/build-bench

need=()
command -v rsync >/dev/null 2>&1 || need+=(rsync)
command -v strace >/dev/null 2>&1 || need+=(strace)
command -v valgrind >/dev/null 2>&1 || need+=(valgrind) # callgrind counts the instructions
command -v python3 >/dev/null 2>&1 || need+=(python3)
[ -x /usr/bin/time ] || need+=(time) # peak memory of each run
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}" >&2
    if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >&2
fi

# Options are checked before the build, which takes minutes on a fresh tree.
for arg in "$@"; do
    case $arg in -h|--help) exec python3 -B "$top/bench/bench.py" --help ;; esac
done
python3 -B "$top/bench/bench.py" --args-only "$@"

echo "building a Release mox32 in $build" >&2
mkdir -p "$build"
log=$build/bench-build.log
if ! MOX32_TARGET=mox32 "$top/tools/setup.sh" "$build" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF 2>"$log"; then
    cat "$log" >&2
    exit 1
fi
exec python3 -B -u "$top/bench/bench.py" --mox "$build/mox32" "$@"
