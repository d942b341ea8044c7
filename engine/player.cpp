// The player thread: moves audio from the ring into packets, scales it by the volume, submits
// full packets to the render pin, sleeps when there is nothing to do, and ends a gapless stream
// when the audio runs out.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/ring.h"
#include "engine/samples.h"
#include "host/settings.h"
#include "ks/pin.h"

#include <cstring>

// Each packet's header travels to the driver as the platform defines it; its size is taken from
// the header file, and these figures pin the layout down for each architecture.
#ifdef _WIN64
static_assert(sizeof(KSSTREAM_HEADER) == 56, "x86_64: 64-bit Data pointer and a Reserved field");
#else
static_assert(sizeof(KSSTREAM_HEADER) == 48, "i686: the 48-byte stream header");
#endif

DWORD WINAPI KSCore::PlayerThreadProc(LPVOID param) {
    static_cast<KSCore*>(param)->PlayerThread();
    return 0;
}

// While a WaveRT stream is open and not paused the wake event stays set and each pass waits in
// RtPass instead, for the driver's notification or the next look at the position.
void KSCore::PlayerThread() {
    do {
        WaitForSingleObject(m_hWakeEvent.Get(), INFINITE);
        InterlockedIncrement(&m_nPasses);
        InterlockedExchange(&m_bSleeping, 0);
        if (m_rt.pin)
            RtPass();
        else
            PacketPass();
        InterlockedExchange(&m_bPauseAck, m_bPaused);
    } while (!m_bExitThread);
    DiagLog(1, "Player Thread - closing");
}

void KSCore::PacketPass() {
    LONG current = WaitForPacket() ? (LONG)m_nCurrentPacket : -1;
    if (m_rt.pin)
        return; // a WaveRT stream opened meanwhile: its passes take the ring
    if (current < 0 || m_bPaused) {
        GoToSleep();
    } else {
        int full = m_nInputUsed > 0 ? FillPacket(current, (DWORD)m_nInputUsed) : 0;
        bool ending = m_nMode == MODE_ENDING && m_Packets[current].Header.DataUsed > 0;
        if (full || ending)
            SubmitCurrentPacket();
        else if (m_nInputUsed == 0)
            GoToSleep();
    }
}

// Waits for the stop event or a free packet; a free packet becomes the current one when none
// is. Returns false when the wait itself failed.
bool KSCore::WaitForPacket() {
    InterlockedExchange(&m_bInPacketWait, 1);
    DWORD wait = WaitForMultipleObjects(m_nPacketCount + 1, m_phEvents.Data(), FALSE, INFINITE);
    InterlockedExchange(&m_bInPacketWait, 0);
    if (wait == WAIT_OBJECT_0 + 0) { // stop event
        ResetEvent(m_phEvents[0]);
        return true;
    }
    if (wait > WAIT_OBJECT_0 && wait <= WAIT_OBJECT_0 + (DWORD)m_nPacketCount) { // packet free
        if (m_nCurrentPacket < 0) {
            LONG index = (LONG)(wait - WAIT_OBJECT_0 - 1);
            m_Packets[index].Header.DataUsed = 0;
            InterlockedExchange(&m_nCurrentPacket, index);
        }
        return true;
    }
    DiagLog(1, "Player thread wait failed (%lu)", GetLastError());
    Sleep(kPollMs);
    return false;
}

// Whether a pass would find something to do. Read under m_csWake before going to sleep, so
// that a wake-up given after the thread looked at the ring is never lost. An open WaveRT stream
// always has: its halves come due whether or not the host writes.
bool KSCore::HasWork() {
    if (m_bExitThread)
        return true;
    if (m_bPaused)
        return false;
    if (m_nInputUsed > 0 || (m_rt.pin && m_nMode != MODE_CLOSED))
        return true;
    LONG current = m_nCurrentPacket;
    return m_nMode == MODE_ENDING && current >= 0 && m_Packets[current].Header.DataUsed > 0;
}

