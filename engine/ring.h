// The input ring's wrap-around: a stretch of bytes that starts at a position in the ring is split
// into the part before the ring's end and the part from its start. The stream buffer writes into
// the ring this way, and reads and drops out of it.
#pragma once

#include <windows.h>

// Calls part(ringPart, offset, length) for the non-empty parts of the n-byte stretch that starts
// at pos in the ring [base, base + size): ringPart is where the part lies in the ring, offset is
// its distance from the stretch's start. Returns the position just past the stretch, at base
// again when the stretch ends at the ring's end. n must not exceed size.
template <typename Part> BYTE* RingStretch(BYTE* base, DWORD size, BYTE* pos, DWORD n, Part part) {
    DWORD toEnd = (DWORD)(base + size - pos);
    DWORD first = n < toEnd ? n : toEnd;
    if (first > 0)
        part(pos, (DWORD)0, first);
    if (n > first) {
        part(base, first, n - first);
        return base + (n - first);
    }
    pos += first;
    return pos == base + size ? base : pos;
}
