// The engine operations the host calls while a stream runs: write, can-write, is-playing,
// pause, volume and output time.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/ring.h"
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
    bool widen = IsWidened24(m_wfxCurrent);
    // Widened, each packed 3-byte sample takes 4 ring bytes. A stream starts at the ring's start
    // (OpenOutput) and moves in whole samples, so both parts of a wrapped stretch hold whole
    // samples too.
    DWORD need = widen ? (DWORD)length / 3 * 4 : (DWORD)length;
    if (free < need)
        return 1;
    m_pWritePtr = RingStretch(m_pInputBuffer, m_dwInputSize, m_pWritePtr, need,
                              [&](BYTE* ring, DWORD offset, DWORD n) {
                                  if (widen)
                                      Convert24To32(ring, src + offset / 4 * 3, n / 4 * 3);
                                  else
                                      memcpy(ring, src + offset, n);
                              });
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

// On a WaveRT stream "every packet completed" is "the hardware has passed the last real sample".
int KSCore::IsPlaying() {
    if (m_nMode != MODE_OPEN || m_nInputUsed != 0)
        return 0;
    if (m_rt.pin)
        return m_rt.playedOut ? 1 : 0;
    return AllPacketsFree(0) ? 1 : 0;
}

// A pause takes effect once the player thread has acknowledged it (it then fills and submits
// nothing) and the pin holds its packets. A resume lets the thread go on only once the pin runs
// again: a refused run request leaves the stream paused, as the pin is, and the log says why.
int KSCore::Pause(int pause) {
    CsGuard lock(m_csControl);
    int old = m_bPaused;
    if (m_nMode != MODE_OPEN || !m_pRenderPin)
        return old;
    if (pause) {
        InterlockedExchange(&m_bPaused, pause);
        // Wake a thread asleep on an empty ring, so that it makes the pass that acknowledges.
        WakeThread();
        WaitForPauseAck();
        m_nPinState = KSSTATE_PAUSE;
        RequestState(KSSTATE_PAUSE);
    } else {
        m_nPinState = KSSTATE_RUN;
        if (FAILED(RequestState(KSSTATE_RUN))) {
            DiagLog(1, "Resume refused by the device: playback stays paused");
            return old;
        }
        InterlockedExchange(&m_bPaused, 0);
        WakeThread();
    }
    return old;
}

void KSCore::SetVolume(int volume) {
    if (volume < 0)
        return;
    m_nVolume = volume > kMaxVolume ? kMaxVolume : (DWORD)volume;
}

// (B / R) x 1000 + ((B mod R) x 1000) / R with the second product in 64 bits: at more than
// 4,294,967 bytes a second it would not fit 32.
int KSCore::GetOutputTime() {
    DWORD bytes = m_dwBytesWritten;
    DWORD rate = m_wfxCurrent.Format.nAvgBytesPerSec;
    if (rate == 0)
        return 0;
    return (int)((bytes / rate) * 1000 + (DWORD)((ULONGLONG)(bytes % rate) * 1000 / rate));
}
