// The cyclic-buffer output's streaming: each pass looks where the hardware plays, writes the half
// it has just left or tops up the half that plays next, and waits; the play-out at the end.
#include "engine/cyclicout.h"

#include "diag/constants.h"
#include "diag/log.h"
#include "engine/halfplan.h"
#include "engine/streambuffer.h"
#include "ks/rtpin.h"

#include <cstring>

// The pass looks at the pause and the mode before it touches the buffer; a thread that the end
// holds off (HoldPlayerThread) is in its wait or between passes, never inside Serve.
KSNext KSCyclicOutput::BeforeWait(KSWaitList& list) {
    if (m_site.Paused() || m_site.Mode() == kModeClosed) {
        m_bWatching = false;
        return KSNext::kSleep;
    }
    Serve();
    WatchPosition();
    FillWait(list);
    return m_bytes.Held() == 0 && !m_bQuiet ? KSNext::kRanDry : KSNext::kWait;
}

// The audio event (a write the thread waits for) and, event-driven, the driver's notification;
// no longer than a look's period (polled) or a half and a half (event-driven). While a fade plays
// the thread looks every millisecond: the pause or the seek waits for its end.
void KSCyclicOutput::FillWait(KSWaitList& list) {
    list.handles[0] = m_hAudio.Get();
    list.handles[1] = m_hNotify.Get();
    list.count = m_bEvents ? 2 : 1;
    list.timeoutMs = m_dwPollMs;
    if (m_bEvents) {
        DWORD due = m_bPositionRead ? MsUntilDue() : m_dwEventWaitMs;
        list.timeoutMs = due < m_dwEventWaitMs ? due : m_dwEventWaitMs;
    }
    if (m_bQuiet)
        list.timeoutMs = 1;
}

// Event-driven with a position: a notification that came early, twice or not at all still lets
// the thread look again when the position should have passed the end of the half plus the
// margin. At least 1 ms.
DWORD KSCyclicOutput::MsUntilDue() {
    ULONGLONG due = m_written - m_dwHalf + m_dwMargin, played = m_position.Played();
    if (due <= played || !m_dwRate)
        return 1;
    return (DWORD)((due - played) * 1000 / m_dwRate) + 1;
}

KSNext KSCyclicOutput::AfterWait(int wait) {
    if (wait == 1) // the driver's notification: the hardware finished a half
        m_bNotified = true;
    return KSNext::kDone;
}

// A running stream always has work: its halves come due whether or not the host writes.
bool KSCyclicOutput::HasWork() {
    return m_site.Mode() != kModeClosed;
}

void KSCyclicOutput::Serve() {
    Look();
    ULONGLONG seen = m_position.Played();
    DWORD margin = m_bPositionRead ? m_dwMargin : 0; // a notification counted ends a half
    RtHalfPlan plan = PlanHalf(seen > margin ? seen - margin : 0, m_written, m_dwHalf);
    if (plan.lateHalves && !m_bLoggedLate) {
        DiagLog(1, "WaveRT stream: the hardware reached %llu halves before they were rewritten",
                (unsigned long long)plan.lateHalves);
        m_bLoggedLate = true;
    }
    m_written = plan.written;
    if (m_bCut && !m_bQuiet)
        WriteCut();
    if (plan.writeHalf)
        WriteHalf();
    else if (!m_bCut && !m_bQuiet)
        TopUp();
    ULONGLONG played = m_position.Played();
    if (m_bQuiet && played >= m_fadeEnd)
        InterlockedExchange(&m_bFadePassed, 1);
    if (m_bEvents && m_source != kNoPosition && played >= m_notifiedAt + m_dwHalf + m_dwHalf / 2) {
        DiagLog(1,
                "WaveRT notification event silent for %llu bytes of play: the position is "
                "polled from now on",
                (unsigned long long)(played - m_notifiedAt));
        m_bEvents = 0;
    }
    InterlockedExchange(&m_bPlayedOut, played >= m_audioEnd);
    InterlockedExchange(&m_bWantAudio, m_source != kNoPosition && m_audioEnd < m_written &&
                                           m_site.Mode() == kModeOpen && !m_bQuiet);
}

// A running stream's position moves on its own, whether or not the host writes: one that stands
// still for the time the device has to answer plus two halves' playing means the device stopped
// taking audio (unplugged, or its DMA engine stopped in a sleep). The stream's device is then lost
// and awaited. The end watches its play-out itself.
void KSCyclicOutput::WatchPosition() {
    ULONGLONG played = m_position.Played();
    DWORD now = GetTickCount();
    if (!m_bWatching || played != m_stillAt || m_site.Mode() != kModeOpen) {
        m_bWatching = true;
        m_stillAt = played;
        m_dwStillSince = now;
        return;
    }
    ULONGLONG bound = kDeviceAnswerMs + (m_dwRate ? 2ULL * m_dwHalf * 1000 / m_dwRate : 0);
    if (now - m_dwStillSince <= bound)
        return;
    DiagLog(1, "WaveRT play position stood still for %lu ms while the stream ran",
            now - m_dwStillSince);
    m_bWatching = false;
    m_site.DeviceLost(StallText());
}

