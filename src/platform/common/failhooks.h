// The failures and hooks a test can arm on a backend's calls
// (plat_failcall, plat_hookcall), kept alike for both backends so that a
// test arms the nth call of a kind the same way on each.
#pragma once

#include "platform/platform.h"

// 1 when an armed failure of `call` fires now (the last error is then set
// to the armed code and the caller must fail without touching anything).
// A hook armed for the call runs first.
int fail_now(PlatCall call);
// 1 when a failure or a hook is armed for `call`: its calls are being
// counted, so a caller that could do several steps in one call takes them
// one by one.
int fail_armed(PlatCall call);
