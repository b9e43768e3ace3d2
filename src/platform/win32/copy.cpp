// The data of a copy, through the caller's buffer.
#include "platform/win32/native.h"

#include <cwchar>

// Windows has no kernel copy between two open handles: the data goes
// through buf, a step a read and a write as the contract counts them.
long long plat_copydata(int in, int out, long long limit, void *buf, unsigned long size,
                        void (*step)(unsigned long long done)) {
    if (buf == nullptr || size == 0) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    if (size > 0x40000000UL)
        size = 0x40000000UL;
    long long done = 0;
    for (;;) {
        DWORD want = (DWORD)size;
        if (limit >= 0 && (unsigned long long)(limit - done) < want)
            want = (DWORD)(limit - done);
        if (want == 0)
            return done;
        if (fail_now(PLAT_CALL_READ) || fail_now(PLAT_CALL_WRITE))
            return -1;
        long got = raw_read(in, buf, want);
        if (got <= 0)
            return got < 0 ? -1 : done;
        if (raw_write(out, buf, (unsigned long)got) < 0)
            return -1;
        done += got;
        if (step != nullptr)
            step((unsigned long long)done);
    }
}

