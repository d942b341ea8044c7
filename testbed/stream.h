// Streams of simulated pins: the packet queue, its completion by the render clock, state changes
// and starvation, and the bed's thread that answers late requests and runs the real-time clock.
#pragma once

#include "testbed/state.h"

namespace simks {

// Opens a stream for a created pin; returns its number, or -1 when out of memory.
int OpenStream(int device, ULONG pinId, const KsPinConnect* connect,
               const KsDataFormatWave* format);
// Completes every queued packet unconsumed, finishes the WAV file and marks the stream closed.
void CloseStream(int stream);
void SetStreamState(int stream, ULONG state);
// Handles IOCTL_KS_WRITE_STREAM; returns the Win32 error (ERROR_IO_PENDING when accepted).
DWORD WriteStream(int stream, void* output, ULONG outputSize, OVERLAPPED* overlapped);
// Completes up to count queued packets, oldest first, with the given outcome and status.
int CompleteQueued(Stream& s, int count, ULONG outcome, LONG status, LONGLONG nowUs);
// IOCTL_KS_RESET_STATE on a standard pin; returns the Win32 error (0 when done).
DWORD ResetStream(int stream, const void* in, ULONG inSize);
// Bytes the stream's device has played: consumed, and of the head packet (standard pins).
ULONGLONG StandardPlayed(const Stream& s, LONGLONG now);
// Records what the real-time clock played of the head packet, before it is cancelled.
void RecordHeadPlayed(Stream& s, LONGLONG now);
// The clock changed: restarts real-time playing positions, completes packets when unpaced.
void ClockChanged();
// Whether the stream's device holds its packets (SimKs_SetHold): at least mode.
bool Held(const Stream& s, int mode);
// The device let go: closed streams give back what they kept, open ones go on with the clock.
void ReleaseHeld(int device);
// Queues a request for the bed's thread.
void Defer(const Deferred& d);
// Completes every deferred request at once (cancelled).
void FlushDeferred();
// Ends the pending property request of that OVERLAPPED (null: every one) with STATUS_CANCELLED
// and no data; returns how many ended.
int CancelDeferred(const OVERLAPPED* overlapped);

} // namespace simks
