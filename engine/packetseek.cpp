// The packet output's seek and time: the queued writes cancelled by a reset of the pin (or a stop
// where the driver refuses the reset), and the bytes the device has played since the open or the
// last seek.
#include "engine/packetout.h"

#include "diag/constants.h"
#include "diag/log.h"
#include "ks/pin.h"

// The player thread is held: the packets and the counts are the control path's.
void KSPacketOutput::Flush() {
    if (!AllPacketsFree(0))
        CancelQueued();
    Restart();
}

// No packet with the device: the counts and the position start again from here.
void KSPacketOutput::Restart() {
    InterlockedExchange(&m_nCurrentPacket, -1);
    for (int i = 0; i < m_nPacketCount; i++) {
        m_seq[i] = 0;
        m_bNotTaken[i] = false;
    }
    {
        CsGuard lock(m_csClock);
        m_qwTaken = m_qwSent = m_qwDone = 0;
    }
    TakeBase();
}

// A driver that refuses the reset is stopped and put back in the state it had. Packets that do
// not come back within the device's answer time mean a device that stopped: it is lost.
void KSPacketOutput::CancelQueued() {
    HRESULT hr = m_pRenderPin->Reset(KSRESET_BEGIN);
    if (SUCCEEDED(hr))
        hr = m_pRenderPin->Reset(KSRESET_END);
    if (FAILED(hr)) {
        LogCause("CKsPin::Reset (the pin is stopped instead)", hr);
        KSSTATE was = m_pRenderPin->m_State;
        RequestState(*m_pRenderPin, KSSTATE_STOP);
        if (was == KSSTATE_RUN || was == KSSTATE_PAUSE)
            RequestState(*m_pRenderPin, KSSTATE_PAUSE);
        if (was == KSSTATE_RUN)
            RequestState(*m_pRenderPin, KSSTATE_RUN);
    }
    if (AllPacketsFree(kDeviceAnswerMs))
        return;
    DiagLog(1, "Seek: %d packets did not come back within %lu ms",
            m_nPacketCount - FreePacketCount(), kDeviceAnswerMs);
    m_site.DeviceLost("packets did not come back at a seek");
}

// Where the position stands after a start or a seek: the bytes counted from there. A driver that
// does not answer is timed by its completions from now on.
void KSPacketOutput::TakeBase() {
    ULONGLONG position = 0;
    HRESULT hr = m_pRenderPin->GetPlayedBytes(&position);
    CsGuard lock(m_csClock);
    m_dwDoneMs = GetTickCount();
    if (SUCCEEDED(hr)) {
        m_qwBase = position;
        return;
    }
    if (m_bPosition)
        LogCause("CKsPin::GetPlayedBytes (the time follows the packets that come back)", hr);
    m_bPosition = false;
}

ULONGLONG KSPacketOutput::Taken() {
    CsGuard lock(m_csClock);
    return m_qwTaken;
}

ULONGLONG KSPacketOutput::Played() {
    CsGuard lock(m_csClock);
    ULONGLONG played = m_bPosition ? PinPlayed() : CompletedPlayed();
    return played < m_qwSent ? played : m_qwSent;
}

// Under m_csClock. A position behind its base (a driver that went back) counts as none played.
ULONGLONG KSPacketOutput::PinPlayed() {
    ULONGLONG position = 0;
    if (FAILED(m_pRenderPin->GetPlayedBytes(&position)))
        return CompletedPlayed();
    return position > m_qwBase ? position - m_qwBase : 0;
}

// Under m_csClock: the bytes of the packets that came back, and while the pin runs, the time
// since the last one came back at the device's byte rate.
ULONGLONG KSPacketOutput::CompletedPlayed() {
    ULONGLONG pending = 0;
    for (int i = 0; i < m_nPacketCount; i++)
        if (m_seq[i] && WaitForSingleObject(m_phEvents[i], 0) != WAIT_OBJECT_0)
            pending += m_Packets[i].Header.DataUsed;
    ULONGLONG done = m_qwSent > pending ? m_qwSent - pending : 0;
    DWORD now = GetTickCount();
    if (done != m_qwDone || !pending || m_site.Paused()) {
        m_qwDone = done;
        m_dwDoneMs = now;
        return done;
    }
    return done + (ULONGLONG)(now - m_dwDoneMs) * m_dwRate / 1000;
}
