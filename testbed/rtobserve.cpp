// Reading what a simulated WaveRT stream observed: its buffer and DMA engine, its stale replays
// and the careful-client rules it saw broken.
#include "testbed/wavert.h"

using namespace simks;

namespace {

// The WaveRT stream numbered stream, or NULL.
Stream* FindWaveRt(int stream) {
    Stream* s = FindStream(stream);
    return s && s->rt.active ? s : nullptr;
}

} // namespace

extern "C" {

BOOL SimKs_GetWaveRt(int stream, SimKsWaveRtInfo* info) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    if (!s || !info)
        return FALSE;
    const WaveRt& rt = s->rt;
    SimKsWaveRtInfo i = {};
    i.BufferAddress = rt.buffer;
    i.RequestedSize = rt.requested;
    i.ActualSize = rt.size;
    i.Notifications = rt.notifications;
    i.EventsRegistered = (ULONG)rt.events.size();
    i.RegisterMapped = rt.regMapped;
    i.PlayOffset = rt.size ? (ULONG)(rt.played % rt.size) : 0;
    i.Pass = rt.size ? rt.played / rt.size : 0;
    i.HalvesConsumed = rt.halves;
    i.EventsSignalled = rt.signalled;
    i.PositionRequests = rt.positionRequests;
    i.PacketsWritten = rt.packetsWritten;
    i.PacketsLate = rt.packetsLate;
    i.PacketsOverrun = rt.packetsOverrun;
    i.EndOfStream = rt.eos;
    *info = i;
    return TRUE;
}

BOOL SimKs_WaveRtRewritten(int stream) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    if (!s || !s->rt.buffer || s->rt.size < 2)
        return FALSE;
    ULONG playing = (ULONG)(s->rt.played % s->rt.size) < s->rt.size / 2 ? 0 : 1;
    return HalfRewritten(s->rt, 1 - playing) ? TRUE : FALSE;
}

BOOL SimKs_WaveRtNextReady(int stream) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    if (!s || !s->rt.buffer || s->rt.size < 2)
        return FALSE;
    ULONG offset = (ULONG)(s->rt.played % s->rt.size), half = s->rt.size / 2;
    ULONG playing = offset < half ? 0 : 1;
    bool starts = offset == 0 || offset == half;
    return HalfRewritten(s->rt, starts ? playing : 1 - playing) ? TRUE : FALSE;
}

BOOL SimKs_WaitWaveRtRewritten(int stream, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!SimKs_WaveRtRewritten(stream)) {
        if (GetTickCount() - start >= timeoutMs)
            return FALSE;
        Sleep(1);
    }
    return TRUE;
}

int SimKs_StaleCount(int stream) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    return s ? (int)s->rt.stale.size() : 0;
}

BOOL SimKs_GetStale(int stream, int index, SimKsStale* stale) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    return s ? CopyItem(s->rt.stale, index, stale) : FALSE;
}

int SimKs_ViolationCount(int stream) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    return s ? (int)s->rt.violations.size() : 0;
}

BOOL SimKs_GetViolation(int stream, int index, SimKsViolation* violation) {
    Lock lock;
    Stream* s = FindWaveRt(stream);
    return s ? CopyItem(s->rt.violations, index, violation) : FALSE;
}

} // extern "C"
