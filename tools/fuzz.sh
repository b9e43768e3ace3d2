#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz and runs each in turn for the
# given number of seconds (default 20), installing clang and libFuzzer when a
# fresh Debian machine lacks them. Each target runs on a scratch copy of its
# seed corpus, so the committed corpus never changes; an input that makes a
# target fail is kept in build-fuzz/crashes and the script exits 1.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-20}
build=$top/build-fuzz

if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
install() {
    echo "installing: $*" >&2
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >&2
}
command -v clang++ >/dev/null 2>&1 || install clang
# libFuzzer ships apart from the compiler: try to link a fuzz target.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
    install libclang-rt-dev
fi

"$top/tools/setup.sh" "$build" -DMOX32_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
mkdir -p "$build/crashes"
for corpus in "$top"/tests/fuzz/corpus/*/; do
    target=$(basename "$corpus")
    work=$(mktemp -d)
    cp -r "$corpus" "$work/corpus"
    echo "fuzz_$target: $seconds s" >&2
    # The targets make their sandbox below TMPDIR: whatever a crash leaves
    # goes with the scratch directory.
    if ! TMPDIR=$work "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target-" "$work/corpus" 2>"$work/log"; then
        tail -n 60 "$work/log" >&2
        echo "fuzz_$target FAILED; input kept in $build/crashes" >&2
        status=1
    else
        grep -E '^Done|stat::number_of_executed_units' "$work/log" >&2 || true
    fi
    rm -rf "$work"
done
exit $status
