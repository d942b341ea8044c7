// The cyclic-buffer output's seek: silence from just past the play position, the next audio
// written there.
#include "engine/cyclicout.h"

#include "diag/log.h"
#include "engine/halfplan.h"
#include "engine/streambuffer.h"
#include "ks/rtpin.h"

#include <cstring>

// The player thread is held. Without a play position the hardware may be anywhere in the half
// it plays: everything from that half's start is silenced, and the next audio follows the halves
// written. A half that has come due is written here, as silence: the hardware then has the whole
// buffer to play before the thread, let go, must write again.
void KSCyclicOutput::Flush() {
    Look();
    ULONGLONG played = m_position.Played();
    DWORD margin = m_bPositionRead ? m_dwMargin : 0;
    RtHalfPlan plan = PlanHalf(played > margin ? played - margin : 0, m_written, m_dwHalf);
    m_written = plan.written;
    if (plan.writeHalf) {
        Silence(m_written, m_written + m_dwHalf);
        m_written += m_dwHalf;
    }
    ULONGLONG cut = m_written;
    ULONGLONG from = played;
    if (m_source != kNoPosition) {
        ULONGLONG past = played + m_dwMargin + m_dwBlock - 1;
        cut = past - past % m_dwBlock;
        from = cut < m_written ? cut : m_written;
    }
    Silence(from, m_written);
    m_bCut = cut < m_written;
    m_cutAt = cut;
    m_audioEnd = 0;
    InterlockedExchange(&m_bPlayedOut, 1);
    InterlockedExchange(&m_bQuiet, 0);
    // The host's next write wakes the thread, which puts it at the cut at once.
    InterlockedExchange(&m_bWantAudio, m_bCut);
    CsGuard lock(m_csClock);
    m_bFirst = false;
    m_taken = 0;
}

// The stream's bytes from .. to (at most the buffer) become silence.
void KSCyclicOutput::Silence(ULONGLONG from, ULONGLONG to) {
    if (to - from > m_dwSize)
        from = to - m_dwSize;
    for (ULONGLONG at = from; at < to;) {
        DWORD offset = (DWORD)(at % m_dwSize);
        DWORD n = m_dwSize - offset;
        if (n > to - at)
            n = (DWORD)(to - at);
        memset(m_pBuffer + offset, m_bSilence, n);
        at += n;
    }
    if (m_bBarrier)
        MemoryBarrier();
}

// After a seek the ring's audio goes at the cut, moved on past a position that reached it, up to
// the end of the halves written; once that stretch is full the halves take over.
void KSCyclicOutput::WriteCut() {
    ULONGLONG past = m_position.Played() + m_dwMargin + m_dwBlock - 1;
    past -= past % m_dwBlock;
    if (past > m_cutAt)
        m_cutAt = past;
    if (m_cutAt >= m_written) {
        m_bCut = false;
        return;
    }
    DWORD room = (DWORD)(m_written - m_cutAt);
    DWORD held = m_bytes.Held();
    DWORD n = held < room ? held : room;
    n -= n % m_dwBlock;
    ULONGLONG at = m_cutAt;
    while (n) {
        DWORD offset = (DWORD)(at % m_dwSize);
        DWORD part = n < m_dwSize - offset ? n : m_dwSize - offset;
        Put(at, part);
        at += part;
        n -= part;
    }
    if (m_bBarrier)
        MemoryBarrier();
    m_cutAt = at;
    m_bCut = m_cutAt < m_written;
}
