// The cyclic-buffer output's fade at a stop (fade_ms): the audio just past the play
// position fades out where it lies in the buffer, silence follows it, and the hardware plays it.
#include "engine/cyclicout.h"

#include "diag/constants.h"
#include "diag/log.h"

// The first whole frame the hardware has not reached, with the margin a write needs.
ULONGLONG KSCyclicOutput::PastPosition() {
    ULONGLONG past = m_position.Played() + m_dwMargin + m_dwBlock - 1;
    return past - past % m_dwBlock;
}

// The player thread is held. Without a play position nothing says where the fade could go.
bool KSCyclicOutput::FadeInPlace(DWORD size, const KSFadeFormat& f) {
    if (m_source == kNoPosition || !m_dwBlock)
        return false;
    Look();
    ULONGLONG from = PastPosition();
    // Silence stays ahead of the position for two looks after the fade: the pin pauses before
    // the hardware reaches the halves the held player thread did not write.
    DWORD guard = (DWORD)((ULONGLONG)m_dwRate * 2 * kPollMs / 1000);
    if (from + guard >= m_written || from >= m_audioEnd)
        return false;
    ULONGLONG room = m_written - guard - from;
    if (room > m_audioEnd - from)
        room = m_audioEnd - from;
    DWORD n = room < size ? (DWORD)room : size;
    n -= n % m_dwBlock;
    DWORD frames = n / m_dwBlock, done = 0;
    for (ULONGLONG at = from; at < from + n;) {
        DWORD offset = (DWORD)(at % m_dwSize);
        DWORD part = m_dwSize - offset < from + n - at ? m_dwSize - offset : (DWORD)(from + n - at);
        ApplyFade(m_pBuffer + offset, part / m_dwBlock, f, done, frames, false);
        done += part / m_dwBlock;
        at += part;
    }
    Silence(from + n, m_written);
    m_audioEnd = from + n;
    DWORD boundMs = (DWORD)((ULONGLONG)n * 1000 / m_dwRate) + kDeviceAnswerMs;
    for (DWORD waited = 0; m_position.Played() < from + n; waited += kPollMs) {
        if (waited >= boundMs) {
            DiagLog(1, "Fade: the WaveRT play position did not pass the fade within %lu ms",
                    boundMs);
            break;
        }
        Sleep(kPollMs);
        Look();
    }
    return true;
}
