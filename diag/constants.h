// Values that several parts of the plug-in share.
#pragma once

#include <windows.h>

// The largest volume: the host's scale and the engine's run from 0 to it, and at it the engine
// copies samples unscaled.
const int kMaxVolume = 255;

// Waits that poll sleep this long between two looks.
const DWORD kPollMs = 10;

// How long the engine waits for the device to answer before it treats the device as stopped: the
// return of the packets after KSSTATE_STOP and after the pin was closed, and the player thread's
// acknowledgement of a pause or of its end, a WaveRT play position that stands still. A device
// answers in milliseconds; one that starts or stops its clock (USB, Bluetooth) takes up to about a
// second.
constexpr DWORD kDeviceAnswerMs = 3000;

// The millisecond clock (timeGetTime) as the trace prints it: masked to a non-negative int.
const DWORD kMsClockMask = 0x7FFFFFFF;
