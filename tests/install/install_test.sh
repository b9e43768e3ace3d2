# Installs the build into a staging directory (DESTDIR) under a prefix of
# its own and checks what landed there. Usage: install_test.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
build=$1
root=$scratch/root
prefix=/opt/mox32

DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; exit 1; }

# Catches test programs, or files outside the prefix, being installed,
# and the package's lintian overrides landing in a plain install.
expect "installed files" "./opt/mox32/bin/mox32
./opt/mox32/share/bash-completion/completions/mox32
./opt/mox32/share/doc/mox32/README.md
./opt/mox32/share/doc/mox32/changelog.gz
./opt/mox32/share/doc/mox32/copyright
./opt/mox32/share/man/man1/mox32.1.gz" "$(cd "$root" && find . ! -type d | sort)"

share=$root$prefix/share
cmp -s "$top/README.md" "$share/doc/mox32/README.md" || fail "README.md differs from the source"
cmp -s "$top/completion/mox32.bash" "$share/bash-completion/completions/mox32" ||
    fail "the bash completion differs from the source"
# The licence, whole, in the copyright file.
sed -n 's/^ //; s/^\.$//; /^MIT License$/,$p' "$share/doc/mox32/copyright" |
    cmp -s "$top/LICENSE" - || fail "the copyright file does not hold the licence"
zcat "$share/man/man1/mox32.1.gz" | cmp -s "$top/doc/mox32.1" - ||
    fail "mox32.1.gz is not the manual page"
# man finds the page where it was put.
expect "man lookup" "$share/man/man1/mox32.1.gz" "$(man -M "$share/man" -w mox32 2>&1)"
check_runs "$root$prefix/bin"
finish
