// The data of a copy, moved by the kernel where it can: copy_file_range
// keeps the bytes out of our memory, and on a file system that can share
// blocks (btrfs, XFS) it shares them instead of writing them again. Where
// the kernel will not (another file system type on an older kernel, a file
// opened for appending, a file that is not what it claims to be) the data
// goes through the caller's buffer as it always did.
#include "platform/platform.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>

#include <unistd.h>

namespace {

// A step of the kernel's own: large enough that its calls cost nothing
// next to the data, small enough that a progress line keeps moving.
const unsigned long long KERNEL_STEP = 1ULL << 24;

enum { REFUSED = -2 };

// The kernel's copy of up to n bytes; the bytes copied, 0 at the end, -1
// with the last error set, or REFUSED when this pair of files is not for
// the kernel to copy.
long long kernel_step(int in, int out, unsigned long long n) {
    ssize_t got;
    do {
        got = copy_file_range(in, nullptr, out, nullptr, (size_t)n, 0);
    } while (got < 0 && errno == EINTR);
    if (got >= 0)
        return (long long)got;
    switch (errno) {
    case EXDEV:      // two file systems, on kernels that copy only within one
    case EINVAL:     // a special file, or a file system without the call
    case EOPNOTSUPP: // the file system refuses it
    case ENOSYS:     // a kernel without it
    case EBADF:      // out is open for appending
    case ETXTBSY:
    case EPERM:
        return REFUSED;
    }
    set_errno_error(errno);
    return -1;
}

// One buffer of data read and written whole; as kernel_step, never REFUSED.
long long buffer_step(int in, int out, char *buf, unsigned long n) {
    long got = read_some(in, buf, n);
    if (got <= 0)
        return got;
    return write_all(out, buf, (unsigned long)got) < 0 ? -1 : got;
}

} // namespace

long long plat_copydata(int in, int out, long long limit, void *buf, unsigned long size,
                        void (*step)(unsigned long long done)) {
    if (buf == nullptr || size == 0) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    long long done = 0;
    // Some files claim to be empty and are not (those of /proc): the kernel
    // copies nothing of them, so a kernel that finds nothing at the very
    // start is asked no more and the data is read.
    int kernel = 1;
    for (;;) {
        unsigned long long left = limit < 0 ? ULLONG_MAX : (unsigned long long)(limit - done);
        if (left == 0)
            return done;
        int armed = fail_armed(PLAT_CALL_READ) || fail_armed(PLAT_CALL_WRITE);
        unsigned long long want = armed ? size : KERNEL_STEP;
        if (want > left)
            want = left;
        if (fail_now(PLAT_CALL_READ) || fail_now(PLAT_CALL_WRITE))
            return -1;
        long long got = REFUSED;
        if (kernel) {
            got = kernel_step(in, out, want);
            if (got == 0 && done == 0)
                got = REFUSED;
            if (got == REFUSED)
                kernel = 0;
        }
        if (got == REFUSED)
            got = buffer_step(in, out, (char *)buf, want < size ? (unsigned long)want : size);
        if (got < 0)
            return -1;
        if (got == 0)
            return done;
        done += got;
        if (step != nullptr)
            step((unsigned long long)done);
    }
}
