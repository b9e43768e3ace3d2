// Taking over a redirected standard input for the "@" source list.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/native.h"

int plat_takestdin(void) {
    struct stat st;
    if (fstat(0, &st) != 0 || S_ISCHR(st.st_mode)) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    int handle = fcntl(0, F_DUPFD_CLOEXEC, 3);
    if (handle < 0) {
        set_errno_error(errno);
        return -1;
    }
    // Standard input reads from the console from now on; with none (a
    // script, a service) it reads nothing, and the list is used all the same.
    int tty = open("/dev/tty", O_RDONLY | O_CLOEXEC);
    if (tty < 0)
        tty = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (tty >= 0) {
        dup2(tty, 0);
        close(tty);
    }
    return handle;
}
