// Figures of WaveRT streams on the simulated WaveRT device, beside the packet path's.
#pragma once

#include "host/out_module.h"

// Time from Open to the first audio in the cyclic buffer, then seconds of 44.1 kHz 16-bit stereo
// in real time: the player thread's CPU time per second of audio and its wake-ups per second.
// Polled: the device offers no notifications. Leaves the first device chosen again.
void WaveRtFigures(Out_Module* mod, double seconds, bool polled);
// 2 s of 192 kHz 24-bit stereo at the default settings on the polled WaveRT device, with the
// system timer on 15.625 ms ticks: the stale halves the hardware replayed with the stream's 1 ms
// timer request and with that request refused, in the same run.
void CoarseTimerFigures(Out_Module* mod);
