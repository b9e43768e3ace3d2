#!/usr/bin/env bash
# Runs a Win32 build of mox32 under Wine so that, seen from outside, it
# behaves as the Linux build does in a UTF-8 locale: the end-to-end harness
# starts this script in place of the Linux binary.
#
#   run.sh EXE [ARG...]   runs EXE with the arguments; the exit status is EXE's
#   run.sh --start        prepares the Wine prefix (done by every run too)
#   run.sh --stop         stops the Wine servers this directory started and
#                         removes the per-run prefixes (the template stays)
#
# Each run
# - takes a prefix of its own from a pool below $MOX32_WINE_DIR (default: a
#   directory in /tmp for this user), holding its lock for the run, so that
#   runs in parallel never share a drive map; a new prefix is a copy of the
#   registry of one template made once with wineboot, its drive C shared;
# - maps the drives of MOX32_DRIVES ("D=/dir;E=/dir") as the prefix's
#   dosdevices links (drive C is Wine's own and cannot be mapped; without
#   MOX32_DRIVES, Z: is / as Wine has it), and the directory TEMP names as
#   T:, which the template's registry gives Windows programs as TEMP and TMP;
# - keeps one persistent wineserver per prefix, started with no standard
#   stream of ours, so that nothing it starts holds the caller's pipes open;
# - runs EXE with LANG=ja_JP.UTF-8, under which Wine's ANSI code page is 932
#   and the arguments (UTF-8) reach the program as the characters they are;
# - converts the program's standard output and error (code page 932 with the
#   core's escape pairs, CRLF) into UTF-8 with LF, and a piped or redirected
#   standard input the other way, with mox32-textconv ($MOX32_TEXTCONV, else
#   found in PATH); a terminal is left as it is: Wine talks to it itself.
set -uo pipefail

die() {
    echo "wine/run.sh: $*" >&2
    exit 125
}

uid=$(id -u)
base=${MOX32_WINE_DIR:-/tmp/mox32-e2e-wine-$uid}
server_linger=300 # seconds a server outlives its last program, should --stop never come
# Wine keeps its server socket below TMPDIR: one fixed place, whatever the
# caller's TMPDIR, or every run would start a server of its own.
wine_tmp=/tmp

wine_env() {
    export WINEPREFIX=$1 WINEDEBUG=-all TMPDIR=$wine_tmp
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
}

template_dir() {
    local version
    version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _) || die "wine is not installed"
    echo "$base/template-$version"
}

# The template prefix, made once under a lock: wineboot, then TEMP and TMP
# pointed at T:, then the server stopped so that the registry is on disk.
make_template() {
    local tmpl=$1 lock
    mkdir -p "$base" || die "cannot make $base"
    exec {lock}>"$base/template.lock"
    flock "$lock" || die "cannot lock $base/template.lock"
    if [ ! -f "$tmpl/.ready" ]; then
        locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' ||
            die "the locale ja_JP.UTF-8 is missing: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"
        rm -rf "$tmpl" "$base/home"
        mkdir -p "$base/home"
        (
            wine_env "$tmpl"
            export HOME=$base/home
            exec </dev/null >/dev/null 2>&1 {lock}>&-
            wine wineboot --init &&
                wine reg add 'HKCU\Environment' /v TEMP /t REG_SZ /d 'T:\' /f &&
                wine reg add 'HKCU\Environment' /v TMP /t REG_SZ /d 'T:\' /f &&
                wineserver -w
        ) || die "cannot make the Wine prefix $tmpl"
        grep -q '"TEMP"="T:\\\\"' "$tmpl/user.reg" || die "TEMP did not reach $tmpl/user.reg"
        touch "$tmpl/.ready"
    fi
    exec {lock}>&-
}

