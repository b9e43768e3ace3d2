# bash completion for mox32: its options, and file names everywhere else.
#
# A word that begins with "/" or "-" is an option until "--" has been
# given; after that every word is a path, and one that begins with "/" is
# a native one, so file names complete there as anywhere.

_mox32() {
    local cur=${COMP_WORDS[COMP_CWORD]} i
    for ((i = 1; i < COMP_CWORD; i++)); do
        # Past the end of the options: the shell's own file completion.
        [[ ${COMP_WORDS[i]} == -- ]] && return 0
    done
    case $cur in
    /* | -*) ;;
    *) return 0 ;;
    esac
    # The letters are read in either case; the forms offered are the
    # upper-case ones of the usage text, with the prefix the user typed.
    # Arrays, never a word list split by the shell: "?" would be a pattern
    # and offer the one-letter file names of the current directory.
    local opts=(A A- B B- C C- D DEL DEL! DEL+ E E- F F- G G+ G- I I- L L+ L- M M+ M! M- N N- O O- S S+ S- U U- V V+ V- Y Y- Z)
    # What counts only as the first argument.
    ((COMP_CWORD == 1)) && opts+=(CHECK ver '?')
    local prefix=${cur:0:1} word words=()
    for word in "${opts[@]}"; do
        words+=("$prefix$word")
    done
    [[ $prefix == - ]] && words+=(-- --null)
    [[ $prefix == - ]] && ((COMP_CWORD == 1)) && words+=(--help --version)
    local upper=${cur^^}
    COMPREPLY=()
    for word in "${words[@]}"; do
        [[ ${word^^} == "$upper"* ]] && COMPREPLY+=("$word")
    done
    # An option is not a file name: no file names in its place, even when
    # none of the options fits.
    compopt +o default +o bashdefault 2>/dev/null
    return 0
}

complete -F _mox32 -o bashdefault -o default mox32
