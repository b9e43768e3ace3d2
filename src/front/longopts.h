// The long options, in GNU spelling ("--name" or "--name=value"). One
// table serves the parser, the usage text and the manual's check, so an
// option cannot be accepted without being shown, or shown without being
// accepted.
#pragma once

struct LongOpt {
    const char *name;  // without its "--"
    const char *value; // what follows "=" in the usage text; null: takes none
    int first;         // 1: only as the first argument, where it prints and ends the run
    // Sets what the option stands for from the text after "=" (null when
    // it takes none): -1, or the offset in that text of what is wrong.
    int (*set)(const char *value);
    const char *help; // its line in the usage text
};

extern const LongOpt longopts[];

// The entry for an argument that begins with "--" (its "=value" aside), or
// null when there is none.
const LongOpt *findlongopt(const char *arg);

// Takes a long option given among the others (not a first-only one): 0, or
// the offset in arg of the character the caret goes under.
int takelongopt(const char *arg);
