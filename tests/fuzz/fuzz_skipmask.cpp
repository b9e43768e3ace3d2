// The skip masks: the groups of a command line that parses are stored as
// the entry point stores them, then released.
#include <cstdlib>

#include "front/options.h"
#include "fuzz_util.h"

// Every extension mask is one ".ext" piece; a directory mask is a name.
static void checkmasks(const PARAM *param) {
    for (int i = 0; param->skipextmask[i] != nullptr; i++)
        if (param->skipextmask[i][0] != '.')
            std::abort();
    for (int i = 0; param->skipdirmask[i] != nullptr; i++)
        if (param->skipdirmask[i][0] == '\0' || param->skipdirmask[i][0] == '.')
            std::abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Args args(fuzz::split(data, size, '\0', 32));
    resetsettings();
    // Check mode also prints every mask stored.
    checkmode = size > 0 && (data[0] & 1);
    progname = "mox32";
    PARAM param;
    ARGPOS pos;
    if (initparam(&param) == 0 &&
        parseargs(args.argc(), args.argv.data(), param.format, &param.date1, &param.date2,
                  &pos) == 0) {
        if (pos.extfirst != 0 && pos.extlast != 0)
            setskipext(param.skipextmask, args.argv.data(), pos.extfirst, pos.extlast);
        if (pos.dirfirst != 0 && pos.dirlast != 0)
            setskipdir(param.skipdirmask, args.argv.data(), pos.dirfirst, pos.dirlast);
        checkmasks(&param);
    }
    freeparam(&param);
    return 0;
}
