// The unplugging thread: it polls the first stream's consumed bytes until the chosen point, takes
// its device out, and puts it back once the chosen pause has passed or qhost has finished playing.
#include "tools/qhost/unplug.h"

#include "testbed/simks.h"

#include <cstdio>
#include <cstring>

namespace {

const DWORD kLookMs = 2;

} // namespace

bool ParseUnplug(const char* text, UnplugPlan& plan) {
    int at = -1, back = plan.backAfterMs;
    char tail = 0;
    if (sscanf(text, "%d,never%c", &at, &tail) == 1 && at >= 0 && strstr(text, ",never")) {
        plan.atMs = at;
        plan.backAfterMs = -1;
        return true;
    }
    int n = sscanf(text, "%d,%d%c", &at, &back, &tail);
    if (n < 1 || n > 2 || at < 0 || back < 0)
        return false;
    plan.atMs = at;
    plan.backAfterMs = back;
    return true;
}

Unplugger::Unplugger(const UnplugPlan& plan) : m_plan(plan) {
    if (plan.atMs < 0)
        return;
    if (!m_watch.Start(Thread, this))
        fprintf(stderr, "qhost: cannot start the unplugging thread; the device stays in\n");
}

Unplugger::~Unplugger() {
    Finish();
}

UnplugOutcome Unplugger::Finish() {
    m_watch.Stop();
    return m_outcome;
}

// False when qhost finished before the first stream played that far.
bool Unplugger::WaitForPoint() {
    for (;;) {
        SimKsStreamInfo info;
        if (SimKs_StreamCount() > 0 && SimKs_GetStream(0, &info)) {
            ULONGLONG at = (ULONGLONG)m_plan.atMs * info.Format.Format.nAvgBytesPerSec / 1000;
            if (info.ConsumedBytes >= at && info.Open) {
                m_outcome.device = info.Device;
                return true;
            }
        }
        if (!Wait(kLookMs))
            return false;
    }
}

// True when the time passed; false when qhost asked the thread to end.
bool Unplugger::Wait(DWORD ms) {
    return m_watch.Wait(ms);
}

DWORD WINAPI Unplugger::Thread(LPVOID param) {
    Unplugger& self = *(Unplugger*)param;
    if (!self.WaitForPoint())
        return 0;
    self.m_outcome.atTick = GetTickCount();
    self.m_outcome.unplugged = SimKs_RemoveDevice(self.m_outcome.device) != FALSE;
    if (!self.m_outcome.unplugged)
        return 0;
    bool never = self.m_plan.backAfterMs < 0;
    bool inTime = self.Wait(never ? INFINITE : (DWORD)self.m_plan.backAfterMs) && !never;
    self.m_outcome.back = SimKs_RestoreDevice(self.m_outcome.device) && inTime;
    return 0;
}
