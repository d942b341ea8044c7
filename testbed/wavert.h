// WaveRT streams of simulated devices: the DMA engine over the client's cyclic buffer (dma.cpp),
// the RtAudio and Audio property answers with the careful-client checks (rtprops.cpp), and the
// devices themselves (rtdevice.cpp). Every function expects the caller to hold Bed().cs.
#pragma once

#include "testbed/props.h"

#include "testbed/rtplatform.h"

namespace simks {

// Instances of the pin held by another client (SIMKS_RT_IN_USE on a WaveRT device's render pin).
ULONG HeldElsewhere(const Device& d, ULONG pinId);

// Answers a request of any set but KSPROPSETID_Connection on a WaveRT stream's pin.
Answer AnswerWaveRt(int stream, const void* input, ULONG inputSize, const void* output,
                    ULONG outputSize);
// 0 when the WaveRT stream may take the state (always for other streams); otherwise the Win32
// error that refuses it, with any violation recorded.
DWORD CheckWaveRtState(Stream& s, ULONG state);
// Records a violation of the careful-client rules.
void Violation(Stream& s, ULONG kind, const char* text);
// At close: records what a careful client would have done first, then frees the stream's memory.
void CloseWaveRt(Stream& s);
// Frees the buffer, the register page and the event duplicates.
void ReleaseWaveRt(Stream& s);

// The DMA engine's part of a state change, run before the stream takes the new state.
void WaveRtStateChanging(Stream& s, ULONG state, LONGLONG now);
// Moves the DMA engine by bytes: reads, records, marks, updates the register, notifies.
void AdvanceDma(Stream& s, ULONGLONG bytes);
// Real-time clock: moves the engine up to now.
void CatchUp(Stream& s, LONGLONG now);
// Real-time clock: restarts the rate from the current position (a new clock or factor).
void ReanchorWaveRt(Stream& s, LONGLONG now);
// Real-time clock: catches every running WaveRT stream up; returns when to look again.
LONGLONG RunWaveRtClock(LONGLONG now);
// The play offset as the register and the position property report it.
ULONGLONG ReportedPosition(const Stream& s);
// Writes the reported position into the mapped register, if any.
void WriteRegister(Stream& s);
// Marks the whole buffer as never written (at allocation).
void MarkAll(WaveRt& rt);
// TRUE when the buffer still holds a run of bytes never written.
bool HasUnwritten(const WaveRt& rt);
// TRUE when no word of the buffer's half (0 or 1) carries the mark: the client wrote all of it
// after the engine last read it, or the engine never read it.
bool HalfRewritten(const WaveRt& rt, ULONG half);

} // namespace simks
