#include "front/dialogue.h"

#include <cstring>

#include "buildstamp.h"
#include "front/longopts.h"
#include "front/texts.h"
#include "base/pathstr.h"
#include "base/out.h"

namespace {

const char *const PRODUCT = "MOX32";
const char *const VERSION = "2.18" TXT_BETA "4 (WIN32)";
const char *const BUILDSTAMP = "$ compiled at " MOX32_BUILD_STAMP " $";
const char *const CREDIT = "(C) 2026 the mox32 developers";
const char *const LONGCREDIT =
    "(C) 2026 the mox32 developers: copy, update, move, rename and delete files";

const char *onoff(int value) { return value == 1 ? "ON" : "OFF"; }


} // namespace

void printbanner(void) {
    errf("Quillet %s v%s  %s\n", PRODUCT, VERSION, CREDIT);
    if (!plat_ischardev(PLAT_STDOUT))
        outf("Quillet %s v%s  %s\n", PRODUCT, VERSION, LONGCREDIT);
}

void printversion(void) { outf("%s v%s %s\n", progname, VERSION, BUILDSTAMP); }

void usage(const char *name, int stream) {
    streamf(stream, "[Usage] %s [/opt] [=format] <srcpath|@filelist> [[skipmask]] [dstdir]\n", name);
    streamf(stream, "        command | %s [/opt] [=format] @ [[skipmask]] [dstdir]\n", name);
    streamf(stream, "%s",
         "     /A: *Attribute copy            /B: create Backup file\n"
         "     /D: Date search(/Ddate1, /Ddate1-, /Ddate1-date2, /D-date2)\n"
         "         date1,2 formats are yyyymmdd or yyyymm or mmdd\n"
         "   /DEL: Delete src file\n"
         "  /DEL!: move to \\TRASH$$$      /DEL+: move to \\RECYCLED(WIN32)\n"
         "     /F: extension rename Forth     /C: *Check drivesize\n"
         "     /I: Incremental copy (append srcfile to dst's samenamefile)\n"
         "     /L: Lower filename             /L+: upper filename\n"
         "     /U: Update copy                /M: Move (delete source file)\n"
         "     /O: Overwrite only             /N: No overwrite \n"
         "     /S: Subdirectories struct      /G: Gather\n"
         "         /S+, /G+: matching key directory of src and dst\n"
         "     /E: Echo mode (not execute)    /Y: always 'YES' to confirmation\n"
         " /CHECK: dsp parameter and confirm execution\n"
         "     =?: usgae for rename format    /V: Verbose mode\n"
         "    /V+: verbose mode(powered)     /V-: not verbose mode\n"
         "    /Z: filesize change zerobyte\n"
         "skipmask: [dir dir ...](skipdir) or [.ext.ext.ext ...](skipfile)\n");
    for (const LongOpt *o = longopts; o->name != nullptr; o++)
        streamf(stream, "%*s--%s%s%s: %s\n", 7 - (int)std::strlen(o->name), "", o->name,
                o->value != nullptr ? "=" : "", o->value != nullptr ? o->value : "", o->help);
}

void formatusage(void) {
    errf("%s",
         "[usage for rename format]\n"
         "(macro)\n"
         "    $F($f): filebasename          ex. PROGRAM.EXE -> PROGRAM\n"
         "        can set number(0-9) or '-' for witdh in macro as $4f , $-4f\n"
         "    $E($e): extension             ex. PROGRAM.EXE -> EXE\n"
         "    $N($n): incremental number string(s)      ex. 0 - 999...\n"
         "        can set number(0-9) for witdh in macro as $4N , $04N\n"
         "    $YY($yy): Year(yyyy)          $Y($y): Year(yy)\n"
         "    $M($m): Month(mm)             $D($d): Day(dd)\n"
         "        ex. $YY$M$D -> 19990303.  $Y$M$D -> 990303\n"
         "(other characters)\n"
         "    set to filename as is\n"
         "(example)\n"
         "    if orignal filename is PROGRAM.EXE \n"
         "    $4F$04N.$E  -> PROG0000.EXE, PROG0001.EXE ... PROG9999.EXE\n"
         "    $04N$-4F.$E -> 0000GRAM.EXE, 0001GRAM.EXE ... 9999GRAM.EXE\n"
         "    MY$4F.$03N  -> MYPROG.000,   MYPROG.001   ... MYPROG.999\n"
         "    $F($N).$E   -> PROGRAM(0).EXE, PROGRAM(1).EXE ...\n");
}

void printcheckheader(int argc, char **argv) {
    outf("Check mode ON ! -----------------------------------\n");
    outf("commandline parameters are ...\n");
    for (int i = 0; i < argc; i++)
        outf("%s ", argv[i]);
    outf("\n");
    // Each index starts under its argument as the terminal shows it.
    for (int i = 0; i < argc; i++)
        outf("%-*d ", plat_textwidth(argv[i], std::strlen(argv[i])), i);
    outf("\n");
}

void dumpline(int stream, int closing, const char *title) {
    char dashes[51];
    int n = 50;
    if (closing) {
        streamf(stream, "%s", TXT_UP);
    } else {
        streamf(stream, "%s", TXT_DOWN);
        if (title != nullptr) {
            streamf(stream, "%s ", title);
            n -= (int)std::strlen(title);
        }
    }
    if (n < 0)
        n = 0;
    std::memset(dashes, '-', (size_t)n);
    dashes[n] = '\0';
    streamf(stream, "%s\n", dashes);
}

