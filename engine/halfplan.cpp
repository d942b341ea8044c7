// The half-by-half arithmetic of the cyclic-buffer output.
#include "engine/halfplan.h"

RtHalfPlan PlanHalf(ULONGLONG played, ULONGLONG written, DWORD half) {
    ULONGLONG playing = played / half; // the stream's half the hardware is in
    ULONGLONG next = written / half;   // the stream's half to write next
    RtHalfPlan plan = {written, 0, false};
    if (next <= playing) {
        plan.lateHalves = playing + 1 - next;
        plan.written = (playing + 1) * half;
        next = playing + 1;
    }
    plan.writeHalf = next == playing + 1;
    return plan;
}

DWORD HalfAudio(DWORD held, DWORD half, DWORD block, bool hostMayWrite) {
    DWORD n = held < half ? held : half;
    if (n < half && hostMayWrite)
        n -= n % block;
    return n;
}

DWORD TopUpRoom(ULONGLONG played, ULONGLONG written, ULONGLONG audioEnd, DWORD half, DWORD held,
                ULONGLONG* at) {
    ULONGLONG start = written - half;
    *at = audioEnd > start ? audioEnd : start;
    DWORD room = (DWORD)(written - *at);
    if (!room || played + half / 4 > start || held < room)
        return 0;
    return room;
}

DWORD RtMargin(DWORD half, DWORD block) {
    DWORD margin = half / 16 / block * block;
    return margin ? margin : block;
}
