// The drop clock of a stream whose device is gone for good (KSDeviceLife): the stream stays open
// without a device until the host closes it, and the player thread drops the ring's audio at the
// stream's byte rate, so that the time moves on and the track ends in its own time.
#include "engine/devicelife.h"

void KSDeviceLife::StartDropping(const char* why, DWORD nowMs) {
    m_pszDropWhy = why;
    m_qwDropMs = m_qwDropped = 0;
    m_dwDropLastMs = nowMs;
}

// A paused stream's time does not count. A ring that ran dry is not made up for later, as a
// device that starves does not.
DWORD KSDeviceLife::DropDue(DWORD nowMs, bool paused, const WAVEFORMATEX& ring, DWORD used) {
    DWORD ms = nowMs - m_dwDropLastMs;
    m_dwDropLastMs = nowMs;
    if (paused)
        return 0;
    m_qwDropMs += ms;
    DWORD block = ring.nBlockAlign ? ring.nBlockAlign : 1;
    ULONGLONG due = m_qwDropMs * ring.nAvgBytesPerSec / 1000;
    ULONGLONG owed = due - m_qwDropped;
    DWORD held = used / block * block;
    DWORD n = owed < held ? (DWORD)(owed / block * block) : held;
    m_qwDropped = owed > held ? due : m_qwDropped + n;
    return n;
}
