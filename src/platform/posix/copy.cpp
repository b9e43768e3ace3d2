// The data of a copy, moved by the kernel where it can: copy_file_range
// keeps the bytes out of our memory, and on a file system that can share
// blocks (btrfs, XFS) it shares them instead of writing them again. Where
// the kernel will not (another file system type on an older kernel, a file
// opened for appending, a file that is not what it claims to be) the data
// goes through the caller's buffer as it always did.
//
// A sparse source (a disk image, a database's preallocated file) keeps its
// holes: only its data is copied and the holes are skipped, so a 2 GiB
// file holding a few kilobytes copies in an instant and takes a few
// kilobytes, where reading the holes would write gigabytes of zeros.
#include "platform/platform.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
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

// A copy under way.
struct Copy {
    int in, out;
    char *buf;
    unsigned long size;
    int kernel; // the kernel may still be asked
};

// The size of the next step, at most left: a buffer's while the test
// hooks count the steps, else the kernel's.
unsigned long long step_size(unsigned long size, unsigned long long left) {
    int armed = fail_armed(PLAT_CALL_READ) || fail_armed(PLAT_CALL_WRITE);
    unsigned long long want = armed ? size : KERNEL_STEP;
    return want > left ? left : want;
}

// One step of at most want bytes: the bytes copied, 0 at the end, or -1.
// Some files claim to be empty and are not (those of /proc): the kernel
// copies nothing of them, so a kernel that finds nothing where the end is
// not certain (trustzero 0) is asked no more, and a read decides.
long long data_step(Copy *c, unsigned long long want, int trustzero) {
    long long got = REFUSED;
    if (c->kernel) {
        got = kernel_step(c->in, c->out, want);
        if (got == 0 && !trustzero)
            got = REFUSED;
        if (got == REFUSED)
            c->kernel = 0;
    }
    if (got == REFUSED)
        got = buffer_step(c->in, c->out, c->buf, want < c->size ? (unsigned long)want : c->size);
    return got;
}

// Every byte from in's position, holes read as zeros.
long long dense_copy(Copy *c, long long limit, void (*step)(unsigned long long done)) {
    long long done = 0;
    for (;;) {
        unsigned long long left = limit < 0 ? ULLONG_MAX : (unsigned long long)(limit - done);
        if (left == 0)
            return done;
        unsigned long long want = step_size(c->size, left);
        if (fail_now(PLAT_CALL_READ) || fail_now(PLAT_CALL_WRITE))
            return -1;
        long long got = data_step(c, want, done != 0);
        if (got < 0)
            return -1;
        if (got == 0)
            return done;
        done += got;
        if (step != nullptr)
            step((unsigned long long)done);
    }
}

// A copy that skips in's holes. Offsets are in's; out's are shift more.
struct Sparse {
    long long start; // where the copy began
    long long pos;   // the next byte to copy
    long long data;  // in holds data from pos up to here, its next hole
    long long stop;  // where the limit ends the copy, LLONG_MAX for none
    long long shift;
    int append; // out is open for appending: it writes at its end, wherever its position is
};

// Whether the copy can skip holes, and where it stands. Only a regular
// file with fewer blocks than its size needs can have holes (cp's own
// test: any other file takes the plain loop, unchanged), only a file
// system that tells data from holes can find them (one without SEEK_DATA
// says EINVAL), and out must be a regular file written at its end: a hole
// skipped reads back as zeros only there, elsewhere it would leave what out
// held.
// A file just opened is judged by what its open found: most files are
// dense, and need no call of their own to be found so.
int sparse_start(int in, int out, long long limit, Sparse *s) {
    struct stat si, so;
    const struct stat *seen = opened_stat(in);
    if (seen == nullptr && fstat(in, &si) == 0)
        seen = &si;
    if (seen == nullptr || !S_ISREG(seen->st_mode) || seen->st_size <= 0 ||
        (long long)seen->st_blocks * 512 >= seen->st_size)
        return 0;
    if (fstat(out, &so) < 0 || !S_ISREG(so.st_mode))
        return 0;
    off_t from = lseek(in, 0, SEEK_CUR), to = lseek(out, 0, SEEK_CUR);
    int flags = fcntl(out, F_GETFL);
    if (from < 0 || to < 0 || flags < 0)
        return 0;
    s->append = (flags & O_APPEND) != 0;
    if (s->append)
        to = so.st_size;
    if (to != so.st_size)
        return 0;
    // The probe moves in's position only onto data; the copy seeks anyway.
    if (lseek(in, from, SEEK_DATA) < 0 && errno != ENXIO) {
        lseek(in, from, SEEK_SET);
        return 0;
    }
    s->start = s->pos = s->data = (long long)from;
    s->stop = limit < 0 || limit > LLONG_MAX - from ? LLONG_MAX : from + limit;
    s->shift = (long long)to - (long long)from;
    return 1;
}

