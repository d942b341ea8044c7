// The stream's time as the host asks it: the time of the last seek (0 after an open), the bytes
// the host has written since, and the stream's audio the device has played since. Audio is
// counted in the device's bytes, in the order it left the ring: a pin's leading silence (the
// pre-roll) is no part of it, and audio a closed pin gave back unplayed counts when the next pin
// plays it. A gapless hand-over's new track counts from where its first byte left the ring.
//
// Threading: Wrote comes from the host's writing thread, WrittenMs from any host thread (64-bit
// counts read and changed with Interlocked operations). The rest is changed by the control path
// and read by host threads, both under the engine's state lock.
#pragma once

#include <windows.h>

class KSStreamClock {
  public:
    // A new stream (baseMs 0) or a seek: nothing written or played since; the pin's leading
    // silence stays (a seek drops what is left of it: NewPin(0)). hostRate: the host's bytes per
    // second.
    void Restart(int baseMs, DWORD hostRate);
    // A seek keeps the host's byte rate.
    void Restart(int baseMs) { Restart(baseMs, m_dwHostRate); }
    // A gapless hand-over: the new track's time and written bytes start at 0; its first byte is
    // the audio byte at.
    void NewTrack(DWORD hostRate, ULONGLONG at);

    void Wrote(DWORD bytes);
    int WrittenMs() const;

    // A new pin whose first lead bytes are silence (its pre-roll).
    void NewPin(DWORD lead) {
        m_qwLead = lead;
        m_nEpoch++;
    }
    // The pin goes, having played pinBytes of what it took (its lead included).
    void PinGone(ULONGLONG pinBytes);
    // The stream's audio played: that of earlier pins and pinBytes of the current one.
    ULONGLONG Audio(ULONGLONG pinBytes) const;
    // The time heard for audio played: the seek's time plus the track's audio, less latencyMs.
    int HeardMs(ULONGLONG audio, DWORD deviceRate, DWORD latencyMs) const;
    int BaseMs() const { return m_nBaseMs; }
    // Moves on with every change of what a pin's bytes count for (a restart, a new track, a pin
    // that comes or goes): a pin's count read before it no longer fits the clock.
    unsigned Epoch() const { return m_nEpoch; }

  private:
    int m_nBaseMs = 0;
    DWORD m_dwHostRate = 0;
    volatile LONGLONG m_qwWritten = 0; // host bytes written since the restart
    ULONGLONG m_qwBefore = 0;          // audio played by the pins gone since the restart
    ULONGLONG m_qwLead = 0;            // the current pin's leading silence
    ULONGLONG m_qwTrackAt = 0;         // the current track's first audio byte
    unsigned m_nEpoch = 0;
};
