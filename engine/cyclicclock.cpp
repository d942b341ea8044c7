// The cyclic-buffer output's time: the bytes of the stream's audio the hardware has played since
// the open or the last seek, read by the host's threads from the player thread's last look.
#include "engine/cyclicout.h"

#include "ks/rtpin.h"

// The look's count for the time; on the player thread.
void KSCyclicOutput::Publish() {
    CsGuard lock(m_csClock);
    m_clockPlayed = m_position.Played();
    m_clockOffset = m_position.LastOffset();
}

ULONGLONG KSCyclicOutput::Taken() {
    CsGuard lock(m_csClock);
    return m_taken;
}

// The last look's count moved on by a fresh read of the position where one can be had; a read
// that lies behind the last (jitter) adds nothing.
ULONGLONG KSCyclicOutput::Played() {
    CsGuard lock(m_csClock);
    if (!m_bFirst)
        return 0;
    ULONGLONG played = m_clockPlayed;
    ULONG offset = 0;
    bool read = m_source == kRegister   ? SUCCEEDED(m_pRtPin->ReadPositionRegister(&offset))
                : m_source == kProperty ? SUCCEEDED(m_pRtPin->GetAudioPosition(&offset))
                                        : false;
    if (read && m_dwSize) {
        DWORD ahead =
            offset >= m_clockOffset ? offset - m_clockOffset : offset + m_dwSize - m_clockOffset;
        if (m_dwSize - ahead > m_dwSize / 4)
            played += ahead;
    }
    if (played <= m_firstAt)
        return 0;
    return played - m_firstAt < m_taken ? played - m_firstAt : m_taken;
}
