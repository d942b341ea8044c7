// The system timer as Windows runs it by default, for the redirected module: with the coarse
// timer on, a timed wait that nothing ends sooner lasts until the next 15.625 ms tick, unless the
// module has asked for a 1 ms period (timeBeginPeriod) that it has not ended yet.
#include "testbed/hooks.h"
#include "testbed/simks.h"

#include <mmsystem.h>

namespace {

volatile LONG g_coarse = 0;  // the coarse timer is on
volatile LONG g_periods = 0; // 1 ms periods the module asked for and has not ended
volatile LONG g_refuse = 0;  // requests for a 1 ms period are refused

// The timeout rounded up to whole ticks of 15.625 ms (125/8 ms).
DWORD OnTicks(DWORD ms) {
    if (ms == 0 || ms == INFINITE || !g_coarse || g_periods > 0)
        return ms;
    ULONGLONG eighths = (ULONGLONG)ms * 8;
    ULONGLONG ticks = (eighths + 124) / 125;
    return (DWORD)(ticks * 125 / 8);
}

} // namespace

namespace simks {

namespace {

struct MultipleWait {
    DWORD count;
    const HANDLE* handles;
    BOOL all;
};

DWORD WaitMultiple(const void* context, DWORD ms) {
    const MultipleWait& w = *static_cast<const MultipleWait*>(context);
    return WaitForMultipleObjects(w.count, w.handles, w.all, OnTicks(ms));
}

DWORD WaitSingle(const void* context, DWORD ms) {
    return WaitForSingleObject(*static_cast<const HANDLE*>(context), OnTicks(ms));
}

} // namespace

DWORD WINAPI HookWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
    MultipleWait w{count, handles, all};
    return TickedWait(ms, WaitMultiple, &w);
}

DWORD WINAPI HookWaitForSingleObject(HANDLE handle, DWORD ms) {
    return TickedWait(ms, WaitSingle, &handle);
}

void WINAPI HookSleep(DWORD ms) {
    Sleep(OnTicks(ms));
}

MMRESULT WINAPI HookTimeBeginPeriod(UINT period) {
    if (g_refuse && period <= 1)
        return TIMERR_NOCANDO;
    MMRESULT r = timeBeginPeriod(period);
    if (r == TIMERR_NOERROR && period <= 1)
        InterlockedIncrement(&g_periods);
    return r;
}

MMRESULT WINAPI HookTimeEndPeriod(UINT period) {
    MMRESULT r = timeEndPeriod(period);
    if (r == TIMERR_NOERROR && period <= 1)
        InterlockedDecrement(&g_periods);
    return r;
}

void ResetTimer() {
    InterlockedExchange(&g_coarse, 0);
    InterlockedExchange(&g_refuse, 0);
}

} // namespace simks

extern "C" {

void SimKs_SetCoarseTimer(BOOL on) {
    InterlockedExchange(&g_coarse, on ? 1 : 0);
}

void SimKs_RefuseTimerPeriod(BOOL refuse) {
    InterlockedExchange(&g_refuse, refuse ? 1 : 0);
}

LONG SimKs_TimerPeriods(void) {
    return g_periods;
}

} // extern "C"
