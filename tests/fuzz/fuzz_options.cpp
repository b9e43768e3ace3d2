// The command line: parseargs over arguments cut from the input at NUL
// bytes, then, after a successful parse, the option checks that settle
// combinations once a source and destination are known.
#include <cstring>

#include "front/options.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The last byte chooses the kind of source checkopts is told about.
    int srctype = size > 0 ? data[size - 1] & 0x2D : 0;
    fuzz::Args args(fuzz::split(data, size, '\0', 12));
    resetsettings();
    progname = "mox32";
    PARAM param;
    ARGPOS pos;
    if (initparam(&param) == 0 &&
        parseargs(args.argc(), args.argv.data(), param.format, &param.date1, &param.date2,
                  &pos) == 0) {
        if (pos.dstarg != 0)
            std::strcpy(param.dstcurdir, "D:\\DST");
        std::strcpy(param.srcmask, (srctype & SRCTYPE_MULTI) ? "*.*" : "A.TXT");
        param.srctype = srctype;
        const char *src = pos.srcarg != 0 ? args.argv[pos.srcarg] : "";
        checkopts(&param, src, pos.extfirst != 0 && pos.extlast != 0);
    }
    freeparam(&param);
    return 0;
}
