// The engine operations the host calls while a stream runs: write, can-write, is-playing,
// pause, volume and output time.
#include "engine/kscore.h"

#include "engine/samples.h"
#include "ks/pin.h"

#include <cstring>

namespace {

bool IsWidened24(const WAVEFORMATEXTENSIBLE& wfx) {
    return wfx.Samples.wValidBitsPerSample == 24;
}

} // namespace

int KSCore::Write(const char* data, int length) {
    if (m_nMode != MODE_OPEN)
        return 1;
    if (length == 0)
        return 0;
    if (length < 0 || !data)
        return 1;
    const BYTE* src = (const BYTE*)data;
    DWORD free = m_dwInputSize - (DWORD)m_nInputUsed;
    DWORD toEnd = (DWORD)(m_pInputBuffer + m_dwInputSize - m_pWritePtr);
    DWORD need;
    if (IsWidened24(m_wfxCurrent)) {
        need = (DWORD)length / 3 * 4;
        if (free < need)
            return 1;
        DWORD first = need < toEnd ? need : toEnd;
        DWORD second = need - first;
        if (first / 4 > 0)
            m_pWritePtr += Convert24To32(m_pWritePtr, src, first / 4 * 3);
        if (second / 4 > 0) {
            m_pWritePtr = m_pInputBuffer;
            m_pWritePtr += Convert24To32(m_pWritePtr, src + first / 4 * 3, second / 4 * 3);
        }
    } else {
        need = (DWORD)length;
        if (free < need)
            return 1;
        DWORD first = need < toEnd ? need : toEnd;
        memcpy(m_pWritePtr, src, first);
        m_pWritePtr += first;
        if (need > first) {
            memcpy(m_pInputBuffer, src + first, need - first);
            m_pWritePtr = m_pInputBuffer + (need - first);
        }
    }
    if (m_pWritePtr == m_pInputBuffer + m_dwInputSize)
        m_pWritePtr = m_pInputBuffer;
    InterlockedExchangeAdd(&m_nInputUsed, (LONG)need);
    WakeThread();
    return 0;
}

int KSCore::CanWrite() {
    if (m_nMode != MODE_OPEN)
        return 0;
    DWORD free = m_dwInputSize - (DWORD)m_nInputUsed;
    if (IsWidened24(m_wfxCurrent))
        return free < m_dwPacketSize / 3 * 4 ? 0 : (int)(free / 4 * 3);
    return free < m_dwPacketSize ? 0 : (int)free;
}

int KSCore::IsPlaying() {
    if (m_nMode != MODE_OPEN || m_nInputUsed != 0)
        return 0;
    return AllPacketsFree(0) ? 1 : 0;
}

int KSCore::Pause(int pause) {
    EnterCriticalSection(&m_csControl);
    int old = m_bPaused;
    if (m_nMode == MODE_OPEN && m_pRenderPin) {
        InterlockedExchange(&m_bPaused, pause);
        if (pause) {
            // The acknowledgement comes at the end of the player thread's next pass; wake it so
            // that a thread asleep on an empty ring makes that pass. A thread blocked until a
            // packet comes back is as good as acknowledged: it looks at the pause flag before it
            // fills anything, and a paused device may never give a packet back.
            WakeThread();
            while (!m_bPauseAck && !m_bInPacketWait)
                Sleep(10);
            m_nPinState = KSSTATE_PAUSE;
            m_pRenderPin->SetState(KSSTATE_PAUSE);
        } else {
            m_nPinState = KSSTATE_RUN;
            m_pRenderPin->SetState(KSSTATE_RUN);
            WakeThread();
        }
    }
    LeaveCriticalSection(&m_csControl);
    return old;
}

void KSCore::SetVolume(int volume) {
    if (volume < 0)
        return;
    m_nVolume = volume > 255 ? 255 : (DWORD)volume;
}

int KSCore::GetOutputTime() {
    DWORD bytes = m_dwBytesWritten;
    DWORD rate = m_wfxCurrent.Format.nAvgBytesPerSec;
    if (rate == 0)
        return 0;
    return (int)((bytes / rate) * 1000 + ((bytes % rate) * 1000) / rate);
}
