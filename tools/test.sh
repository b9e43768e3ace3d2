#!/usr/bin/env bash
# Builds mox32 and its tests when needed and runs the whole test suite.
# With --sanitize, builds into build-san with AddressSanitizer and
# UndefinedBehaviorSanitizer instead.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "${1:-}" = "--sanitize" ]; then
    build=$top/build-san
    "$top/tools/setup.sh" "$build" -DMOX32_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
    build=$top/build
    "$top/tools/setup.sh" "$build"
fi
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 300
