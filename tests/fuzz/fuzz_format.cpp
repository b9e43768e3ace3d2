// The rename format and the backup names, for a file of any name in a
// sandbox directory mapped as drive C. The input is the format, a line
// end, and the file's name; the first byte also chooses /F.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/param.h"
#include "fuzz_util.h"
#include "names/backup.h"
#include "names/format.h"
#include "base/pathstr.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::quiet();
    // A few names the counter and the backups must step over. Only
    // README(000). holds digits, so a counter's probe ends at its first or
    // second value however wild the candidate.
    fuzz::sandbox({"DIR/", "DIR/PROGRAM.EXE", "DIR/README", "DIR/README(000).", "DIR/A.B.TXT",
                   "DIR/README.EXE", "DIR/SUB/", "DIR/caf\xc3\xa9.txt", "DIR/\xe8\xa1\xa8.TXT"});
    std::strcpy(todaystr, "20040215");
    return 0;
}

// A finished name lies in the file's directory and fits a path buffer.
static void checkresult(const char *out, size_t dirlen, const char *path) {
    if (std::strlen(out) > MAX_PATHLEN || std::strncmp(out, path, dirlen) != 0)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> parts = fuzz::split(data, size, '\n', 2);
    std::string format = parts[0].substr(0, FORMAT_SIZE - 1);
    std::string name = parts.size() > 1 ? parts[1] : "PROGRAM.EXE";
    opt_extforth = size > 0 && (data[0] & 1);
    char path[PATH_SIZE] = "C:\\DIR\\";
    const size_t dirlen = std::strlen(path);
    if (pathappend(path, sizeof path, name.c_str()) != 0)
        return 0;
    char scratch[PATH_SIZE], out[PATH_SIZE];
    std::strcpy(scratch, path);
    if (formatname(out, scratch, format.c_str()) == 0)
        checkresult(out, dirlen, path);
    if (backupname(out, path) == 0)
        checkresult(out, 0, out);
    return 0;
}
