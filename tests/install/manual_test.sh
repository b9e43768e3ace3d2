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
options=$(grep -oE '(/[A-Z]+[!+-]?|=\?):' "$scratch/usage" | tr -d :)
[ -n "$options" ] || fail "no options found in the usage text"
entries=$(sed -n 's/\\-/-/g; s/^\.BI\{0,1\} \([^ ]*\).*/\1/p' "$page")
for opt in $options; do
    grep -qxF -e "$opt" <<<"$entries" || fail "no entry for $opt"
done
finish
