// The sizes of a WaveRT buffer, apart from the pin so that tests drive them with numbers: the
// half asked for (whole frames, a multiple of the alignment the hardware wants, enough time for a
// thread that is late by a timer tick) and the next size to ask for when the driver answered a
// size whose halves are not whole frames or refused the one asked.
#pragma once

#include <windows.h>

// Alignment of each half where the device publishes none: High Definition Audio hardware starts
// its DMA fragments on 128-byte boundaries.
const DWORD kRtDefaultAlign = 128;
// The least a half holds: a thread late by a 15.6 ms timer tick still finds the half it writes
// unplayed when halves last this long and the timer runs at 1 ms.
const DWORD kRtMinHalfMs = 10;
// A hardware latency above this is not believed.
const DWORD kRtMaxLatencyMs = 10000;
// Buffer sizes asked for at most, the first included.
const int kRtMaxAsks = 4;

// The least common multiple of the frame size and the alignment; 0 when either is 0 or when it
// passes maxBytes (no half can be made).
DWORD RtHalfUnit(DWORD block, DWORD align, DWORD maxBytes);

// The half asked for: wish rounded to the nearest multiple of unit, raised to hold minBytes,
// and at least one unit.
DWORD RtWishedHalf(DWORD wish, DWORD unit, DWORD minBytes);

// The sizes of one open: each asked size and what came of it.
struct RtAsks {
    DWORD granule;            // every size asked is a multiple of it (two halves' unit at first)
    DWORD least;              // no size asked is smaller: two halves of the least time
    DWORD asked[kRtMaxAsks];  // sizes asked, in order
    DWORD answer[kRtMaxAsks]; // the driver's size for each, 0 where it refused
    int count;                // sizes asked so far
};

// Starts the record with the first size, two halves of half bytes; leastHalf is the smallest
// half asked later.
void RtFirstAsk(RtAsks* asks, DWORD unit, DWORD half, DWORD leastHalf);
// Records the answer to the last size asked (0: refused) and returns the next size to ask for,
// or 0 when the asks are used up or no new size remains. After a size that was answered, the
// next is the nearest to the answer that is also a multiple of the largest power of two (at most
// a page) that divides the answer (the driver rounds to such boundaries); after a refusal, the
// nearest to half the size last asked (drivers short of memory refuse large sizes). Never less
// than the least size, and never a size asked before: after an answer the next multiple of the
// granule above it, after a refusal none.
DWORD RtNextAsk(RtAsks* asks, DWORD answered);