void dumppath(int stream, const PARAM *param, const char *src, const char *title) {
    dumpline(stream, 0, title);
    streamf(stream, "src path in commandline: %s\n", src);
    streamf(stream, "src path type          : %d\n", param->srctype);
    streamf(stream, "src base directory     : %s\n", param->srcbasedir);
    streamf(stream, "src currrent directory : %s\n", param->srccurdir);
    streamf(stream, "dst base directory     : %s\n", param->dstbasedir);
    streamf(stream, "dst currrent directory : %s\n", param->dstcurdir);
    streamf(stream, "dst path name's length : %d\n", param->dstbaselen);
    dumpline(stream, 1, nullptr);
}

namespace {

void dumpdate(int stream, const PARAM *param) {
    streamf(stream, TXT_OPT_DATE, onoff(opt_date));
    if (opt_date == 1) {
        int d1 = param->date1, d2 = param->date2;
        streamf(stream, " (%4d/%02d/%02d - %4d/%02d/%02d)", d1 / 512 + 1980, (d1 / 32) % 16,
                d1 % 32, d2 / 512 + 1980, (d2 / 32) % 16, d2 % 32);
    }
    streamf(stream, "\n");
}

} // namespace

void dumpopts(int stream, const ARGPOS *pos, const PARAM *param, const char *title) {
    dumpline(stream, 0, title);
    streamf(stream, "*** parameter position(s) about path *** \n");
    streamf(stream, "srcpath: %2d             dstpath : %2d\n", pos->srcarg, pos->dstarg);
    streamf(stream, "skipdir: %2d - %2d       skipfile: %2d - %2d\n", pos->dirfirst,
            pos->dirlast, pos->extfirst, pos->extlast);
    streamf(stream, "*** options status *** \n");
    streamf(stream, TXT_OPT_AB, onoff(opt_attrib), onoff(opt_backup));
    streamf(stream, TXT_OPT_CDEL, onoff(opt_chkdrive), onoff(opt_delete));
    streamf(stream, TXT_OPT_TRASH, onoff(opt_trash));
    streamf(stream, TXT_OPT_RECYCLE, onoff(opt_recycle));
    dumpdate(stream, param);
    streamf(stream, TXT_OPT_EF, onoff(opt_echo), onoff(opt_extforth));
    streamf(stream, TXT_OPT_GS, onoff(opt_gather), onoff(opt_structure));
    streamf(stream, TXT_OPT_KEY, onoff(opt_keymatch));
    streamf(stream, TXT_OPT_IM, onoff(opt_incremental), onoff(opt_move));
    streamf(stream, TXT_OPT_L, onoff(opt_lower), onoff(opt_upper));
    streamf(stream, TXT_OPT_N, onoff(opt_noover));
    streamf(stream, TXT_OPT_O, onoff(opt_overonly));
    streamf(stream, TXT_OPT_UY, onoff(opt_update), onoff(opt_yes));
    dumpline(stream, 1, nullptr);
}

int askcontinue(void) {
    errf("C]ontinue(or [ENTER]), Q]uit(or [ESC]) : ");
    plat_flush(PLAT_STDOUT);
    int key;
    do {
        key = plat_readkey();
        if (key < 0)
            key = 'Q'; // nobody to ask: never wait, never go on unasked
        else if (key == 13)
            key = 'C';
        else if (key == 27)
            key = 'Q';
        else
            key = upcase(key);
        plat_flush(PLAT_STDOUT);
    } while (key != 'C' && key != 'Q');
    errf("%c\n", key);
    plat_flush(PLAT_STDOUT);
    return key == 'Q' ? -1 : 0;
}

int asksure(const char *fmt, const char *text) {
    errf(fmt, text);
    errf("Excute Sure ? [Y/N]: ");
    int key;
    do {
        key = plat_readkey();
        if (key < 0) {
            errf("\n");
            return -1;
        }
        key = upcase(key);
    } while (key != 'Y' && key != 'N');
    errf("%c\n", key);
    return key == 'Y';
}

int confirmall(const char *srcbasedir, const char *srcmask) {
    int yes = asksure(deletemode() ? "Delete all Files : %s\n" : "Rename All Files : %s\n", srcbasedir);
    if (yes == 1 && opt_delete && isroot(srcbasedir) && std::strcmp(srcmask, "*.*") == 0)
        yes = asksure("Delete all Files in this Drive\n", "");
    if (yes < 0)
        outf("Error! no terminal to confirm on; give /Y to run without asking\n");
    else if (yes == 0)
        outf("Bye! Program tarminate at user's request\n");
    return yes;
}

// The program's name as the user is shown it: argv[0] after its last
// separator, all of it when it holds none; an ".EXE" is part of the name.
// The separator is "\\" (found multibyte-aware) and, on a system whose own
// paths use it, "/": /usr/bin/mox32 is mox32, C:\TOOLS\MOX32.EXE is
// MOX32.EXE.
const char *showname(const char *argv0) {
    const char *base = argv0;
    int slash = plat_slashsep();
    for (const char *p = argv0; *p != '\0'; p += mbcharlen(p))
        if (*p == '\\' || (slash && *p == '/'))
            base = p + 1;
    return base;
}
