// The stream's time: written, played and heard.
#include "engine/clock.h"

namespace {

// Milliseconds of bytes at rate bytes per second, truncated.
ULONGLONG Ms(ULONGLONG bytes, DWORD rate) {
    return rate ? bytes / rate * 1000 + bytes % rate * 1000 / rate : 0;
}

int ClampMs(LONGLONG ms) {
    return ms > MAXLONG ? MAXLONG : ms < 0 ? 0 : (int)ms;
}

} // namespace

void KSStreamClock::Restart(int baseMs, DWORD hostRate) {
    m_nBaseMs = baseMs;
    m_dwHostRate = hostRate;
    InterlockedExchange64(&m_qwWritten, 0);
    m_qwBefore = m_qwTrackAt = 0;
    m_nEpoch++;
}

void KSStreamClock::NewTrack(DWORD hostRate, ULONGLONG at) {
    m_nBaseMs = 0;
    m_dwHostRate = hostRate;
    InterlockedExchange64(&m_qwWritten, 0);
    m_qwTrackAt = at;
    m_nEpoch++;
}

void KSStreamClock::Wrote(DWORD bytes) {
    InterlockedExchangeAdd64(&m_qwWritten, bytes);
}

int KSStreamClock::WrittenMs() const {
    ULONGLONG written =
        (ULONGLONG)InterlockedCompareExchange64(const_cast<LONGLONG*>(&m_qwWritten), 0, 0);
    return ClampMs(m_nBaseMs + (LONGLONG)Ms(written, m_dwHostRate));
}

void KSStreamClock::PinGone(ULONGLONG pinBytes) {
    m_qwBefore = Audio(pinBytes);
    m_qwLead = 0;
    m_nEpoch++;
}

ULONGLONG KSStreamClock::Audio(ULONGLONG pinBytes) const {
    return m_qwBefore + (pinBytes > m_qwLead ? pinBytes - m_qwLead : 0);
}

int KSStreamClock::HeardMs(ULONGLONG audio, DWORD deviceRate, DWORD latencyMs) const {
    ULONGLONG track = audio > m_qwTrackAt ? audio - m_qwTrackAt : 0;
    LONGLONG ms = (LONGLONG)Ms(track, deviceRate) - (LONGLONG)latencyMs;
    return ClampMs(m_nBaseMs + (ms > 0 ? ms : 0));
}