void KSCore::GoToSleep() {
    bool sleeping;
    {
        CsGuard lock(m_csWake);
        sleeping = !HasWork();
        if (sleeping) {
            DWORD now = timeGetTime() & kMsClockMask;
            ResetEvent(m_hWakeEvent.Get());
            DiagLog(0, "Thread sleeps at %d", (int)now);
            InterlockedExchange(&m_bSleeping, 1);
        }
    }
    if (sleeping)
        EndOnGaplessUnderrun();
}

namespace {

bool GaplessUnderrun(const KSCore& core) {
    return core.m_nMode == MODE_OPEN && !core.m_bStarted && !core.m_bPaused &&
           core.m_nInputUsed == 0 && core.m_pSettings->gapless_enabled;
}

} // namespace

// In gapless mode, once the host has closed the stream and the ring has run dry with no new
// stream started, the pin plays out what it holds and is closed. The test and the end are one
// step under m_csControl. While another thread holds m_csControl (a start, an end or a pause
// waiting for this thread's acknowledgement) the thread keeps acknowledging and gives up as soon
// as that thread has changed the situation.
void KSCore::EndOnGaplessUnderrun() {
    if (!GaplessUnderrun(*this))
        return;
    while (!m_csControl.TryEnter()) {
        InterlockedExchange(&m_bPauseAck, m_bPaused);
        if (!GaplessUnderrun(*this))
            return;
        Sleep(kPollMs);
    }
    CsGuard lock(m_csControl, CsGuard::kAdopt);
    if (GaplessUnderrun(*this)) {
        DiagLog(1, "Gapless mode buffer underrun - Player Thread is stopping KS player");
        LONG current = m_nCurrentPacket;
        if (current >= 0 && m_Packets[current].Header.DataUsed > 0)
            SubmitCurrentPacket();
        DiagLog(1, "End(force=%d)", 1);
        EndInternal(1);
    }
}

// The packet's count grows before the ring's shrinks: the end's drain, which looks at the ring
// first and then at the packet, never finds both empty while bytes are on their way.
int KSCore::FillPacket(int index, DWORD available) {
    KSSTREAM_HEADER& h = m_Packets[index].Header;
    DWORD room = m_dwPacketSize - h.DataUsed;
    DWORD n = available < room ? available : room;
    BYTE* dst = (BYTE*)h.Data + h.DataUsed;
    h.DataUsed += n;
    ReadRing(dst, n);
    return h.DataUsed == m_dwPacketSize ? 1 : 0;
}

void KSCore::ReadRing(BYTE* dst, DWORD n) {
    m_pReadPtr = RingStretch(m_pInputBuffer, m_dwInputSize, m_pReadPtr, n,
                             [&](BYTE* ring, DWORD offset, DWORD length) {
                                 CopyWithVolume(dst + offset, ring, length);
                             });
    InterlockedExchangeAdd(&m_nInputUsed, -(LONG)n);
}

// Hands the current packet to the device. A packet whose write fails is freed at once, so that
// no wait for the packets hangs on it.
void KSCore::SubmitCurrentPacket() {
    LONG index = m_nCurrentPacket;
    KSPacket& p = m_Packets[index];
    p.Header.FrameExtent = p.Header.DataUsed;
    InterlockedExchangeAdd((volatile LONG*)&m_dwBytesWritten, (LONG)p.Header.DataUsed);
    ResetEvent(m_phEvents[index + 1]);
    HRESULT hr = m_pRenderPin->WriteData(&p.Header, &p.Signal);
    if (FAILED(hr)) {
        DiagLog(1, "KS Packet write failed (buffer %d)", (int)index);
        LogCause("CKsPin::WriteData", hr);
        SetEvent(m_phEvents[index + 1]);
    }
    InterlockedExchange(&m_nCurrentPacket, -1);
}

void KSCore::CopyWithVolume(BYTE* dst, const BYTE* src, DWORD count) {
    DWORD volume = m_nVolume;
    if (volume != (DWORD)kMaxVolume && m_pSettings->volume_enabled)
        CopyScaled(dst, src, count, m_wfxCurrent.Format.wBitsPerSample, volume);
    else
        memcpy(dst, src, count);
}
