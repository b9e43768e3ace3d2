# The manual page renders without a warning, man-db finds its NAME line,
# and every option of the usage text has an entry of its own.
# Usage: manual_test.sh PAGE MOX32
source "$(dirname "$0")/common.sh"
page=$1
tool=$2

expect "groff warnings" "" "$(groff -ww -z -man "$page" 2>&1)"
expect "NAME line" "$page: \"mox32 - copy, update, move, rename and delete files by path, wildcard, tree or list\"" \
    "$(lexgrog "$page" 2>&1)"

# Catches an option that the usage text offers and the manual leaves out.
"$tool" 2>"$scratch/usage" >/dev/null
options=$(grep -oE '(/[A-Z]+[!+-]?|=\?|--[a-z]+):' "$scratch/usage" | tr -d :)
[ -n "$options" ] || fail "no options found in the usage text"
entries=$(sed -n 's/\\-/-/g; s/^\.BI\{0,1\} \([^ ]*\).*/\1/p' "$page")
for opt in $options; do
    grep -qxF -e "$opt" <<<"$entries" || fail "no entry for $opt"
done
# The examples run as written with the default drive map (C: the home
# directory, Z: the root); the first used to fail at once on its drive D.
# Each runs in echo mode (/E is added), so that nothing outside the
# scratch home is touched, and must end without an error. One that maps
# drives of its own says so in its own line and is left out.
home=$scratch/home
mkdir -p "$scratch/bin" "$home"/{work,photos,camera,project/sub,downloads,archive,src/build,inbox}
ln -s "$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")" "$scratch/bin/mox32"
for f in work/a.txt photos/a.jpg camera/a.jpg project/sub/a.log downloads/a.txt archive/a.txt \
    src/a.c src/build/a.o inbox/a.pdf; do
    echo x >"$home/$f"
done
examples=$(sed -n '/^\.SH EXAMPLES/,/^\.SH/{/^\.nf/,/^\.fi/{s/^\.B "\(.*\)"$/.B \1/; s/^\.B //p}}' "$page" |
    sed 's/\\e/\\/g; s/\\-/-/g' | sed -e ':a' -e '/|$/{N; s/\n */ /; ba' -e '}')
[ "$(grep -c 'mox32 ' <<<"$examples")" -ge 10 ] || fail "too few examples found: $examples"
while IFS= read -r example; do
    case $example in *MOX32_DRIVES=*) continue ;; esac
    run=${example/mox32 /mox32 /E }
    status=0
    (cd "$home" && env -i PATH="$scratch/bin:/usr/bin:/bin" HOME="$home" LANG=C.UTF-8 \
        bash -c "$run" </dev/null) >"$scratch/out" 2>&1 || status=$?
    [ "$status" = 0 ] && ! grep -q '^Error!' "$scratch/out" ||
        fail "the example [$example] ends with status $status: $(cat "$scratch/out")"
done <<<"$examples"
finish
