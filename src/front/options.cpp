#include "front/options.h"

#include <cstring>

#include "front/dialogue.h"
#include "front/longopts.h"
#include "search/pathexp.h"
#include "sys/dates.h"
#include "base/out.h"

int opt_echo;

namespace {

enum { MAX_DATE_DIGITS = 79 };

int isdigitc(int c) { return c >= '0' && c <= '9'; }


// "/DEL", "/DEL+" or "/DEL!" (either prefix, letters in any case) as the
// whole argument: 1, 2 or 3; 0 for anything else.
int delform(const char *arg) {
    if (upcase(arg[1]) != 'D' || upcase(arg[2]) != 'E' || upcase(arg[3]) != 'L')
        return 0;
    if (arg[4] == '\0')
        return 1;
    if (arg[5] != '\0')
        return 0;
    if (arg[4] == '+')
        return 2;
    if (arg[4] == '!')
        return 3;
    return 0;
}

// The three delete forms; 0, or -1 when a conflicting option came first.
int setdelete(int form) {
    if (opt_move || opt_incremental)
        return -1;
    switch (form) {
    case 1:
        if (opt_trash || opt_recycle)
            return -1;
        opt_delete = 1;
        break;
    case 2:
        if (opt_delete || opt_trash)
            return -1;
        opt_recycle = 1;
        break;
    default:
        if (opt_delete || opt_recycle)
            return -1;
        opt_trash = 1;
        if (opt_backup == -1)
            opt_backup = 1;
        break;
    }
    return 0;
}

// Options of the form /X and /X-, each with its setting.
int *plainoption(int letter) {
    switch (letter) {
    case 'A': return &opt_attrib;
    case 'B': return &opt_backup;
    case 'C': return &opt_chkdrive;
    case 'E': return &opt_echo;
    case 'Y': return &opt_yes;
    default: return nullptr;
    }
}

// One letter with its suffix at arg[i]. Returns the number of characters
// taken (1 or 2), or 0 when the option is refused at its letter.
int takeletter(const char *arg, int i) {
    int c = upcase((unsigned char)arg[i]);
    char sfx = arg[i + 1];
    int minus = sfx == '-', plus = sfx == '+';
    if (int *flag = plainoption(c)) {
        *flag = minus ? 0 : 1;
        return minus ? 2 : 1;
    }
    switch (c) {
    case 'F':
        opt_extforth = opt_backup = minus ? 0 : 1;
        return minus ? 2 : 1;
    case 'G':
        if (minus) {
            opt_gather = 0;
            return 2;
        }
        if (opt_structure == 1)
            return 0;
        opt_gather = 1;
        if (plus)
            opt_keymatch = 1;
        return plus ? 2 : 1;
    case 'I':
        if (minus) {
            opt_incremental = 0;
            return 2;
        }
        if (opt_move || deletemode())
            return 0;
        opt_incremental = 1;
        return 1;
    case 'L':
        opt_lower = !minus && !plus;
        opt_upper = plus;
        return (minus || plus) ? 2 : 1;
    case 'M':
        if (minus) {
            opt_move = opt_moveplus = opt_rmdir = 0;
            return 2;
        }
        if (deletemode() || opt_incremental)
            return 0;
        opt_move = 1;
        if (plus)
            opt_moveplus = 1;
        if (sfx == '!')
            opt_rmdir = 0;
        return (plus || sfx == '!') ? 2 : 1;
    case 'N':
        if (!minus && opt_overonly)
            return 0;
        opt_noover = !minus;
        return minus ? 2 : 1;
    case 'O':
        if (!minus && opt_noover)
            return 0;
        opt_overonly = !minus;
        return minus ? 2 : 1;
    case 'S':
        if (minus) {
            opt_structure = 0;
            return 2;
        }
        if (opt_gather == 1)
            return 0;
        opt_structure = 1;
        if (plus)
            opt_keymatch = 1;
        return plus ? 2 : 1;
    case 'U':
        if (!minus && opt_noover)
            return 0;
        opt_update = !minus;
        return minus ? 2 : 1;
    case 'V':
        opt_quiet = minus;
        if (plus)
            opt_verbose = 1;
        if (minus)
            opt_verbose = 0;
        xfind_trace = minus ? 0 : (plus ? 2 : 1);
        return (minus || plus) ? 2 : 1;
    case 'Z':
        opt_zerobyte = 1;
        return 1;
    default:
        return 0;
    }
}

// Copies the run of digits at text into buf (MAX_DATE_DIGITS + 1 bytes).
// Returns its length, or -1 when the run is too long to be a date.
int digitrun(const char *text, char *buf) {
    int n = 0;
    while (isdigitc(text[n])) {
        if (n == MAX_DATE_DIGITS)
            return -1;
        buf[n] = text[n];
        n++;
    }
    buf[n] = '\0';
    return n;
}

} // namespace

