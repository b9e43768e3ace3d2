#include "front/mox.h"

#include <cstring>

#include "front/dialogue.h"
#include "front/options.h"
#include "front/texts.h"
#include "sys/out.h"

namespace {

int sameword(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        int x = (*a >= 'a' && *a <= 'z') ? *a - 0x20 : *a;
        int y = (*b >= 'a' && *b <= 'z') ? *b - 0x20 : *b;
        if (x != y)
            return 0;
    }
    return *a == *b;
}

void setprogname(const char *argv0) {
    const char *sep = mbstrrchr(argv0, '\\');
    progname = sep != nullptr ? sep + 1 : argv0;
}

// Arguments that only print something: the banner with the usage or the
// version. Returns 1 when the run ends here.
int infoonly(int argc, char **argv) {
    if (argc < 2) {
        printbanner();
        usage(progname);
        return 1;
    }
    const char *first = argv[1];
    if (sameword(first, "-ver") || sameword(first, "/ver")) {
        printbanner();
        printversion();
        return 1;
    }
    if ((first[0] == '-' || first[0] == '/') &&
        (first[1] == '?' || first[1] == 'H' || first[1] == 'h')) {
        printbanner();
        usage(progname);
        return 1;
    }
    return 0;
}

// Prints a dump on standard output and, when that goes to a file or a
// pipe, once more on standard error so that the user still sees it.
void showopts(const ARGPOS *pos, const PARAM *param, const char *title) {
    dumpopts(PLAT_STDOUT, pos, param, title);
    if (isRedirected)
        dumpopts(PLAT_STDERR, pos, param, title);
}

// Everything after the command line has been read. The engine that walks
// and copies is not part of this build yet.
int runjob(PARAM *param, char **argv, const ARGPOS *pos) {
    (void)param;
    (void)argv;
    (void)pos;
    outf("Error! this build reads the command line only; no file is touched\n");
    return 1;
}

} // namespace

int moxmain(int argc, char **argv) {
    resetsettings();
    setprogname(argv[0]);
    if (infoonly(argc, argv))
        return 0;
    if (sameword(argv[1], "-CHECK") || sameword(argv[1], "/CHECK")) {
        printbanner();
        checkmode = 1;
        printversion();
        argv++;
        argc--;
        printcheckheader(argc, argv);
    }
    isRedirected = !plat_ischardev(PLAT_STDOUT);

    PARAM param;
    if (initparam(&param) != 0) {
        outf("Error! Memory allocate failed for param\n");
        freeparam(&param);
        return 1;
    }
    ARGPOS pos;
    int status = 1;
    if (parseargs(argc, argv, param.format, &param.date1, &param.date2, &pos) != 0)
        goto done;
    if (checkmode) {
        showopts(&pos, &param, TXT_TITLE_PARSED);
        if (askcontinue() != 0) {
            status = 0;
            goto done;
        }
    }
    if (pos.srcarg == 0) {
        outf("Error! invalid src path\n");
        goto done;
    }
    status = runjob(&param, argv, &pos);
done:
    freeparam(&param);
    return status;
}
