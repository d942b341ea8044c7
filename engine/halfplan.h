// The arithmetic of writing a WaveRT cyclic buffer half by half, apart from the buffer and the
// clock so that tests drive it with numbers. The stream's bytes are numbered from the start of
// the buffer at RUN: half k of the stream is the bytes k x half .. (k + 1) x half - 1, and lies in
// half k % 2 of the buffer. played counts the bytes the hardware has read, written those written.
#pragma once

#include <windows.h>

struct RtHalfPlan {
    ULONGLONG written;    // written, moved past halves the hardware reached before they were
    ULONGLONG lateHalves; // rewritten: how many such halves (0 when none)
    bool writeHalf;       // the next half lies where the hardware has just been: write it
};

// What the pass does: write the next half whole, or else top up the half written last.
RtHalfPlan PlanHalf(ULONGLONG played, ULONGLONG written, DWORD half);

// The audio bytes of a half written whole from held ring bytes: at most a half, and whole frames
// while the host may still write, so that audio after a gap starts on a frame.
DWORD HalfAudio(DWORD held, DWORD half, DWORD block, bool hostMayWrite);

// The half written last may take audio in place of the silence at its end: while the hardware is
// a quarter of a half or more short of its start (never once inside it), and when the ring holds
// all it lacks. Returns the bytes to write at *at, or 0.
DWORD TopUpRoom(ULONGLONG played, ULONGLONG written, ULONGLONG audioEnd, DWORD half, DWORD held,
                ULONGLONG* at);

// How far past the end of a half the play position must read before the half counts as left:
// drivers report the position a few frames either side of where the DMA engine reads. A
// sixteenth of the half in whole frames, at least a frame.
DWORD RtMargin(DWORD half, DWORD block);
