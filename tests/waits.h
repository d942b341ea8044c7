// Waiting in tests: for a state, never for a time. Every bound here only catches a hang, far
// beyond what a loaded machine needs, so how fast the machine runs never decides a result.
#pragma once

#include <windows.h>

#include <functional>
#include <gtest/gtest.h>

// A state the test waits for (bytes consumed, a packet queued, a window shown, a thread asleep)
// comes within a second even on a loaded machine; one still missing after this has hung.
const DWORD kHangMs = 60000;

// A host call that runs into the engine's bounded waits (a stalled device: about 12 s in the
// longest chain, a stall, the stop, the close and the player thread's end) returns within ten
// times that, or has hung.
const DWORD kCallHangMs = 120000;

// Polls ready until it holds; false when it still does not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& ready, DWORD timeoutMs = kHangMs) {
    DWORD start = GetTickCount();
    while (!ready()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(1);
    }
    return true;
}

// Runs call on a thread of its own and waits for it under kCallHangMs. A call that does not
// return is a hang that nothing can undo: it is reported and the test program ends.
void MustReturn(const char* what, std::function<void()> call);
