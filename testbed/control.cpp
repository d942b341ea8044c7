// Bed-wide controls: reset, time, the render clock, capture, ksuser.dll and the process path.
#include "testbed/capture.h"
#include "testbed/hooks.h"
#include "testbed/stream.h"
#include "testbed/wavert.h"

#include <climits>

using namespace simks;

extern "C" {

void SimKs_Reset(void) {
    Lock lock;
    State& bed = Bed();
    LONGLONG now = NowUs();
    for (Stream& s : bed.streams) {
        CompleteQueued(s, INT_MAX, SIMKS_PACKET_CANCELLED, kStatusCancelled, now);
        ReleaseWaveRt(s);
        WavClose(s);
    }
    FlushDeferred();
    // The events behind simulated handles stay open: a handle the product still holds keeps a
    // value that no new object can take, and its late CloseHandle closes that event.
    bed.handles.clear();
    bed.devices.clear();
    bed.streams.clear();
    bed.sets.clear();
    bed.boxes.clear();
    bed.debugLines.clear();
    bed.levelSets.clear();
    for (LONG& n : bed.requests)
        n = 0;
    bed.clock = SIMKS_CLOCK_MANUAL;
    bed.factor = 1.0;
    bed.captureMemory = true;
    bed.capturePath.clear();
    bed.ksuser = SIMKS_KSUSER_OK;
    bed.hasProcessPath = false;
    bed.processPath.clear();
    SimKs_DisarmAllocations();
    ResetTimer();
}

LONGLONG SimKs_Now(void) {
    return NowUs();
}

BOOL SimKs_SetClock(int mode, double factor) {
    if (mode < SIMKS_CLOCK_MANUAL || mode > SIMKS_CLOCK_UNPACED || !(factor > 0))
        return FALSE;
    Lock lock;
    Bed().clock = mode;
    Bed().factor = factor;
    ClockChanged();
    return TRUE;
}

BOOL SimKs_SetCapture(BOOL toMemory, const char* wavPath) {
    if (wavPath && strlen(wavPath) >= MAX_PATH)
        return FALSE;
    Lock lock;
    Bed().captureMemory = toMemory != FALSE;
    Bed().capturePath = wavPath ? wavPath : "";
    return TRUE;
}

void SimKs_SetKsUser(int mode) {
    Lock lock;
    Bed().ksuser = mode;
}

BOOL SimKs_SetProcessPath(const char* path) {
    if (path && strlen(path) >= MAX_PATH)
        return FALSE;
    Lock lock;
    Bed().hasProcessPath = path != nullptr;
    Bed().processPath = path ? path : "";
    return TRUE;
}

} // extern "C"
