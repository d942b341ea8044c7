// The sizes of a WaveRT buffer: the half asked for and the sizes asked again.
#include "engine/rtsize.h"

namespace {

DWORD Gcd(DWORD a, DWORD b) {
    while (b) {
        DWORD r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// The least common multiple, or 0 when it passes limit.
DWORD Lcm(DWORD a, DWORD b, DWORD limit) {
    if (!a || !b)
        return 0;
    ULONGLONG l = (ULONGLONG)a / Gcd(a, b) * b;
    return l > limit ? 0 : (DWORD)l;
}

// The multiple of unit nearest n, at least unit.
DWORD Nearest(DWORD n, DWORD unit) {
    ULONGLONG k = ((ULONGLONG)n + unit / 2) / unit;
    return (DWORD)((k ? k : 1) * unit);
}

// The largest power of two that divides n, at most a page: drivers round to frames, to hardware
// boundaries of a power of two, or to pages.
DWORD PowerOfTwoGranule(DWORD n) {
    DWORD g = n & (~n + 1);
    return g && g <= 4096 ? g : 4096;
}

bool AskedBefore(const RtAsks& asks, DWORD size) {
    for (int i = 0; i < asks.count; i++)
        if (asks.asked[i] == size)
            return true;
    return false;
}

// The largest buffer ever asked for: the settings' largest half, twice, with room to round.
const DWORD kMaxBuffer = 64 * 1024 * 1024;

} // namespace

DWORD RtHalfUnit(DWORD block, DWORD align, DWORD maxBytes) {
    return Lcm(block, align, maxBytes);
}

DWORD RtWishedHalf(DWORD wish, DWORD unit, DWORD minBytes) {
    DWORD half = Nearest(wish, unit);
    if (half < minBytes)
        half = (DWORD)(((ULONGLONG)minBytes + unit - 1) / unit * unit);
    return half;
}

void RtFirstAsk(RtAsks* asks, DWORD unit, DWORD half, DWORD leastHalf) {
    asks->granule = 2 * unit;
    asks->least = 2 * leastHalf;
    asks->asked[0] = 2 * half;
    asks->answer[0] = 0;
    asks->count = 1;
}

DWORD RtNextAsk(RtAsks* asks, DWORD answered) {
    DWORD last = asks->asked[asks->count - 1];
    asks->answer[asks->count - 1] = answered;
    if (asks->count >= kRtMaxAsks)
        return 0;
    DWORD next = 0;
    if (answered) {
        asks->granule = Lcm(asks->granule, PowerOfTwoGranule(answered), kMaxBuffer);
        if (!asks->granule)
            return 0;
        next = Nearest(answered, asks->granule);
    } else {
        next = Nearest(last / 2, asks->granule);
    }
    if (next < asks->least)
        next =
            (DWORD)(((ULONGLONG)asks->least + asks->granule - 1) / asks->granule * asks->granule);
    while (AskedBefore(*asks, next) && answered && next <= kMaxBuffer - asks->granule)
        next += asks->granule;
    if (AskedBefore(*asks, next))
        return 0;
    asks->asked[asks->count] = next;
    asks->answer[asks->count] = 0;
    asks->count++;
    return next;
}