int parsedateopt(const char *text, int *date1, int *date2) {
    char digits1[MAX_DATE_DIGITS + 1], digits2[MAX_DATE_DIGITS + 1];
    int n1 = digitrun(text, digits1);
    if (n1 < 0)
        return 0;
    if (n1 > 0 && parsedate(digits1, date1, 0) != 0)
        return 0;
    int taken = n1;
    if (text[taken] == '-') {
        taken++;
        int n2 = digitrun(text + taken, digits2);
        if (n2 < 0)
            return 0;
        if (n2 > 0 && parsedate(digits2, date2, 1) != 0)
            return 0;
        taken += n2;
        if (*date1 == 0)
            parsedate("19800101", date1, 0);
    }
    if (*date1 == 0)
        return 0;
    if (*date2 == 0) {
        if (taken > 0 && text[taken - 1] == '-') {
            PlatTime now;
            plat_localtime(&now);
            *date2 = (int)dosdate(now.year, now.month, now.day);
        } else if (parsedate(digits1, date2, 1) != 0) {
            return 0;
        }
    }
    return taken - 1 > 0 ? taken - 1 : 0;
}

int parseopt(const char *arg, int *date1, int *date2) {
    int i = 1;
    if (delform(arg) != 0)
        return setdelete(delform(arg)) == 0 ? 0 : 1;
    while (arg[i] != '\0') {
        if (upcase((unsigned char)arg[i]) == 'D') {
            if (!isdigitc(arg[i + 1]) && arg[i + 1] != '-')
                return i;
            int r = parsedateopt(arg + i + 1, date1, date2);
            if (r == 0)
                return i;
            opt_date = 1;
            i += r + 2;
            continue;
        }
        int n = takeletter(arg, i);
        if (n == 0)
            return i;
        i += n;
    }
    return 0;
}

// The caret goes under the character the terminal shows, so the distance
// counts columns, not bytes: é travels as four bytes and takes one column,
// 表 as two bytes and takes two.
void showargerror(int argc, char **argv, int index, int offset) {
    int width = plat_textwidth(progname, std::strlen(progname)) + 1;
    outf("%s ", progname);
    for (int i = 1; i < argc; i++) {
        outf("%s ", argv[i]);
        if (i < index)
            width += plat_textwidth(argv[i], std::strlen(argv[i])) + 1;
    }
    outf("\n");
    size_t before = 0; // bytes of the faulty argument before its caret
    if (index < argc) {
        before = std::strlen(argv[index]);
        if (before > (size_t)offset)
            before = (size_t)offset;
        width += plat_textwidth(argv[index], before);
    }
    width += offset - (int)before;
    outf("%*s error\n", width + 1, "^");
}

namespace {

// A positional argument: the source first, then the destination. Returns
// 0, or -1 when the argument is refused (its caret goes under its start).
int takepositional(char **argv, int i, ARGPOS *pos) {
    if (pos->srcarg == 0) {
        if (std::strcmp(argv[i], "@") == 0 && plat_ischardev(PLAT_STDIN))
            return -1;
        pos->srcarg = i;
        return 0;
    }
    if (pos->dstarg == 0) {
        pos->dstarg = i;
        return 0;
    }
    return -1;
}

// A Linux user's path such as /srv/out reads as options (S, R, V...) and
// the caret alone would leave them guessing: when the refused option names
// an existing native path, say how to give it instead. Its DOS spelling is
// written with "/" as the user wrote the path.
void nativehint(const char *arg) {
    char full[PATH_SIZE];
    unsigned attrib;
    if (arg[0] != '/' || arg[1] == '\0')
        return;
    if (pathexpand(full, arg, 0) != 0) {
        // On no drive: only -- reaches it, and then says what is missing.
        if (getattr(arg, &attrib) == 0)
            outf("Error! %s is read as an option; give native paths after --\n", arg);
        return;
    }
    if (getattr(full, &attrib) != 0)
        return;
    for (char *p = full; *p != '\0'; p += mbcharlen(p))
        if (*p == '\\')
            *p = '/';
    outf("Error! %s is read as an option; give native paths after -- or as %s\n", arg, full);
}

// "=format": -1 with *offset on error, -2 after "=?" (usage shown).
int takeformat(const char *arg, char *format, int *offset) {
    if (arg[1] == '\0') {
        *offset = 1;
        return -1;
    }
    if (arg[1] == '?') {
        formatusage();
        return -2;
    }
    if (deletemode()) {
        *offset = 0;
        return -1;
    }
    if (std::strlen(arg + 1) > FORMAT_SIZE - 1) {
        *offset = FORMAT_SIZE; // the first character that does not fit
        return -1;
    }
    std::strcpy(format, arg + 1);
    return 0;
}

} // namespace