# A prefix of the pool: its registry copied from the template, drive C the
# template's.
make_slot() {
    local tmpl=$1 slot=$2
    [ -f "$slot/.ready" ] && return 0
    rm -rf "$slot"
    mkdir -p "$slot/dosdevices" &&
        cp -p "$tmpl"/*.reg "$tmpl/.update-timestamp" "$slot/" &&
        ln -s "$tmpl/drive_c" "$slot/drive_c" &&
        ln -s ../drive_c "$slot/dosdevices/c:" &&
        touch "$slot/.ready" || die "cannot make the Wine prefix $slot"
}

# Takes the first prefix of the pool that no other run holds; its lock stays
# on descriptor $slot_lock until this script ends.
take_slot() {
    local tmpl=$1 i
    for ((i = 0; i < 64; i++)); do
        exec {slot_lock}>"$base/slot$i.lock"
        if flock -n "$slot_lock"; then
            slot=$base/slot$i
            make_slot "$tmpl" "$slot"
            return 0
        fi
        exec {slot_lock}>&-
    done
    die "every Wine prefix in $base is busy"
}

# The drive links of this run: every letter but C is taken away, then
# MOX32_DRIVES and TEMP are mapped.
map_drives() {
    local dev=$slot/dosdevices entry letter dir
    for entry in "$dev"/?:; do
        [ "$entry" = "$dev/c:" ] || [ ! -L "$entry" ] || rm -f "$entry"
    done
    if [ -z "${MOX32_DRIVES:-}" ]; then
        ln -s / "$dev/z:"
    else
        local IFS=';'
        for entry in $MOX32_DRIVES; do
            entry=${entry#"${entry%%[![:space:]]*}"}
            [ -n "$entry" ] || continue
            letter=${entry%%=*}
            dir=${entry#*=}
            [[ $letter =~ ^[A-Za-z]$ && $dir == /* ]] || die "not a drive entry: $entry"
            letter=${letter,,}
            [ "$letter" != c ] || die "drive C is Wine's own: map the sandbox to other letters"
            [ "$letter" != t ] || die "drive T holds TEMP under Wine"
            ln -sfn "$dir" "$dev/$letter:"
        done
    fi
    if [[ ${TEMP:-} == /* ]]; then
        ln -sfn "$TEMP" "$dev/t:"
    fi
}

# Starts the prefix's persistent server unless it runs; a new one gets its
# services started by a program of no consequence, with no stream of ours.
warm_server() {
    (
        wine_env "$slot"
        exec </dev/null >/dev/null 2>&1 {slot_lock}>&-
        wineserver -p"$server_linger" && wine cmd /c exit
        exit 0
    )
}

stop_all() {
    local prefix
    [ -d "$base" ] || return 0
    for prefix in "$base"/slot*/; do
        [ -d "$prefix" ] || continue
        (wine_env "${prefix%/}" && wineserver -k) >/dev/null 2>&1
        rm -rf "${prefix%/}"
    done
    rm -f "$base"/slot*.lock
    return 0
}

textconv() {
    if [ -n "${MOX32_TEXTCONV:-}" ]; then
        echo "$MOX32_TEXTCONV"
    else
        command -v mox32-textconv || die "mox32-textconv not found: set MOX32_TEXTCONV"
    fi
}

case ${1:-} in
--start)
    make_template "$(template_dir)"
    exit 0
    ;;
--stop)
    stop_all
    exit 0
    ;;
"" | -*)
    echo "usage: run.sh EXE [ARG...] | --start | --stop" >&2
    exit 2
    ;;
esac

exe=$1
shift
[ -f "$exe" ] || die "no such program: $exe"
conv=$(textconv) || exit 125
tmpl=$(template_dir) || exit 125
make_template "$tmpl"
take_slot "$tmpl"
map_drives
warm_server
wine_env "$slot"

# Standard output and error through the converter unless they are the
# terminal; the converters are waited for, so that all output is out when
# this script ends.
pids=()
if [ ! -t 1 ] && [ -e /dev/fd/1 ]; then
    exec {out}> >(exec {slot_lock}>&-; exec "$conv" --from-cp932)
    pids+=($!)
else
    exec {out}>&1
fi
if [ ! -t 2 ] && [ -e /dev/fd/2 ]; then
    exec {err}> >(exec {slot_lock}>&- {out}>&-; exec "$conv" --from-cp932 >&2)
    pids+=($!)
else
    exec {err}>&2
fi
if [ -p /dev/stdin ] || [ -f /dev/stdin ]; then
    wine "$exe" "$@" < <(exec {slot_lock}>&- {out}>&- {err}>&-; exec "$conv" --to-cp932 2>/dev/null) \
        >&"$out" 2>&"$err" {out}>&- {err}>&- {slot_lock}>&-
else
    wine "$exe" "$@" >&"$out" 2>&"$err" {out}>&- {err}>&- {slot_lock}>&-
fi
status=$?
exec {out}>&- {err}>&-
for pid in "${pids[@]}"; do
    wait "$pid"
done
exit $status
