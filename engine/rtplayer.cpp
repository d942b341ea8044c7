// The player thread's part of a WaveRT stream. Each pass looks where the hardware is, writes the
// half it has just left from the ring (read and scaled as packets are, by ReadRing) with silence
// for what the ring lacks, tops up the half that plays next when audio comes in time, and waits
// for the driver's notification, the next look at the position, or a write it waits for. The end
// of a stream plays out here too: everything written plays, then silence, until the hardware has
// passed the last real sample. The hardware never meets a half that was not rewritten, unless
// this thread itself is late.
#include "engine/kscore.h"

#include "diag/log.h"
#include "ks/rtpin.h"

#include <cstring>

// The pass looks at the pause and the mode before it touches the buffer; a thread that the end
// holds off (HoldPlayerThread) is in RtWait or between passes, never inside RtServe.
void KSCore::RtPass() {
    if (m_bPaused || m_nMode == MODE_CLOSED) {
        GoToSleep();
        return;
    }
    LONG generation = m_rt.generation;
    RtServe();
    if (RtWait() && generation == m_rt.generation)
        m_rt.notified = true;
}

void KSCore::RtServe() {
    RtLook();
    ULONGLONG playing = m_rt.played / m_rt.half; // the stream's half the hardware is in
    ULONGLONG next = m_rt.written / m_rt.half;   // the stream's half to write next
    if (next <= playing) {
        if (!m_rt.loggedLate)
            DiagLog(1, "WaveRT stream: the hardware reached %llu halves before they were rewritten",
                    (unsigned long long)(playing + 1 - next));
        m_rt.loggedLate = true;
        m_rt.written = (playing + 1) * m_rt.half;
        next = playing + 1;
    }
    if (next == playing + 1)
        RtWriteHalf();
    else
        RtTopUp();
    if (m_rt.kind == RT_EVENT && m_rt.position != RT_POSITION_NONE &&
        m_rt.played >= m_rt.notifiedAt + m_rt.half + m_rt.half / 2) {
        DiagLog(1,
                "WaveRT notification event silent for %llu bytes of play: the position is "
                "polled from now on",
                (unsigned long long)(m_rt.played - m_rt.notifiedAt));
        m_rt.kind = RT_POLLED;
    }
    InterlockedExchange(&m_rt.playedOut, m_rt.played >= m_rt.audioEnd);
    InterlockedExchange(&m_rt.wantAudio, m_rt.position != RT_POSITION_NONE &&
                                             m_rt.audioEnd < m_rt.written && m_nMode == MODE_OPEN);
    if (m_nInputUsed == 0)
        EndOnGaplessUnderrun();
}

// Waits for the stop event, a write that the thread waits for, or the driver's notification;
// no longer than a look's period (polled) or a half and a half (event-driven). True when the
// notification ended the wait.
bool KSCore::RtWait() {
    HANDLE waits[3] = {m_phEvents[0], m_hRtWake.Get(), m_hRtEvent.Get()};
    bool events = m_rt.kind == RT_EVENT;
    InterlockedExchange(&m_bInPacketWait, 1);
    DWORD wait = WaitForMultipleObjects(events ? 3 : 2, waits, FALSE,
                                        events ? m_rt.eventWaitMs : m_rt.pollMs);
    InterlockedExchange(&m_bInPacketWait, 0);
    switch (wait) {
    case WAIT_OBJECT_0 + 0: // stop event
        ResetEvent(m_phEvents[0]);
        return false;
    case WAIT_OBJECT_0 + 1: // the host wrote while the thread waits for audio
    case WAIT_TIMEOUT:      // time for a look
        return false;
    case WAIT_OBJECT_0 + 2: // the driver's notification: the hardware finished a half
        return true;
    default:
        DiagLog(1, "Player thread wait failed (%lu)", GetLastError());
        Sleep(kPollMs);
        return false;
    }
}

// Brings the count of bytes played up to the hardware: by the play position where it can be
// read, else by the notification that woke the thread (the end of a half).
void KSCore::RtLook() {
    ULONG offset = 0;
    if (m_rt.position != RT_POSITION_NONE && RtReadPosition(&offset)) {
        DWORD last = m_rt.lastOffset;
        m_rt.played += offset >= last ? offset - last : offset + m_rt.size - last;
        m_rt.lastOffset = offset;
    } else if (m_rt.notified) {
        m_rt.played = (m_rt.played / m_rt.half + 1) * m_rt.half;
        m_rt.lastOffset = (DWORD)(m_rt.played % m_rt.size);
    }
    if (m_rt.notified)
        m_rt.notifiedAt = m_rt.played;
    m_rt.notified = false;
    m_rt.playOffset = m_rt.lastOffset;
    m_rt.playedLow = (DWORD)m_rt.played;
}

