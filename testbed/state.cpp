// The bed's shared state and the small helpers every part of the bed uses.
#include "testbed/state.h"

namespace simks {

namespace {

LONGLONG QpcFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

LONGLONG QpcNow() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

const LONGLONG g_qpcFrequency = QpcFrequency();
const LONGLONG g_qpcStart = QpcNow();

State* MakeState() {
    State* s = new State();
    InitializeCriticalSection(&s->cs);
    InitializeConditionVariable(&s->changed);
    s->clock = SIMKS_CLOCK_MANUAL;
    s->factor = 1.0;
    s->captureMemory = true;
    s->ksuser = SIMKS_KSUSER_OK;
    s->hasProcessPath = false;
    s->wake = NULL;
    s->thread = NULL;
    return s;
}

} // namespace

// Never destroyed: the bed's thread may still use it while the process ends.
State& Bed() {
    static State* s = MakeState();
    return *s;
}

LONGLONG NowUs() {
    LONGLONG ticks = QpcNow() - g_qpcStart;
    return ticks / g_qpcFrequency * 1000000 + ticks % g_qpcFrequency * 1000000 / g_qpcFrequency;
}

Device* FindDevice(int index) {
    State& s = Bed();
    if (index < 0 || index >= (int)s.devices.size())
        return nullptr;
    return &s.devices[index];
}

Stream* FindStream(int index) {
    State& s = Bed();
    if (index < 0 || index >= (int)s.streams.size())
        return nullptr;
    return &s.streams[index];
}

void Count(int kind) {
    InterlockedIncrement(&Bed().requests[kind]);
}

HANDLE NewHandle(Kind kind, int index) {
    HANDLE value = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!value)
        return NULL;
    Bed().handles.push_back(Handle{value, kind, index});
    return value;
}

Handle* FindHandle(HANDLE value) {
    for (Handle& h : Bed().handles)
        if (h.value == value)
            return &h;
    return nullptr;
}

void DropHandle(HANDLE value) {
    std::vector<Handle>& handles = Bed().handles;
    for (size_t i = 0; i < handles.size(); ++i) {
        if (handles[i].value == value) {
            CloseHandle(value);
            handles.erase(handles.begin() + i);
            return;
        }
    }
}

HANDLE EventOf(const OVERLAPPED* overlapped) {
    return (HANDLE)((ULONG_PTR)overlapped->hEvent & ~(ULONG_PTR)1);
}

void Signal(OVERLAPPED* overlapped, LONG status, ULONG information) {
    // The 32-bit status in the low half, as the platform's I/O status block holds it; callers
    // read it back as (LONG)Internal.
    overlapped->Internal = (ULONG_PTR)(ULONG)status;
    overlapped->InternalHigh = information;
    HANDLE event = EventOf(overlapped);
    if (event)
        SetEvent(event);
}

} // namespace simks
