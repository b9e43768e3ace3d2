#!/usr/bin/env bash
# Compares mox32 with cp, rsync and find on one generated tree, in one run,
# and reports each as a ratio to the reference tool. Not part of the test
# suite: timings depend on the machine, ratios much less.
#
#   bench/compare.sh [files] [dirs]      (defaults: 20000 files in 400 dirs)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
files=${1:-20000}
dirs=${2:-400}
"$top/tools/setup.sh" "$top/build" >/dev/null 2>&1
command -v rsync >/dev/null || { apt-get install -y -qq rsync >/dev/null 2>&1 || true; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/c/src" "$work/d"
echo "making $files files in $dirs directories under $work" >&2
python3 - "$work/c/src" "$files" "$dirs" <<'PY'
import os, sys, random
root, files, dirs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(1)
paths = [root]
for i in range(dirs):
    p = os.path.join(random.choice(paths), "dir%03d" % i)
    os.makedirs(p, exist_ok=True)
    paths.append(p)
for i in range(files):
    size = random.choice([0, 100, 1000, 4000, 16000, 70000])
    with open(os.path.join(random.choice(paths), "file%05d.dat" % i), "wb") as f:
        f.write(os.urandom(size))
PY
sync

export MOX32_DRIVES="C=$work/c;D=$work/d"
mox() { (cd "$work/c" && "$top/build/mox32" "$@"); }

# Seconds taken by a command, best of three, caches warm.
best() {
    local bestt=""
    for _ in 1 2 3; do
        "$@" pre >/dev/null 2>&1 || true
        local t0 t1
        t0=$(date +%s.%N)
        "$@" run >/dev/null 2>&1
        t1=$(date +%s.%N)
        local t
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$bestt" ] || [ "$(echo "$t < $bestt" | bc -l)" = 1 ]; then bestt=$t; fi
    done
    echo "$bestt"
}

cp_copy()    { [ "$1" = pre ] && { rm -rf "$work/d/cp"; return; }; cp -a "$work/c/src" "$work/d/cp"; }
rsync_copy() { [ "$1" = pre ] && { rm -rf "$work/d/rs"; return; }; rsync -a "$work/c/src/" "$work/d/rs/"; }
mox_copy()   { [ "$1" = pre ] && { rm -rf "$work/d/mx"; return; }; mox /S 'C:\src' 'D:\mx'; }
rsync_same() { [ "$1" = pre ] && return; rsync -a "$work/c/src/" "$work/d/rs/"; }
mox_update() { [ "$1" = pre ] && return; mox /S /U 'C:\src' 'D:\mx'; }
find_walk()  { [ "$1" = pre ] && return; find "$work/c/src" -type f -printf '%p %s %T@\n'; }
mox_walk()   { [ "$1" = pre ] && return; mox /S /E 'C:\src' 'D:\walk'; }

report() {
    printf '%-34s %8.3f s   %8.3f s   x%.2f\n' "$1" "$2" "$3" "$(echo "$3 / $2" | bc -l)"
}

tcp=$(best cp_copy); trs=$(best rsync_copy); tmx=$(best mox_copy)
diff -r "$work/c/src" "$work/d/mx" >/dev/null && echo "copy verified with diff -r" >&2
trs2=$(best rsync_same); tmx2=$(best mox_update)
tfind=$(best find_walk); twalk=$(best mox_walk)

printf '%-34s %10s   %10s   %s\n' "task ($files files)" "reference" "mox32" "ratio"
report "full copy vs cp -a" "$tcp" "$tmx"
report "full copy vs rsync -a" "$trs" "$tmx"
report "nothing to do: /U vs rsync -a" "$trs2" "$tmx2"
report "walk: /E /S vs find -printf" "$tfind" "$twalk"
