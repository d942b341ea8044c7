// The stream's time and the seek: the time written as the host asks it, the clock's changes, the
// seek that drops everything not yet played, and the latency an open reports.
#include "engine/kscore.h"

#include "diag/log.h"

int KSCore::GetWrittenTime() {
    CsGuard lock(m_csState);
    return m_clock.WrittenMs();
}

// The state stays (paused, waiting for the device, gapless). A pin just lost is taken down first,
// so that nothing it gives back is played again.
void KSCore::Flush(int ms) {
    CsGuard lock(m_csControl);
    DiagLog(1, "Flush(%d)", ms);
    if (IsOpen())
        DropForSeek();
    CsGuard state(m_csState);
    m_clock.Restart(ms);
    m_clock.NewPin(0);
}

// Under m_csControl, with a stream open.
void KSCore::DropForSeek() {
    HoldPlayerThread();
    if (m_nState == kStateLost) {
        TakeLoss();
        HoldPlayerThread();
    }
    if (m_nState == kStatePlaying && m_pOutput) {
        KSBytes rest; // fade_ms: the old position fades out, and what follows it goes
        if (m_settings.fade_ms && !m_bPaused && !FadeOutAtDevice(&rest))
            FadeInBuffer(nullptr);
        m_pOutput->Flush();
    }
    m_bytes.Discard();
    if (m_settings.fade_ms)
        m_bytes.StartFadeIn(FadeFramesNow());
    InterlockedExchange(&m_end.waited, 0);
    {
        CsGuard state(m_csState);
        m_end.ForgetWatch();
    }
    m_life.StartDropping(m_life.DropWhy(), GetTickCount());
    ReleasePlayerThread();
    WakeThread();
}

// An open (gapless: a new track on the running stream, whose first byte is the audio byte
// trackAt) starts the time and the written bytes at 0.
void KSCore::RestartClock(int rate, int channels, int bits, bool gapless) {
    DWORD hostRate = (DWORD)rate * (DWORD)channels * (((DWORD)bits + 7) / 8);
    if (!gapless) {
        CsGuard lock(m_csState);
        m_clock.Restart(0, hostRate);
        m_end.ForgetWatch();
        return;
    }
    HoldPlayerThread();
    {
        CsGuard lock(m_csState);
        m_clock.NewTrack(hostRate, m_bytes.RingEnd());
    }
    ReleasePlayerThread();
}

// The stream's pin goes, its device having played pinBytes of what it took.
void KSCore::PinGone(ULONGLONG pinBytes) {
    CsGuard lock(m_csState);
    m_clock.PinGone(pinBytes);
}

// What the ring (at the stream's format) and the output (at the device's) hold, in ms rounded
// up, at least 1.
int KSCore::LatencyMs() {
    ULONGLONG ringRate = m_bytes.RingFormat().Format.nAvgBytesPerSec;
    ULONGLONG deviceRate = m_bytes.DeviceFormat().Format.nAvgBytesPerSec;
    ULONGLONG capacity = m_pOutput ? m_pOutput->Capacity() : 0;
    ULONGLONG per = ringRate * deviceRate;
    if (!per)
        return 1;
    ULONGLONG bytes = (ULONGLONG)m_bytes.Size() * deviceRate + capacity * ringRate;
    ULONGLONG ms = (bytes * 1000 + per - 1) / per;
    return ms < 1 ? 1 : ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
}

// Under m_csState, with an output: no progress for StallMs() while the stream moves audio.
bool KSCore::TailStalled() {
    DWORD now = GetTickCount();
    ULONGLONG progress = m_pOutput->Progress();
    if (MovesNoAudio() || progress != m_end.progress || !m_end.since) {
        m_end.progress = progress;
        m_end.since = now ? now : 1;
        return false;
    }
    if (now - m_end.since <= StallMs())
        return false;
    if (!m_end.stalled)
        DiagLog(1, "Device stopped: %s for %lu ms; the stream ends as for a removed device",
                m_pOutput->StallText(), StallMs());
    m_end.stalled = true;
    return true;
}
