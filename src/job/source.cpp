// The source of a run: the argument turned into a base directory, a
// pattern searched below it and the kind of source it is.
#include <cstring>

#include "job/moxsub.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"

int isLFNmode;

// 1 when the argument ends in its own "\" or ":", naming a directory
// outright. A final 0x5C that is the second byte of a character such as
// 0x95 0x5C ends a name, not a separator.
static int namesdir(const char *arg) {
    int len = (int)std::strlen(arg);
    if (len == 0 || mbtype(arg, len - 1) != 0)
        return 0;
    return arg[len - 1] == '\\' || arg[len - 1] == ':';
}

// NAME. is kept as a pattern and never looked up; a lone "." is the
// current directory and is looked up like any name.
static int endsindot(const char *arg) {
    size_t len = std::strlen(arg);
    return len > 1 && arg[len - 1] == '.';
}

static void setdirsource(PARAM *param) {
    std::strcpy(param->srcmask, "*.*");
    param->srctype = SRCTYPE_MULTI;
}

// The final component of srcbasedir becomes the pattern and the base is
// cut just after the separator before it (C:\FOO.TXT keeps C:\).
static void setnamesource(PARAM *param, char *lastsep, int multi) {
    std::strcpy(param->srcmask, lastsep + 1);
    lastsep[1] = 0;
    param->srctype = SRCTYPE_NAME | (multi ? SRCTYPE_MULTI : 0);
}

// An argument with no trailing separator: the final component decides
// whether it is a pattern, a file, a directory or a name searched for in
// the whole tree.
static int classify(char *arg, PARAM *param) {
    char *base = param->srcbasedir;
    // ".", ".." or C:. can land on a drive root, which has no final
    // component to take as a pattern: the root itself is the source.
    if (isroot(base)) {
        setdirsource(param);
        return 0;
    }
    char *lastsep = mbstrrchr(base, '\\');
    if (lastsep == nullptr) {
        outf("Error! path expand failed. %s\n", arg);
        return -1;
    }
    int wild = iswild(arg);
    if (wild || endsindot(arg)) {
        setnamesource(param, lastsep, wild);
        return 0;
    }
    unsigned attrib;
    if (getattr(base, &attrib) == 0) {
        if (attrib & PLAT_ATTR_DIRECTORY)
            setdirsource(param);
        else
            setnamesource(param, lastsep, 0);
        return 0;
    }
    if (opt_structure != 1 && opt_gather != 1) {
        outf("Error! path not found: %s\n", arg);
        return -1;
    }
    setnamesource(param, lastsep, 0);
    return 0;
}

// A link to a directory named as the source of a delete or a move would
// take the walk into the tree it points to, whose files are not the ones
// the user named: it is refused. Copying through it reads only. A
// directory keeps the identity this look saw, which the walk holds it to.
static int linksource(PARAM *param) {
    param->srcbaseid = PlatFileId{};
    PlatEntry seen;
    if (!(param->srctype & SRCTYPE_DIR) ||
        runfs->findone(param->srcbasedir, PLAT_ATTR_DIRECTORY | PLAT_ATTR_NOMARKS, &seen) != 1)
        return 0;
    if (!(seen.attrib & PLAT_ATTR_REPARSE)) {
        param->srcbaseid = seen.id;
        return 0;
    }
    if (!deletemode() && opt_move != 1)
        return 0;
    outf("Error! source is a link: %s\n", param->srcbasedir);
    return 1;
}

int expandsrc(char *arg, PARAM *param) {
    // An empty argument (an unset variable in a script) would expand to the
    // current directory: a delete of everything nobody asked for.
    if (arg[0] == '\0') {
        outf("Error! path expand failed. %s\n", arg);
        return -1;
    }
    int dirarg = namesdir(arg);
    // On a Linux tree README.TXT and readme.txt may both exist: the name
    // is looked up as typed, so that the entry named exactly is the one
    // acted on. The argument itself is shown upper-cased, as always.
    char typed[PATH_SIZE], first[PATH_SIZE], second[PATH_SIZE];
    int copied = pathcopy(typed, PATH_SIZE, arg) == 0;
    mbstrupr(arg);
    int r = copied ? expandtyped(param->srcbasedir, typed, first, second) : -1;
    if (r < 0) {
        outf("Error! path expand failed. %s\n", arg);
        return -1;
    }
    if (r == 1) {
        outf("Error! %s and %s differ only in case\n", first, second);
        return -1;
    }
    if (dirarg) {
        unsigned attrib;
        if (getattr(param->srcbasedir, &attrib) != 0 || !(attrib & PLAT_ATTR_DIRECTORY)) {
            outf("Error! directory not found. %s\n", param->srcbasedir);
            return -1;
        }
        setdirsource(param);
    } else if (classify(arg, param) != 0) {
        return -1;
    }
    int root = isroot(param->srcbasedir);
    if (!(param->srctype & SRCTYPE_NAME))
        param->srctype |= root ? SRCTYPE_ROOT : SRCTYPE_DIR;
    if (!root)
        delbackslash(param->srcbasedir);
    if (linksource(param))
        return -1;
    std::strcpy(param->srccurdir, param->srcbasedir);
    return 0;
}

int getlistbase(const char *entry, char *out, size_t size) {
    if (opt_verbose) {
        LOCLINE();
        outf("isLFNmode = %d\n", isLFNmode);
    }
    // A path buffer on the stack: unlike a heap one it cannot run out.
    char full[PATH_SIZE] = "";
    int expanded = pathexpand(full, entry, isLFNmode) == 0;
    if (opt_verbose)
        outf("tmpbuf = %s\n", full);
    if (!expanded)
        return -1;
    int r = splitpath(full, out, size, nullptr, 0);
    if (opt_verbose) {
        LOCLINE();
        outf("srcbasedir = %s\n", r == 0 ? out : "");
    }
    return r == 0 ? 0 : -1;
}
