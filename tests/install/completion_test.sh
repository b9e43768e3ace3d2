# The bash completion: the options it offers for what was typed so far.
# Usage: completion_test.sh COMPLETION_FILE
source "$(dirname "$0")/common.sh"
source "$1"

# offered WORD...: what completing the last word offers, space-separated
# ("" when the shell is left to complete file names).
offered() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _mox32
    echo "${COMPREPLY[*]}"
}

# Each line guards a slip: an option missing or misspelt, a letter typed in
# lower case matching nothing, the first-argument-only forms offered later,
# options offered for a path after "--" or for a plain name.
while IFS='|' read -r words want; do
    read -ra argv <<<"$words"
    [ "$words" != "${words% }" ] && argv+=("")
    expect "completing [$words]" "$want" "$(offered "${argv[@]}")"
done <<'EOF'
mox32 /s|/S /S+ /S-
mox32 x /DE|/DEL /DEL! /DEL+
mox32 x -m|-M -M+ -M! -M-
mox32 -v|-V -V+ -V- -ver
mox32 x -v|-V -V+ -V-
mox32 /c|/C /C- /CHECK
mox32 x /c|/C /C-
mox32 --|-- --null --help --version
mox32 x --|-- --null
mox32 --n|--null
mox32 /q|
mox32 /S -- /s|
mox32 /S -- /tmp|
mox32 /S docs|
mox32 x |
EOF
# "?" is an option, not a pattern: completed in a directory holding the
# one-letter files x and y, "/" used to offer /x and /y among the options.
mkdir -p "$scratch/oneletter"
touch "$scratch/oneletter/x" "$scratch/oneletter/y"
got=" $(cd "$scratch/oneletter" && offered mox32 /) "
[[ $got == *" /? "* ]] || fail "no /? offered:$got"
[[ $got != *" /x "* && $got != *" /y "* ]] || fail "file names offered as options:$got"
finish
