// The packet output's part in the fades (fade_ms): the queued writes taken back from the device
// with what it did not play, and a stretch played ahead of the stream.
#include "engine/packetout.h"

#include "diag/constants.h"
#include "diag/log.h"

#include <cstring>

// The pin pauses first, so that the position read is where the device stopped, and the position
// is read before the reset, which may take it back to 0. The pin stays paused, empty, until
// PlayNow has queued what it plays next: it never runs dry mid-waveform. Packets that do not come
// back leave everything with the device (it is lost: CancelQueued), and the pin runs again.
bool KSPacketOutput::TakeBack(KSBytes* unplayed) {
    RequestState(*m_pRenderPin, KSSTATE_PAUSE);
    bool known = false;
    ULONGLONG played = PositionPlayed(&known);
    if (!AllPacketsFree(0))
        CancelQueued();
    if (!AllPacketsFree(0)) {
        RequestState(*m_pRenderPin, KSSTATE_RUN);
        return false;
    }
    Gather(played, known, unplayed);
    Restart();
    return true;
}

// With every packet free and the pin paused (TakeBack): the bytes go in packets as the stream's
// do, counted as taken and sent so that the time moves on while they play, and the pin runs.
bool KSPacketOutput::PlayNow(const BYTE* data, DWORD size) {
    for (int i = 0; i < m_nPacketCount && size; i++) {
        DWORD n = size < m_dwPacketSize ? size : m_dwPacketSize;
        KSSTREAM_HEADER& h = m_Packets[i].Header;
        memcpy(h.Data, data, n);
        h.DataUsed = n;
        {
            CsGuard lock(m_csClock);
            m_qwTaken += n;
        }
        Submit(i, false);
        data += n;
        size -= n;
    }
    RequestState(*m_pRenderPin, KSSTATE_RUN);
    DWORD ms = m_dwRate ? (DWORD)((ULONGLONG)Capacity() * 1000 / m_dwRate) : 0;
    if (AllPacketsFree(ms + kDeviceAnswerMs))
        return true;
    DiagLog(1, "Fade: the device did not play the faded audio within %lu ms; it is dropped",
            ms + kDeviceAnswerMs);
    CancelQueued();
    return false;
}
