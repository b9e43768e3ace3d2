# Configures the source tree the way a packager or a user who only wants
# the tool does, in scratch build trees, and checks what that gives.
# Usage: build_test.sh BUILD_DIR (the tree the suite was built in, whose
# tool stands in for one built in a scratch tree)
source "$(dirname "$0")/common.sh"
build=$1

# configure DIR [ARG...]: a tree without the tests, as if GoogleTest were
# not installed; its log in DIR.log.
configure() {
    local dir=$1
    shift
    cmake -S "$top" -B "$dir" -G "Unix Makefiles" -DBUILD_TESTING=OFF \
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON "$@" >"$dir.log" 2>&1
}

# Configuring asked for GoogleTest even with BUILD_TESTING off, and
# `cmake --install` after building only the tool failed for want of the
# compressed manual page. The tool is copied in as if it had been built.
if configure "$scratch/tool"; then
    cp "$build/mox32" "$scratch/tool/mox32"
    DESTDIR=$scratch/root cmake --install "$scratch/tool" --prefix /usr >"$scratch/install.log" 2>&1 ||
        fail "install after building only the tool: $(cat "$scratch/install.log")"
    expect "installed files" "./usr/bin/mox32
./usr/share/bash-completion/completions/mox32
./usr/share/doc/mox32/README.md
./usr/share/doc/mox32/changelog.gz
./usr/share/doc/mox32/copyright
./usr/share/man/man1/mox32.1.gz" "$(cd "$scratch/root" && find . ! -type d | sort)"
    grep -q unit_tests "$scratch/tool/Makefile" && fail "the tests are built with BUILD_TESTING off"
else
    fail "configuring without the tests: $(tail -n 20 "$scratch/tool.log")"
fi

# Two builds of one commit, in two places and at two moments, with
# SOURCE_DATE_EPOCH set when configuring: the stamp of the version line
# is that moment (the compile time made every build differ), and nothing
# of the build's own path enters an object (the file names of the
# location lines, the debugging data).
objects=(src/front/dialogue src/front/mox)
for tree in one two; do
    SOURCE_DATE_EPOCH=1076862451 configure "$scratch/$tree" ||
        { fail "configuring $tree: $(tail -n 20 "$scratch/$tree.log")"; continue; }
    make -C "$scratch/$tree" "${objects[@]/%/.o}" >"$scratch/make.log" 2>&1 ||
        fail "compiling in $tree: $(tail -n 20 "$scratch/make.log")"
    sleep 1
done
for obj in "${objects[@]}"; do
    a=$scratch/one/CMakeFiles/moxcore.dir/$obj.cpp.o
    b=$scratch/two/CMakeFiles/moxcore.dir/$obj.cpp.o
    cmp -s "$a" "$b" || fail "$obj.o differs between two builds"
done
grep -qaF '$ compiled at Feb 15 2004 16:27:31 $' \
    "$scratch/one/CMakeFiles/moxcore.dir/src/front/dialogue.cpp.o" ||
    fail "no stamp of SOURCE_DATE_EPOCH in the version line"
finish
