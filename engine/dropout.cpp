// A stream whose device is gone for good: it stays open without a device until the host closes
// it. The host writes as before; the player thread drops the ring's audio at the stream's byte
// rate, so that the time moves on and the track ends in its own time.
#include "engine/kscore.h"

#include "diag/log.h"

// Under m_csControl. The output, if any, is stopped and closed; the ring stays, the kept audio
// and the pre-roll go.
void KSCore::GoWithoutDevice(const char* why) {
    CloseEpisode();
    StopOutputNow();
    m_bytes.ForgetKept();
    m_pszDropWhy = why;
    m_qwDropMs = m_qwDropped = 0;
    m_dwDropLastMs = GetTickCount();
    SetState(kStateGone);
    ReleasePlayerThread();
    DiagLog(1,
            "Audio dropped from now on: %s; the stream goes on without a device until it is "
            "closed",
            why);
    WakeThread();
}

// The output is stopped and closed, what it held given up.
void KSCore::StopOutputNow() {
    if (!m_pOutput)
        return;
    HoldPlayerThread();
    StopOutput(nullptr, false);
    DropOutput();
}

// On the player thread: drops what the time since the last step stands for, in whole frames of
// the ring. A ring that ran dry is not made up for later, as a device that starves does not.
void KSCore::DropDue() {
    DWORD now = GetTickCount();
    DWORD ms = now - m_dwDropLastMs;
    m_dwDropLastMs = now;
    if (MovesNoAudio())
        return;
    m_qwDropMs += ms;
    const WAVEFORMATEX& ring = m_bytes.RingFormat().Format;
    DWORD block = ring.nBlockAlign ? ring.nBlockAlign : 1;
    ULONGLONG due = m_qwDropMs * ring.nAvgBytesPerSec / 1000;
    ULONGLONG owed = due - m_qwDropped;
    DWORD held = m_bytes.Used() / block * block;
    DWORD n = owed < held ? (DWORD)(owed / block * block) : held;
    m_qwDropped = owed > held ? due : m_qwDropped + n;
    if (n)
        m_bytes.Drop(n);
}
