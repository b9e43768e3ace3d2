# Builds the Debian package with CPack into a scratch directory and checks
# its contents, its control fields and that the packaged tool runs.
# Usage: deb_test.sh BUILD_DIR
source "$(dirname "$0")/common.sh"
build=$1

(cd "$build" && cpack -G DEB -B "$scratch/pkg") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; exit 1; }
debs=("$scratch"/pkg/mox32_*.deb)
expect "package file" "$scratch/pkg/mox32_0.9.0_$(dpkg --print-architecture).deb" "${debs[*]}"
deb=${debs[0]}

# Catches test programs being packaged, or the manual, README, licence,
# changelog, completion or lintian's overrides missing.
expect "packaged files" "./usr/bin/mox32
./usr/share/bash-completion/completions/mox32
./usr/share/doc/mox32/README.md
./usr/share/doc/mox32/changelog.gz
./usr/share/doc/mox32/copyright
./usr/share/lintian/overrides/mox32
./usr/share/man/man1/mox32.1.gz" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"

field() { dpkg-deb -f "$deb" "$1"; }
expect "Package" mox32 "$(field Package)"
expect "Version" 0.9.0 "$(field Version)"
expect "Section" utils "$(field Section)"
[ -n "$(field Description)" ] || fail "no Description"
# The package's own address unless the build was told another.
maintainer=$(sed -n 's/^MOX32_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")
expect "Maintainer" "$maintainer" "$(field Maintainer)"
case $maintainer in
*@localhost* | *@example.* | *.localdomain*) fail "a Maintainer that no mail reaches: $maintainer" ;;
esac
# The recycle bin needs GLib at run time, the tool the C++ runtime.
depends=$(field Depends)
for lib in 'libglib2\.0-0(t64)?' 'libstdc\+\+6' 'libc6'; do
    echo "$depends" | grep -qE "(^|, )$lib( |,|$)" || fail "Depends lacks $lib: $depends"
done

dpkg-deb -x "$deb" "$scratch/x"
check_runs "$scratch/x/usr/bin"

# Debian's own checks, every tag down to the pedantic and informational
# ones (a bogus address, a missing changelog or copyright file, a binary
# built without hardening), where lintian is installed.
if command -v lintian >/dev/null 2>&1; then
    lintian --pedantic --display-info "$deb" >"$scratch/lintian" 2>&1 || true
    # As root it says so first; that is no finding.
    expect "lintian" "" "$(grep -v '^running with root privileges' "$scratch/lintian")"
else
    echo "lintian is not installed: the package is not checked with it" >&2
fi
finish
