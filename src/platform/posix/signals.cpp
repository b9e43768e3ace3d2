// The run's own temporary files, and the signals that end a run.
//
// A copy is written under a temporary name and renamed into place only once
// complete. Ctrl-C, a kill or a hang-up in between would leave that file
// behind for good: no later run knows it is ours. So the backend remembers
// the few it has at any moment, and the handler of the signals that end a
// run removes them, puts the terminal back, and then lets the signal end
// the process with the status it would have had anyway.
#include "platform/posix/native.h"

#include <atomic>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

// A run has at most a list file and one copy in flight; the rest is room.
// A file that finds no slot is still made, it just is not cleaned up.
enum { SLOTS = 8 };

struct Slot {
    volatile sig_atomic_t used;
    char path[NATIVE_PATH_SIZE];
};
Slot slots[SLOTS];

const int endsigs[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
int hooked;

// Only async-signal-safe calls here: unlink, tcsetattr, signal, raise.
void on_signal(int sig) {
    for (Slot &s : slots)
        if (s.used)
            unlink(s.path);
    console_on_signal();
    signal(sig, SIG_DFL);
    raise(sig); // delivered, with the default action, once this returns
}

} // namespace

void signals_hook(void) {
    if (hooked)
        return;
    hooked = 1;
    struct sigaction act;
    std::memset(&act, 0, sizeof act);
    act.sa_handler = on_signal;
    sigemptyset(&act.sa_mask);
    for (int sig : endsigs)
        sigaddset(&act.sa_mask, sig);
    for (int sig : endsigs) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(sig, &act, nullptr);
    }
}

void temp_remember(const char *native) {
    signals_hook();
    size_t len = std::strlen(native);
    if (len >= NATIVE_PATH_SIZE)
        return;
    for (Slot &s : slots) {
        if (s.used)
            continue;
        std::memcpy(s.path, native, len + 1);
        // The handler must never see the slot in use before its path is.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        s.used = 1;
        return;
    }
}

void temp_forget(const char *native) {
    for (Slot &s : slots) {
        if (s.used && std::strcmp(s.path, native) == 0) {
            s.used = 0;
            return;
        }
    }
}
