// The millisecond clock of the redirected modules: the system's, moved forward by what the tests
// asked for, so that a bound of many seconds passes at once. Their timed waits end by it.
#include "testbed/hooks.h"
#include "testbed/simks.h"

namespace {

volatile LONG g_aheadMs = 0; // how far the clock runs ahead of the system's

// A long wait looks at the clock this often.
const DWORD kSliceMs = 50;

} // namespace

namespace simks {

DWORD WINAPI HookGetTickCount() {
    return GetTickCount() + (DWORD)g_aheadMs;
}

DWORD TickedWait(DWORD ms, DWORD (*wait)(const void* context, DWORD ms), const void* context) {
    if (ms == INFINITE || ms <= kSliceMs)
        return wait(context, ms);
    DWORD start = HookGetTickCount();
    for (;;) {
        DWORD gone = HookGetTickCount() - start;
        if (gone >= ms)
            return WAIT_TIMEOUT;
        DWORD left = ms - gone;
        DWORD result = wait(context, left < kSliceMs ? left : kSliceMs);
        if (result != WAIT_TIMEOUT)
            return result;
    }
}

} // namespace simks

extern "C" void SimKs_AdvanceTicks(DWORD ms) {
    InterlockedExchangeAdd(&g_aheadMs, (LONG)ms);
}
