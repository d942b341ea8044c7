// Values that several parts of the plug-in share.
#pragma once

#include <windows.h>

// The largest volume: the host's scale and the engine's run from 0 to it, and at it the engine
// copies samples unscaled.
const int kMaxVolume = 255;

// Waits that poll sleep this long between two looks.
const DWORD kPollMs = 10;

// The millisecond clock (timeGetTime) as the trace prints it: masked to a non-negative int.
const DWORD kMsClockMask = 0x7FFFFFFF;
