// The cyclic-buffer output's fade (fade_ms) at a pause, a seek and a stop: the audio just past the
// play position fades out where it lies in the buffer, silence follows it, and while the hardware
// plays it the player thread goes on rewriting the halves that come due, with silence only.
#include "engine/cyclicout.h"

#include "diag/constants.h"
#include "diag/log.h"
#include "engine/streambuffer.h"

// The first whole frame the hardware has not reached, with the margin a write needs.
ULONGLONG KSCyclicOutput::PastPosition() {
    ULONGLONG past = m_position.Played() + m_dwMargin + m_dwBlock - 1;
    return past - past % m_dwBlock;
}

// The player thread is held. Without a play position nothing says where the fade could go. The
// fade takes fade_ms where the buffer's audio runs on into the ring's, else the audio there is.
bool KSCyclicOutput::FadeInPlace(DWORD size, const KSFadeFormat& f, KSBytes* rest) {
    if (m_source == kNoPosition || !m_dwBlock)
        return false;
    Look();
    ULONGLONG from = PastPosition();
    if (from >= m_audioEnd || m_audioEnd > m_written)
        return false;
    ULONGLONG there = m_audioEnd - from;
    if (m_audioEnd == m_written)
        there += m_bytes.Held();
    DWORD total = there < size ? (DWORD)there : size;
    DWORD n = m_audioEnd - from < total ? (DWORD)(m_audioEnd - from) : total;
    m_fade = f;
    m_dwFadeFrames = total / m_dwBlock;
    m_dwFadeDone = 0;
    FadeAt(from, n / m_dwBlock);
    if (!m_dwFadeDone)
        return false;
    if (rest)
        TakeRest(m_fadeEnd, rest);
    Silence(m_fadeEnd, m_written);
    m_audioEnd = m_fadeEnd;
    m_dwFadeBoundMs = (DWORD)((ULONGLONG)total * 1000 / m_dwRate) + kDeviceAnswerMs;
    InterlockedExchange(&m_bFadePassed, 0);
    InterlockedExchange(&m_bQuiet, 1);
    return true;
}

// The next frames frames of the fade, written at the stream's byte at.
void KSCyclicOutput::FadeAt(ULONGLONG at, DWORD frames) {
    ULONGLONG end = at + (ULONGLONG)frames * m_dwBlock;
    while (at < end) {
        DWORD offset = (DWORD)(at % m_dwSize);
        DWORD part = m_dwSize - offset < end - at ? m_dwSize - offset : (DWORD)(end - at);
        ApplyFade(m_pBuffer + offset, part / m_dwBlock, m_fade, m_dwFadeDone, m_dwFadeFrames,
                  false);
        m_dwFadeDone += part / m_dwBlock;
        at += part;
    }
    m_fadeEnd = end;
}

// While the fade plays, a half due takes the rest of the fade from the ring, and silence.
DWORD KSCyclicOutput::QuietAudio(ULONGLONG at) {
    DWORD left = (m_dwFadeFrames - m_dwFadeDone) * m_dwBlock;
    DWORD held = m_bytes.Held() / m_dwBlock * m_dwBlock;
    DWORD n = left < m_dwHalf ? left : m_dwHalf;
    n = held < n ? held : n;
    if (!n || m_audioEnd != at)
        return 0;
    Put(at, n);
    FadeAt(at, n / m_dwBlock);
    return n;
}

// The stream's n bytes from `from` on, copied out of the buffer into *out; false when there are
// none or no memory for them.
bool KSCyclicOutput::CopyOut(ULONGLONG from, DWORD n, KSBytes* out) {
    if (!n || !AllocateUnplayed(out, n))
        return false;
    for (DWORD i = 0; i < n; i++)
        out->data[i] = m_pBuffer[(DWORD)((from + i) % m_dwSize)];
    return true;
}

// The audio written from from on goes into *rest, in order, and counts as taken no more.
void KSCyclicOutput::TakeRest(ULONGLONG from, KSBytes* rest) {
    DWORD n = (DWORD)(m_audioEnd - from);
    if (!CopyOut(from, n, rest))
        return;
    rest->uncounted = 0;
    CsGuard lock(m_csClock);
    m_taken = m_taken > n ? m_taken - n : 0;
}

// The player thread serves the output meanwhile and says when its look saw the position pass.
void KSCyclicOutput::AwaitFade() {
    DWORD start = GetTickCount();
    while (!m_bFadePassed) {
        if (GetTickCount() - start > m_dwFadeBoundMs) {
            DiagLog(1, "Fade: the WaveRT play position did not pass the fade within %lu ms",
                    m_dwFadeBoundMs);
            return;
        }
        Sleep(1);
    }
}