int parseargs(int argc, char **argv, char *format, int *date1, int *date2, ARGPOS *pos) {
    *pos = ARGPOS{};
    int i = 1, errindex = 0, offset = 0;
    int optionsend = 0; // "--" was given: no more options or formats
    int asoption = 0;   // the refused argument was read as an option
    while (i < argc) {
        const char *arg = argv[i];
        errindex = i;
        if (!optionsend && std::strcmp(arg, "--") == 0) {
            optionsend = 1;
            pos->nativefrom = i + 1;
        } else if (!optionsend && arg[0] == '=') {
            int r = takeformat(arg, format, &offset);
            if (r == -2)
                return -1;
            if (r < 0)
                goto fail;
        } else if (!optionsend && arg[0] == '-' && arg[1] == '-') {
            asoption = 1;
            offset = takelongopt(arg);
            if (offset != 0)
                goto fail;
            asoption = 0;
        } else if (!optionsend && (arg[0] == '-' || arg[0] == '/')) {
            asoption = 1;
            if (arg[1] == '\0') {
                offset = 0;
                goto fail;
            }
            offset = parseopt(arg, date1, date2);
            if (offset != 0 || (deletemode() && format[0] != '\0'))
                goto fail;
            asoption = 0;
        } else if (arg[0] == '[') {
            int isext, first, last;
            int next = scanskipgroup(argc, argv, i, &isext, &first, &last, &errindex, &offset);
            if (next < 0)
                goto fail;
            if (isext) {
                pos->extfirst = first;
                pos->extlast = last;
            } else {
                pos->dirfirst = first;
                pos->dirlast = last;
            }
            i = next;
            continue;
        } else if (takepositional(argv, i, pos) != 0) {
            offset = 0;
            goto fail;
        }
        i++;
    }
    if (pos->dstarg == 0 &&
        (opt_move || opt_update || opt_overonly || opt_noover || opt_keymatch)) {
        showargerror(argc, argv, argc, 0);
        outf("/U, /O, /N, /M, /S+, /G+ require destination path\n");
        return -1;
    }
    return 0;
fail:
    showargerror(argc, argv, errindex, offset);
    if (asoption)
        nativehint(argv[errindex]);
    return -1;
}

void mismatch(const char *a, const char *b) { outf("Error! %s and %s are mismatch option\n", a, b); }

int checkopts(PARAM *param, const char *src, int extmasks) {
    if (param->dstcurdir[0] == '\0') {
        if (opt_incremental && param->format[0] == '\0') {
            mismatch("/I", "no destination path");
            return -1;
        }
        if (!deletemode())
            opt_gather = 0;
        opt_attrib = 0;
    }
    if (opt_structure == -1)
        opt_structure = ((param->srctype & SRCTYPE_DIR) && opt_gather == 0) ? 1 : 0;
    int wholetree = ((param->srctype & SRCTYPE_DIR) || src[0] == '@' ||
                     std::strstr(param->srcmask, "*.*") != nullptr) &&
                    !extmasks && opt_structure == 1;
    if (deletemode()) {
        if (wholetree) {
            opt_rmdir = 1;
            rmsubdir = 1;
        }
        opt_keymatch = 0;
        opt_attrib = 0;
    }
    if (opt_move && (opt_moveplus || wholetree)) {
        if (opt_rmdir != 0)
            opt_rmdir = 1;
        rmsubdir = 1;
    }
    if (param->format[0] != '\0') {
        if (opt_update) {
            mismatch("=format", "/U");
            return -1;
        }
        if (opt_extforth) {
            mismatch("=format", "/F");
            return -1;
        }
    }
    return 0;
}
