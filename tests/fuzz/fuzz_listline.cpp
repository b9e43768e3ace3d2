// The list-line reader: the input as a list file in the sandbox, read
// entry by entry as a list run reads it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/param.h"
#include "engine/listline.h"
#include "fuzz_util.h"

namespace {

std::string listpath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::quiet();
    fuzz::sandbox({});
    listpath = fuzz::sandboxdir() + "/LIST.TXT";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fd = ::open(listpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, data, size) != (ssize_t)size)
        std::abort();
    ::close(fd);
    int handle = plat_open(listpath.c_str(), PLAT_OPEN_READ);
    if (handle < 0)
        std::abort();
    ListReader rd;
    listbegin(&rd, handle, size > 0 && (data[0] & 1));
    char entry[LIST_ENTRY_SIZE];
    int got;
    size_t lines = 0;
    while ((got = nextlistentry(&rd, entry, sizeof entry)) > 0) {
        // An entry is a whole path: never empty, never longer than a path.
        if (got == LIST_ENTRY && (entry[0] == 0 || std::strlen(entry) > MAX_PATHLEN))
            std::abort();
        if (++lines > size + 1)
            std::abort(); // every entry or refusal takes at least one byte
    }
    plat_close(handle);
    return 0;
}