// Takes both files to in's offset at, past the hole from pos: out's end
// moves there too when it is open for appending, since it writes at its
// end. 0, or -1 with the last error set.
int sparse_seek(const Copy *c, const Sparse *s, long long at) {
    int bad = lseek(c->in, (off_t)at, SEEK_SET) < 0;
    if (!bad && s->append && at > s->pos)
        bad = ftruncate(c->out, (off_t)(at + s->shift)) < 0;
    else if (!bad && !s->append)
        bad = lseek(c->out, (off_t)(at + s->shift), SEEK_SET) < 0;
    if (bad)
        set_errno_error(errno);
    return bad ? -1 : 0;
}

// Ends the copy at in's offset end, in its last hole or at its end: out
// gets the same length, its tail a hole. The bytes copied, or -1.
long long sparse_end(const Copy *c, Sparse *s, long long end,
                     void (*step)(unsigned long long done)) {
    if (end > s->pos) {
        if (!s->append && ftruncate(c->out, (off_t)(end + s->shift)) < 0) {
            set_errno_error(errno);
            return -1;
        }
        if (sparse_seek(c, s, end) < 0)
            return -1;
        s->pos = end;
        if (step != nullptr)
            step((unsigned long long)(end - s->start));
    }
    return s->pos - s->start;
}

// The source's end as it is now (it may have grown or shrunk since the
// copy began), never before pos nor past stop; -1 with the last error set.
long long sparse_eof(const Copy *c, const Sparse *s) {
    struct stat st;
    if (fstat(c->in, &st) < 0) {
        set_errno_error(errno);
        return -1;
    }
    long long end = (long long)st.st_size;
    return end < s->pos ? s->pos : end > s->stop ? s->stop : end;
}

// The data of in, segment by segment, as the dense loop copies them; the
// step that finds the end counts as one as well, a hole skipped as none.
long long sparse_copy(Copy *c, Sparse *s, void (*step)(unsigned long long done)) {
    for (;;) {
        if (s->pos >= s->stop)
            return s->pos - s->start;
        if (fail_now(PLAT_CALL_READ) || fail_now(PLAT_CALL_WRITE))
            return -1;
        if (s->pos >= s->data) {
            off_t at = lseek(c->in, (off_t)s->pos, SEEK_DATA);
            if (at < 0 && errno != ENXIO) {
                set_errno_error(errno);
                return -1;
            }
            if (at < 0 || (long long)at >= s->stop) { // nothing but a hole up to the end
                long long end = at < 0 ? sparse_eof(c, s) : s->stop;
                return end < 0 ? -1 : sparse_end(c, s, end, step);
            }
            off_t hole = lseek(c->in, at, SEEK_HOLE);
            if (hole < 0) {
                set_errno_error(errno);
                return -1;
            }
            if (sparse_seek(c, s, (long long)at) < 0)
                return -1;
            s->pos = (long long)at;
            s->data = (long long)hole;
        }
        long long upto = s->data < s->stop ? s->data : s->stop;
        long long got = data_step(c, step_size(c->size, (unsigned long long)(upto - s->pos)), 0);
        if (got < 0)
            return -1;
        if (got == 0) // in ends before the data it claimed: it shrank, or never had it
            return s->pos - s->start;
        s->pos += got;
        if (step != nullptr)
            step((unsigned long long)(s->pos - s->start));
    }
}

} // namespace

long long plat_copydata(int in, int out, long long limit, void *buf, unsigned long size,
                        void (*step)(unsigned long long done)) {
    if (buf == nullptr || size == 0) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    Copy c = {in, out, (char *)buf, size, 1};
    Sparse s;
    if (sparse_start(in, out, limit, &s))
        return sparse_copy(&c, &s, step);
    // A file just opened and not read from yet is copied as long as it was
    // then (what is written to it meanwhile is no part of this copy, and a
    // move finds it changed and keeps it): its end needs no call of its own
    // to be found, one system call a file fewer. A file that says it is
    // empty (some of /proc) is read to its end.
    long long known;
    if (limit < 0 && opened_size(in, &known) && known > 0)
        limit = known;
    return dense_copy(&c, limit, step);
}
