# The run command (./mox32): it builds only when the tool is missing or a
# source changed since its last build, and a tree it makes itself leaves
# the tests out. It runs here in a copy of its own, whose set-up script
# only notes how it was called and makes a stand-in tool.
# Usage: runcmd_test.sh
source "$(dirname "$0")/common.sh"
copy=$scratch/top
mkdir -p "$copy/src/front" "$copy/cmake" "$copy/tools"
cp "$top/mox32" "$copy/mox32"
touch "$copy/CMakeLists.txt" "$copy/src/front/mox.cpp"
cat >"$copy/tools/setup.sh" <<'EOF'
#!/bin/sh
echo "setup $*" >>"$(dirname "$0")/../calls"
[ -f "$(dirname "$0")/../fail" ] && exit 1
mkdir -p "$1"
touch "$1/CMakeCache.txt"
printf '#!/bin/sh\necho "ran $*"\n' >"$1/mox32"
chmod +x "$1/mox32"
EOF
chmod +x "$copy/tools/setup.sh"

# run WHAT EXPECTED-OUTPUT EXPECTED-CALL: a run of the command with the
# arguments "a b", and the call of the set-up it made ("" for none).
run() {
    rm -f "$copy/calls"
    local out
    out=$(cd "$copy" && ./mox32 a b 2>&1) || true
    expect "$1: output" "$2" "$out"
    expect "$1: set-up" "$3" "$(cat "$copy/calls" 2>/dev/null || true)"
}

# Each step guards a run that built when nothing had changed (it cost
# 0.76 s before the tool started), one that missed a change, or a first
# build that wanted GoogleTest.
run "first run" "ran a b" "setup ./build -DBUILD_TESTING=OFF"
run "nothing changed" "ran a b" ""
touch "$copy/src/front/mox.cpp"
run "a source changed" "ran a b" "setup ./build"
run "nothing changed since" "ran a b" ""
sleep 0.01
touch "$copy/src/front/new.cpp"
run "a source added" "ran a b" "setup ./build"
touch "$copy/CMakeLists.txt" "$copy/fail"
run "a failed build" "" "setup ./build"
rm "$copy/fail"
run "after the failure" "ran a b" "setup ./build"
finish