// The pin checks every offset against the buffer: one outside it is never used. A failure is
// logged once per stream; the look then goes without a position.
bool KSCore::RtReadPosition(ULONG* offset) {
    bool reg = m_rt.position == RT_POSITION_REGISTER;
    HRESULT hr = reg ? m_rt.pin->ReadPositionRegister(offset) : m_rt.pin->GetAudioPosition(offset);
    if (SUCCEEDED(hr))
        return true;
    if (!m_rt.loggedPosition) {
        if (hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
            DiagLog(1, "WaveRT play position outside the %lu-byte buffer: ignored",
                    (DWORD)m_rt.size);
        LogCause(reg ? "CKsRtPin::ReadPositionRegister" : "CKsRtPin::GetAudioPosition", hr);
    }
    m_rt.loggedPosition = true;
    return false;
}

// Writes the stream's next half, which lies where the hardware has just been: the ring's audio,
// then silence for what it lacks. While the host may still write, the audio ends on a whole
// frame, so that audio after a gap starts on one.
void KSCore::RtWriteHalf() {
    ULONGLONG at = m_rt.written;
    DWORD held = (DWORD)m_nInputUsed; // read once: the host may add to it meanwhile
    DWORD n = held < m_rt.half ? held : m_rt.half;
    if (n < m_rt.half && m_nMode == MODE_OPEN && m_bStarted)
        n -= n % m_rt.block;
    if (n)
        RtPut(at, n);
    memset(m_rt.buffer + (DWORD)(at % m_rt.size) + n, m_rt.silence, m_rt.half - n);
    if (m_rt.barrier)
        MemoryBarrier();
    m_rt.written = at + m_rt.half;
}

// The half written last may still take audio in place of the silence at its end: while the
// hardware is a quarter of a half or more away from it, and when the ring holds all it lacks.
void KSCore::RtTopUp() {
    ULONGLONG start = m_rt.written - m_rt.half;
    ULONGLONG at = m_rt.audioEnd > start ? m_rt.audioEnd : start;
    DWORD room = (DWORD)(m_rt.written - at);
    if (!room || m_rt.position == RT_POSITION_NONE || start - m_rt.played < m_rt.half / 4 ||
        (DWORD)m_nInputUsed < room)
        return;
    RtPut(at, room);
    if (m_rt.barrier)
        MemoryBarrier();
}

// Moves n bytes of the ring to the stream's byte at (all in one half). Silence between the last
// real byte and these was heard as a gap: it counts as starvation. Silence before the first real
// byte of the stream does not.
void KSCore::RtPut(ULONGLONG at, DWORD n) {
    if (m_rt.audioEnd && at > m_rt.audioEnd) {
        InterlockedExchangeAdd((volatile LONG*)&m_rt.starvedBytes, (LONG)(at - m_rt.audioEnd));
        InterlockedIncrement(&m_rt.gaps);
    }
    InterlockedExchange(&m_rt.playedOut, 0);
    m_rt.audioEnd = at + n;
    InterlockedExchangeAdd((volatile LONG*)&m_dwBytesWritten, (LONG)n);
    ReadRing(m_rt.buffer + (DWORD)(at % m_rt.size), n);
}

// The end of a stream: the ring goes into halves and plays, silence follows. True once the
// hardware has passed the last real sample; false when the play position stood still for
// StallMs(). On the player thread (a gapless underrun) the thread serves the stream itself.
bool KSCore::RtPlayOut() {
    bool self = GetCurrentThreadId() == m_dwThreadId;
    if (!self)
        WakeThread();
    DWORD progress = m_rt.playedLow, since = GetTickCount();
    while (m_nInputUsed != 0 || !m_rt.playedOut) {
        if (!self)
            Sleep(kPollMs);
        else {
            RtServe();
            if (RtWait())
                m_rt.notified = true;
        }
        if (m_rt.playedLow != progress) {
            progress = m_rt.playedLow;
            since = GetTickCount();
        } else if (GetTickCount() - since > StallMs()) {
            return false;
        }
    }
    return true;
}
