// The end of a stream: the host's close and the forced ends, the drain of the ring and the
// packets, the stop and close of the pin; and the bounds on every wait for the device, with the
// way a stream ends when its device has stopped.
#include "engine/kscore.h"

#include "diag/log.h"
#include "host/settings.h"
#include "ks/enum.h"
#include "ks/pin.h"

namespace {

// The state requests by name, for the log (KSSTATE_STOP .. KSSTATE_RUN).
const char* const kSetStateCalls[] = {
    "CKsPin::SetState(KSSTATE_STOP)", "CKsPin::SetState(KSSTATE_ACQUIRE)",
    "CKsPin::SetState(KSSTATE_PAUSE)", "CKsPin::SetState(KSSTATE_RUN)"};

} // namespace

void KSCore::End() {
    DiagLog(1, "End()");
    InterlockedExchange(&m_bStarted, 0);
    CsGuard lock(m_csControl);
    DiagLog(1, "End(force=%d)", 0);
    EndInternal(0);
}

void KSCore::End(int force) {
    CsGuard lock(m_csControl);
    DiagLog(1, "End(force=%d)", force);
    EndInternal(force);
}

// Asks the pin for a state; a refusal is logged with its cause.
HRESULT KSCore::RequestState(KSSTATE state) {
    HRESULT hr = m_pRenderPin->SetState(state);
    if (FAILED(hr))
        LogCause(kSetStateCalls[state], hr);
    return hr;
}

// True when no packet is with the device (timeout 0: a test; otherwise a wait of that long).
bool KSCore::AllPacketsFree(DWORD timeout) {
    return WaitForMultipleObjects(m_nPacketCount, m_phEvents.Data() + 1, TRUE, timeout) !=
           WAIT_TIMEOUT;
}

int KSCore::FreePacketCount() {
    int free = 0;
    for (int i = 1; i <= m_nPacketCount; i++)
        free += WaitForSingleObject(m_phEvents[i], 0) == WAIT_OBJECT_0;
    return free;
}

// How long a playing device may keep every packet before it counts as stopped: it gives one
// back each packet's worth of audio, so two packets' playing time plus the answer time. A WaveRT
// device moves its play position at least every half.
DWORD KSCore::StallMs() {
    DWORD rate = m_wfxCurrent.Format.nAvgBytesPerSec;
    DWORD unit = m_rt.pin ? m_rt.half : m_dwPacketSize;
    ULONGLONG packetMs = rate ? (ULONGLONG)unit * 1000 / rate : 0;
    ULONGLONG bound = kDeviceAnswerMs + 2 * packetMs;
    return bound < MAXDWORD ? (DWORD)bound : MAXDWORD;
}

void KSCore::StartWatch(Progress& p) {
    p.freePackets = FreePacketCount();
    p.bytesSubmitted = m_dwBytesWritten;
    p.sinceMs = GetTickCount();
}

// True when nothing came back from the device for StallMs().
bool KSCore::Stalled(Progress& p) {
    Progress now;
    StartWatch(now);
    if (now.freePackets != p.freePackets || now.bytesSubmitted != p.bytesSubmitted) {
        p = now;
        return false;
    }
    return now.sinceMs - p.sinceMs > StallMs();
}

