#include "platform/common/failhooks.h"

namespace {

struct Armed {
    int left; // calls to go before the failure; 0 when disarmed
    unsigned code;
};
Armed armed[PLAT_CALL_COUNT];

struct Hook {
    int left; // calls to go before it runs; 0 when disarmed
    void (*fn)(void *);
    void *arg;
};
Hook hooks[PLAT_CALL_COUNT];

int known(PlatCall call) { return (int)call >= 0 && call < PLAT_CALL_COUNT; }

// Disarmed before it runs, so that a hook may arm itself again.
void run_hook(PlatCall call) {
    Hook &h = hooks[call];
    if (h.left == 0 || --h.left != 0)
        return;
    h.fn(h.arg);
}

} // namespace

void plat_failcall(PlatCall call, int nth, unsigned code) {
    if (!known(call))
        return;
    armed[call].left = nth > 0 ? nth : 0;
    armed[call].code = code;
}

void plat_hookcall(PlatCall call, int nth, void (*hook)(void *arg), void *arg) {
    if (!known(call))
        return;
    hooks[call].left = nth > 0 && hook != nullptr ? nth : 0;
    hooks[call].fn = hook;
    hooks[call].arg = arg;
}

int fail_now(PlatCall call) {
    if (!known(call))
        return 0;
    run_hook(call);
    if (armed[call].left == 0)
        return 0;
    if (--armed[call].left != 0)
        return 0;
    plat_setlasterror(armed[call].code);
    return 1;
}

int fail_armed(PlatCall call) {
    return known(call) && (armed[call].left != 0 || hooks[call].left != 0);
}