// Brings the count of bytes played up to the hardware: by the play position where it can be
// read, else by the notification that woke the thread (the end of a half).
void KSCyclicOutput::Look() {
    ULONG offset = 0;
    m_bPositionRead = m_source != kNoPosition && ReadPosition(&offset);
    if (m_bPositionRead) {
        DWORD back = m_position.Offset(offset);
        if (back && !m_bLoggedBack)
            DiagLog(1, "WaveRT play position went back %lu bytes: held where it was", back);
        m_bLoggedBack = m_bLoggedBack || back;
    } else if (m_bNotified)
        m_position.HalfDone();
    if (m_bNotified)
        m_notifiedAt = m_position.Played();
    m_bNotified = false;
    m_dwPlayOffset = m_position.LastOffset();
    m_dwPlayedLow = (DWORD)m_position.Played();
    Publish();
}

// The pin checks every offset against the buffer: one outside it is never used. A failure is
// logged once per stream; the look then goes without a position.
bool KSCyclicOutput::ReadPosition(ULONG* offset) {
    bool reg = m_source == kRegister;
    HRESULT hr = reg ? m_pRtPin->ReadPositionRegister(offset) : m_pRtPin->GetAudioPosition(offset);
    if (SUCCEEDED(hr))
        return true;
    if (!m_bLoggedPosition) {
        if (hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
            DiagLog(1, "WaveRT play position outside the %lu-byte buffer: ignored",
                    (DWORD)m_dwSize);
        LogCause(reg ? "CKsRtPin::ReadPositionRegister" : "CKsRtPin::GetAudioPosition", hr);
    }
    m_bLoggedPosition = true;
    return false;
}

// Writes the stream's next half, which lies where the hardware has just been: the ring's audio,
// then silence for what it lacks (while a fade plays, the fade's rest). The ring's fill is read
// once: the host may add to it meanwhile.
void KSCyclicOutput::WriteHalf() {
    ULONGLONG at = m_written;
    bool hostMayWrite = m_site.Mode() == kModeOpen && m_site.Started();
    DWORD n =
        m_bQuiet ? QuietAudio(at) : HalfAudio(m_bytes.Held(), m_dwHalf, m_dwBlock, hostMayWrite);
    if (n && !m_bQuiet)
        Put(at, n);
    memset(m_pBuffer + (DWORD)(at % m_dwSize) + n, m_bSilence, m_dwHalf - n);
    if (m_bBarrier)
        MemoryBarrier();
    m_written = at + m_dwHalf;
}

void KSCyclicOutput::TopUp() {
    if (m_source == kNoPosition)
        return;
    ULONGLONG at = 0;
    DWORD room =
        TopUpRoom(m_position.Played(), m_written, m_audioEnd, m_dwHalf, m_bytes.Held(), &at);
    if (!room)
        return;
    Put(at, room);
    if (m_bBarrier)
        MemoryBarrier();
    // A thread held up between its look and the copy may find the hardware already past.
    Look();
    ULONGLONG played = m_position.Played();
    if (played > at && !m_bLoggedOvertaken) {
        DWORD lost = (DWORD)((played < at + room ? played : at + room) - at);
        DiagLog(1,
                "WaveRT stream: the hardware passed %lu bytes of audio while they were written: "
                "they played as silence",
                lost);
        m_bLoggedOvertaken = true;
    }
}

// Moves n bytes of the ring to the stream's byte at (all in one half). Silence between the last
// real byte and these was heard as a gap: it counts as starvation. Silence before the first real
// byte of the stream does not.
void KSCyclicOutput::Put(ULONGLONG at, DWORD n) {
    if (m_audioEnd && at > m_audioEnd) {
        InterlockedExchangeAdd((volatile LONG*)&m_dwStarved, (LONG)(at - m_audioEnd));
        InterlockedIncrement(&m_nGaps);
    }
    InterlockedExchange(&m_bPlayedOut, 0);
    m_audioEnd = at + n;
    m_bytes.Read(m_pBuffer + (DWORD)(at % m_dwSize), n);
    m_bytes.CountHanded(n);
    CsGuard lock(m_csClock);
    if (!m_bFirst)
        m_firstAt = at;
    m_bFirst = true;
    m_taken += n;
}

// The end: the ring goes into halves and plays, silence follows. On the player thread (a gapless
// underrun) the thread serves the stream itself, through its one wait.
void KSCyclicOutput::AwaitPlayOut(bool self) {
    if (!self) {
        Sleep(kPollMs);
        return;
    }
    Serve();
    KSWaitList list = {};
    FillWait(list);
    AfterWait(m_site.Wait(list));
}
