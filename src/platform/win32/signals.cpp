// The run's own temporary files, and the console events that end a run.
//
// A copy is written under a temporary name and renamed into place only
// once complete. Ctrl-C, Ctrl-Break or closing the console in between
// would leave that file behind for good: no later run knows it is ours. So
// the backend remembers the few it has at any moment, and the console
// control handler (which the system runs on a thread of its own) deletes
// them, puts the console's input mode back, and ends the process with the
// status of an interrupted program, STATUS_CONTROL_C_EXIT: a script must
// never read an interrupted run as a success (Wine's own handler ends a
// process with status 0). It is installed when the run starts, so that an
// interrupted prompt ends that way too.
#include "platform/win32/native.h"

#include <cwchar>

namespace {

// A run has at most a list file and one copy in flight; the rest is room.
// A file that finds no slot is still made, it just is not cleaned up.
enum { SLOTS = 8 };

struct Slot {
    volatile LONG used;
    wchar_t path[WPATH_SIZE];
};
Slot slots[SLOTS];
volatile LONG inuse; // slots in use, so that forgetting costs nothing when none is
int hooked;

BOOL WINAPI on_event(DWORD event) {
    (void)event; // every event the handler is given ends the process
    for (Slot &s : slots)
        if (s.used)
            DeleteFileW(s.path);
    console_on_ctrl();
    ExitProcess(STATUS_CONTROL_C_EXIT);
    return TRUE;
}

} // namespace

void signals_hook(void) {
    if (hooked)
        return;
    hooked = 1;
    SetConsoleCtrlHandler(on_event, TRUE);
}

void temp_remember(const wchar_t *path) {
    signals_hook();
    size_t len = std::wcslen(path);
    if (len >= WPATH_SIZE)
        return;
    for (Slot &s : slots) {
        if (s.used)
            continue;
        std::wmemcpy(s.path, path, len + 1);
        // The handler must never see the slot in use before its path is.
        MemoryBarrier();
        s.used = 1;
        InterlockedIncrement(&inuse);
        return;
    }
}

namespace {

// The slot that remembers the path, or null.
Slot *slot_of(const wchar_t *path) {
    if (inuse == 0)
        return nullptr;
    wchar_t full[WPATH_SIZE];
    if (wfull(path, full, WPATH_SIZE) < 0)
        return nullptr;
    for (Slot &s : slots)
        if (s.used && _wcsicmp(s.path, full) == 0)
            return &s;
    return nullptr;
}

} // namespace

void temp_forget(const wchar_t *path) {
    Slot *s = slot_of(path);
    if (s != nullptr) {
        s->used = 0;
        InterlockedDecrement(&inuse);
    }
}

int temp_known(const wchar_t *path) { return slot_of(path) != nullptr; }
