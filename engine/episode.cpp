// The account of a device's life (KSDeviceLife): the notifications counted, the looks for a device
// that is waited for, and the episode from its first loss, through the reopens, until a reopened
// device has played steadily or the stream goes on without it. One deadline from the first loss,
// reopens that back off, and a log that names each kind of event once and counts the repeats at
// the end.
#include "engine/devicelife.h"

#include "diag/log.h"

void KSDeviceLife::CountChange(bool arrived) {
    InterlockedIncrement(&m_nDeviceChanges);
    if (arrived)
        InterlockedIncrement(&m_nArrivals);
}

bool KSDeviceLife::TakeLook() {
    LONG arrivals = m_nArrivals;
    if (!ReopenDue() || (m_watch.Active() && arrivals == m_nArrivalsSeen))
        return false;
    m_nArrivalsSeen = arrivals;
    return true;
}

// A loss after a reopen counts as a failure again, and one within kSteadyMs of it delays the next
// reopen.
bool KSDeviceLife::BeginLoss() {
    DWORD now = GetTickCount();
    if (!m_episode.active) {
        m_episode = KSEpisode();
        m_episode.startMs = now;
        m_episode.backoffMs = kReopenBackoffMs;
        m_episode.nextTryMs = now;
        InterlockedExchange(&m_episode.active, 1);
        DiagLog(1, "Device lost: %s (%s)", m_szDevice, m_pszLostWhy);
        return true;
    }
    if (!m_episode.reopened)
        return false;
    m_episode.reopened = false;
    m_episode.refails++;
    // A device the system reports removed again is waited for however often it flaps; only a
    // device that stays and fails counts towards being taken as gone.
    if (m_nRemovals == m_episode.removals)
        m_episode.quick++;
    m_episode.nextTryMs = now + m_episode.backoffMs;
    DWORD doubled = m_episode.backoffMs * 2;
    m_episode.backoffMs = doubled < kReopenBackoffMaxMs ? doubled : kReopenBackoffMaxMs;
    return false;
}

// Once the device is back, the player thread's lines (the failures that may follow, the later
// reopens) are counted instead of written, until the episode ends.
void KSDeviceLife::NoteReopened(DWORD playerThread) {
    if (!m_episode.active)
        return;
    m_episode.reopened = true;
    m_episode.reopenedMs = GetTickCount();
    m_episode.reopens++;
    m_episode.removals = m_nRemovals;
    LogMuteThread(playerThread, true);
}

bool KSDeviceLife::ReopenDue() const {
    return (LONG)(GetTickCount() - m_episode.nextTryMs) >= 0;
}

// A device that has played kSteadyMs since its reopen (held: its pin is held) ends the episode.
void KSDeviceLife::EndSteadyEpisode(bool held, DWORD playerThread) {
    if (m_episode.active && m_episode.reopened && held &&
        GetTickCount() - m_episode.reopenedMs >= kSteadyMs)
        CloseEpisode(playerThread);
}

void KSDeviceLife::CloseEpisode(DWORD playerThread) {
    if (!InterlockedExchange(&m_episode.active, 0))
        return;
    LogMuteThread(playerThread, false);
    if (m_episode.refails)
        DiagLog(1, "Device failed again after reopening, %ld times (%ld reopens in %lu ms)",
                m_episode.refails, m_episode.reopens, GetTickCount() - m_episode.startMs);
}

DWORD KSDeviceLife::WaitLeftMs() const {
    DWORD gone = GetTickCount() - m_episode.startMs;
    return gone >= kDeviceReturnMs ? 0 : kDeviceReturnMs - gone;
}

// No longer than the wait has left or the back-off asks, and no longer than a look's period where
// nothing notifies.
DWORD KSDeviceLife::WaitSleepMs() const {
    DWORD left = WaitLeftMs();
    if (!ReopenDue()) {
        DWORD backoff = UntilReopenMs();
        left = backoff < left ? backoff : left;
    }
    return !m_watch.Active() && left > kDevicePollMs ? kDevicePollMs : left;
}
