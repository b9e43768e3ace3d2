#include "front/mox.h"

#include <cstdlib>
#include <cstring>

#include "engine/moxmain.h"
#include "front/dialogue.h"
#include "front/stdinlist.h"
#include "job/moxsub.h"
#include "front/options.h"
#include "front/texts.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/pathstr.h"
#include "base/out.h"

namespace {

int sameword(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        if (upcase(*a) != upcase(*b))
            return 0;
    }
    return *a == *b;
}

void setprogname(const char *argv0) {
    // Without its directory (see showname).
    progname = showname(argv0);
}

// Arguments that only print something: the banner with the usage or the
// version. Returns 1 when the run ends here.
int infoonly(int argc, char **argv) {
    if (argc < 2) {
        printbanner();
        usage(progname, PLAT_STDERR);
        return 1;
    }
    const char *first = argv[1];
    // The GNU spellings too, the first a Linux user tries.
    if (sameword(first, "-ver") || sameword(first, "/ver") ||
        std::strcmp(first, "--version") == 0) {
        printbanner();
        printversion();
        return 1;
    }
    if (std::strcmp(first, "--help") == 0) {
        printbanner();
        usage(progname, PLAT_STDOUT);
        return 1;
    }
    if ((first[0] == '-' || first[0] == '/') &&
        (first[1] == '?' || first[1] == 'H' || first[1] == 'h')) {
        printbanner();
        usage(progname, PLAT_STDERR);
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

// One invocation's state beyond the run settings.
struct JOB {
    PARAM param;
    ARGPOS pos;
    char *source;                  // the source string handed to the run
    char tmpname[PLAT_PATH_SIZE];  // the captured "@" list, when there is one
    const char *dst;               // the destination argument, null without one
    char nativesrc[PATH_SIZE];     // the source and destination given after --,
    char nativedst[PATH_SIZE];     // as the DOS paths they name
};

void showpaths(const JOB *job) {
    dumppath(PLAT_STDOUT, &job->param, job->source, TXT_TITLE_PATHS);
    if (isRedirected)
        dumppath(PLAT_STDERR, &job->param, job->source, TXT_TITLE_PATHS);
}

// An argument after -- is a path in the system's own form unless it is
// spelled with a drive letter ("D:\\out") or as a network path: it means
// what the shell means by it, and is replaced by the DOS path it names
// (kept in buf, PATH_SIZE bytes), with a final "/" kept as "\\": it names
// a directory outright. A list ("@") is read as always. *path becomes
// the path to use. 0, or -1 after the message.
int nativearg(const char *arg, char *buf, const char **path) {
    *path = arg;
    if (arg[0] == '@' || (arg[0] != '\0' && arg[1] == ':') || (arg[0] == '\\' && arg[1] == '\\'))
        return 0;
    if (nativeexpand(buf, arg, "native path") != 0)
        return -1;
    size_t len = std::strlen(buf), n = std::strlen(arg);
    if (n > 0 && arg[n - 1] == '/' && buf[len - 1] != '\\') {
        if (len + 1 >= PATH_SIZE) {
            outf("Error! path too long: %s\n", arg);
            return -1;
        }
        buf[len] = '\\';
        buf[len + 1] = '\0';
    }
    *path = buf;
    return 0;
}

// The source string: a copy of the argument, or for "@" alone the list
// piped in, captured into a temporary file. 0, or -1 after the message.
int takesource(JOB *job, const char *arg) {
    if (std::strcmp(arg, "@") == 0) {
        job->source = capturestdin(job->tmpname, sizeof job->tmpname);
        return job->source != nullptr ? 0 : -1;
    }
    job->source = (char *)std::malloc(std::strlen(arg) + 1);
    if (job->source == nullptr) {
        LOCLINE();
        outf("Error! memory allocate failed\n");
        return -1;
    }
    std::strcpy(job->source, arg);
    return 0;
}

// Source, destination and the settings that depend on them. 0, or -1
// after the message.
int setuppaths(JOB *job) {
    PARAM *param = &job->param;
    if (job->source[0] != '@' && expandsrc(job->source, param) != 0)
        return -1;
    if (opt_verbose) {
        LOCLINE();
        outf("src = %s\n", job->source);
        outf("param.srcbasedir = %s\n", param->srcbasedir);
        outf("param.srctype = %d\n", param->srctype);
    }
    renamemode = param->format[0] != '\0' || opt_lower || opt_upper;
    if ((param->srctype & SRCTYPE_DIR) && !opt_gather && opt_structure == -1)
        opt_structure = 1;
    if (job->pos.dstarg == 0) {
        if (!renamemode && !deletemode()) {
            outf("Error! no action is required\n");
            return -1;
        }
    } else {
        if (setupdst(param, job->dst) != 0) {
            LOCLINE();
            return -1;
        }
        if (samepath(param->srcbasedir, param->dstbasedir)) {
            outf("Source and destination are the same path\n");
            return -1;
        }
    }
    if (opt_move && upcase(param->srcbasedir[0]) == upcase(param->dstbasedir[0]))
        opt_chkdrive = 0;
    if (checkopts(param, job->source, job->pos.extfirst != 0 && job->pos.extlast != 0) != 0) {
        LOCLINE();
        return -1;
    }
    recursemode = opt_structure == 1 || opt_gather == 1;
    if (opt_keymatch) {
        if (matchkeydir(param) != 0) {
            LOCLINE();
            return -1;
        }
        if (samepath(param->srcbasedir, param->dstbasedir)) {
            outf("Source and destination are the same path\n");
            LOCLINE();
            return -1;
        }
    }
    return 0;
}

// The confirmations before a sweeping rename or delete: 1 to go on, 0 when
// the user said no, -1 when there was nobody to ask.
int confirmed(const PARAM *param) {
    if (opt_yes || std::strstr(param->srcmask, "*.*") == nullptr)
        return 1;
    if (param->dstcurdir[0] == '\0' && renamemode) {
        int yes = confirmall(param->srcbasedir, param->srcmask);
        if (yes != 1)
            return yes;
    }
    if (deletemode())
        return confirmall(param->srcbasedir, param->srcmask);
    return 1;
}

int storemasks(JOB *job, char **argv) {
    const ARGPOS *pos = &job->pos;
    if (pos->extfirst != 0 && pos->extlast != 0 &&
        setskipext(job->param.skipextmask, argv, pos->extfirst, pos->extlast) != 0)
        return -1;
    if (pos->dirfirst != 0 && pos->dirlast != 0 &&
        setskipdir(job->param.skipdirmask, argv, pos->dirfirst, pos->dirlast) != 0)
        return -1;
    return 0;
}

// Everything after the command line has been read: the steps up to the
// run, then the run. Returns the exit status.
int runjob(JOB *job, char **argv) {
    const ARGPOS *pos = &job->pos;
    const char *src = argv[pos->srcarg];
    job->dst = pos->dstarg != 0 ? argv[pos->dstarg] : nullptr;
    if (pos->nativefrom != 0 &&
        ((pos->srcarg >= pos->nativefrom && nativearg(src, job->nativesrc, &src) != 0) ||
         (pos->dstarg >= pos->nativefrom && nativearg(job->dst, job->nativedst, &job->dst) != 0)))
        return 1;
    if (takesource(job, src) != 0 || setuppaths(job) != 0)
        return 1;
    // A decline is an answer and ends the run as asked; a question nobody
    // could answer leaves the work undone, which a script must not take
    // for success.
    int yes = confirmed(&job->param);
    if (yes != 1)
        return yes == 0 ? 0 : 1;
    if (storemasks(job, argv) != 0)
        return 1;
    if (checkmode || opt_verbose) {
        showpaths(job);
        if (checkmode && askcontinue() != 0)
            return 0;
        showopts(&job->pos, &job->param, TXT_TITLE_OPTIONS);
        if (checkmode && askcontinue() != 0)
            return 1;
    }
    if (opt_echo)
        outf("This is TEST Mode\n");
    outf("Readind dir(s) .....\n");
    return runsrc(job->source, &job->param);
}

} // namespace

int moxmain(int argc, char **argv) {
    resetsettings();
    opt_echo = 0;
    runfs_choose(0);
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

    JOB job{};
    PARAM *param = &job.param;
    if (initparam(param) != 0) {
        outf("Error! Memory allocate failed for param\n");
        freeparam(param);
        return 1;
    }
    int status = 1;
    if (parseargs(argc, argv, param->format, &param->date1, &param->date2, &job.pos) != 0)
        goto done;
    // Chosen once: from here on no part of the run asks whether it is an
    // echo.
    runfs_choose(opt_echo);
    if (checkmode) {
        showopts(&job.pos, param, TXT_TITLE_PARSED);
        if (askcontinue() != 0) {
            status = 0;
            goto done;
        }
    }
    if (job.pos.srcarg == 0) {
        outf("Error! invalid src path\n");
        goto done;
    }
    status = runjob(&job, argv);
done:
    droptemplist(job.tmpname);
    std::free(job.source);
    freeparam(param);
    runfs_choose(0); // and the picture is forgotten
    return status;
}