// The player thread acknowledges a pause at the end of its pass, or is blocked until a packet
// comes back (it looks at the pause flag before it fills anything). A pass waits for nothing
// but its device calls, so the acknowledgement comes within kDeviceAnswerMs.
bool KSCore::WaitForPauseAck() {
    for (DWORD waited = 0; !m_bPauseAck && !m_bInPacketWait; waited += kPollMs) {
        if (waited >= kDeviceAnswerMs) {
            DiagLog(1, "Player thread did not acknowledge the pause within %lu ms",
                    kDeviceAnswerMs);
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

// Keeps the player thread from filling or submitting packets, or writing a WaveRT buffer, as a
// pause does. An acknowledgement left from an earlier pause counts no more.
void KSCore::HoldPlayerThread() {
    InterlockedExchange(&m_bPauseAck, 0);
    InterlockedExchange(&m_bPaused, 1);
    if (GetCurrentThreadId() == m_dwThreadId)
        return;
    WakeThread();
    WaitForPauseAck();
}

// The drain is complete when the ring is empty and the packet being filled, if any, holds no
// bytes: the player thread has submitted everything it took from the ring.
bool KSCore::DrainDone() {
    if (m_nInputUsed != 0)
        return false;
    LONG current = m_nCurrentPacket;
    return current < 0 || m_Packets[current].Header.DataUsed == 0;
}

// Lets the device play what the ring and the packets hold. True when all of it was played; false
// when the device stopped: no packet came back for StallMs() while it held some.
bool KSCore::PlayOut() {
    if (m_rt.pin)
        return RtPlayOut();
    // In ending mode the player thread submits partly filled packets too; wake it so that it does
    // so even when it went to sleep on an empty ring.
    if (GetCurrentThreadId() != m_dwThreadId)
        WakeThread();
    Progress progress;
    StartWatch(progress);
    while (!DrainDone()) {
        if (Stalled(progress))
            return false;
        Sleep(kPollMs);
    }
    while (!AllPacketsFree(kPollMs)) {
        if (Stalled(progress))
            return false;
    }
    return true;
}

// The device kept packets after KSSTATE_STOP. Closing its pin makes the platform give back every
// request still queued on it, as for a removed device. Packets that do not come back even then
// stay the device's, and with them the engine's memory (m_nLostPackets, Shutdown).
void KSCore::ReclaimPackets() {
    DiagLog(1, "Device kept %d of %d packets after KSSTATE_STOP; closing its pin",
            m_nPacketCount - FreePacketCount(), m_nPacketCount);
    m_pRenderPin->ClosePin();
    if (AllPacketsFree(kDeviceAnswerMs))
        return;
    InterlockedExchange(&m_nLostPackets, m_nPacketCount - FreePacketCount());
    DiagLog(1, "Device still holds %d packets after its pin was closed; they are given up",
            (int)m_nLostPackets);
}

void KSCore::EndInternal(int force) {
    DiagLog(1, "EndInternal() - mode=%d force=%d", (int)m_nMode, force);
    if (m_nMode != MODE_OPEN)
        return;
    if (m_pSettings->gapless_enabled && !force)
        return;
    LONG paused = m_bPaused;
    if (paused)
        DiscardRing();
    InterlockedExchange(&m_nMode, MODE_ENDING);
    bool stopped = !paused && !PlayOut();
    if (stopped) {
        if (m_rt.pin)
            DiagLog(1,
                    "Device stopped: the WaveRT play position stood still for %lu ms; the "
                    "stream ends as for a removed device",
                    StallMs());
        else
            DiagLog(1,
                    "Device stopped: no packet came back for %lu ms; the stream ends as for a "
                    "removed device",
                    StallMs());
        HoldPlayerThread();
        DiscardRing();
    }
    if (m_pRenderPin) {
        RequestState(KSSTATE_PAUSE);
        // The player thread leaves a WaveRT buffer alone before the pin stops and frees it; the
        // paused hardware reads nothing meanwhile.
        if (m_rt.pin)
            HoldPlayerThread();
        RequestState(KSSTATE_STOP);
        // Stopping the pin gives back what was still queued.
        if (!AllPacketsFree(kDeviceAnswerMs))
            ReclaimPackets();
    }
    CloseOutput();
    InterlockedExchange(&m_bPaused, paused);
}

void KSCore::CloseOutput() {
    CloseRtStream();
    if (m_pRenderPin) {
        m_pRenderPin->ClosePin();
        delete m_pRenderPin;
        m_pRenderPin = nullptr;
    }
    if (m_pEnumFilters) {
        delete m_pEnumFilters;
        m_pEnumFilters = nullptr;
    }
    InterlockedExchange(&m_nMode, MODE_CLOSED);
    DiagLog(1, "Output Closed");
}
