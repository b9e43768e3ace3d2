#include "base/param.h"

#include <cstdlib>

int opt_attrib, opt_backup, opt_chkdrive, opt_date, opt_delete, opt_recycle, opt_trash;
int opt_extforth, opt_gather, opt_keymatch, opt_incremental, opt_lower;
int opt_upper, opt_move, opt_moveplus, opt_rmdir, opt_noover, opt_overonly;
int opt_structure, opt_update, opt_verbose, opt_quiet, xfind_trace, opt_yes;
int opt_zerobyte, opt_null, checkmode, renamemode, recursemode, rmsubdir;

const char *progname = "";
int isRedirected;
char *(*casechange)(char *);

int deletemode(void) { return opt_delete || opt_trash || opt_recycle; }

// The defaults of every run setting, in one place.
void resetsettings(void) {
    opt_attrib = 1;
    opt_backup = -1;
    opt_chkdrive = 1;
    opt_date = opt_delete = opt_recycle = opt_trash = 0;
    opt_extforth = opt_gather = opt_keymatch = opt_incremental = 0;
    opt_lower = opt_upper = opt_move = opt_moveplus = 0;
    opt_rmdir = -1;
    opt_noover = opt_overonly = 0;
    opt_structure = -1;
    opt_update = opt_verbose = opt_quiet = xfind_trace = opt_yes = opt_zerobyte = 0;
    opt_null = 0;
    checkmode = renamemode = recursemode = rmsubdir = 0;
}

int initparam(PARAM *param) {
    *param = PARAM{};
    param->attrib = 3;
    char **paths[] = {&param->srcbasedir, &param->srccurdir, &param->srcmask,
                      &param->dstbasedir, &param->dstcurdir};
    for (char **p : paths) {
        *p = (char *)std::calloc(PATH_SIZE, 1);
        if (*p == nullptr)
            return -1;
    }
    return 0;
}

void freeparam(PARAM *param) {
    for (int i = 0; i < MASK_SLOTS && param->skipextmask[i] != nullptr; i++) {
        std::free(param->skipextmask[i]);
        param->skipextmask[i] = nullptr;
    }
    for (int i = 0; i < MASK_SLOTS && param->skipdirmask[i] != nullptr; i++) {
        std::free(param->skipdirmask[i]);
        param->skipdirmask[i] = nullptr;
    }
    char **paths[] = {&param->srcbasedir, &param->srccurdir, &param->srcmask,
                      &param->dstbasedir, &param->dstcurdir};
    for (char **p : paths) {
        std::free(*p);
        *p = nullptr;
    }
}
