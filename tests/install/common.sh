# Shared by the install, package and manual page tests: a scratch directory
# removed on exit, checks that count failures, and a run of an installed
# mox32 the way a user would start it.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect WHAT EXPECTED ACTUAL
expect() {
    [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
}

# run_installed BINDIR [ARG...]: runs mox32 found through a PATH that holds
# BINDIR alone, from a directory of its own, with a clean environment.
# Leaves $status and the output in $scratch/out and $scratch/err.
run_installed() {
    local bindir=$1
    shift
    mkdir -p "$scratch/home"
    status=0
    (cd "$scratch/home" && env -i PATH="$bindir" HOME="$scratch/home" LANG=C.UTF-8 mox32 "$@") \
        >"$scratch/out" 2>"$scratch/err" || status=$?
}

# check_runs BINDIR: the installed tool starts, knows its own name, and
# copies a file.
check_runs() {
    local bindir=$1
    run_installed "$bindir"
    expect "usage status" 0 "$status"
    expect "usage line" "[Usage] mox32 [/opt] [=format] <srcpath|@filelist> [[skipmask]] [dstdir]" \
        "$(sed -n 2p "$scratch/err")"
    run_installed "$bindir" -ver
    expect "version status" 0 "$status"
    grep -qxE 'mox32 v2\.18β4 \(WIN32\) \$ compiled at .+ \$' "$scratch/out" ||
        fail "no version line in: $(cat "$scratch/out")"
    echo data >"$scratch/home/a.txt"
    run_installed "$bindir" a.txt copied
    expect "copy status" 0 "$status"
    expect "copied file" data "$(cat "$scratch/home/copied/a.txt" 2>/dev/null || true)"
}
