// A device's episode: from its first loss, through the reopens, until a reopened device has
// played steadily or the stream goes on without it. One deadline from the first loss, reopens
// that back off, and a log that names each kind of event once and counts the repeats at the end.
#include "engine/kscore.h"

#include "diag/log.h"

// True for the episode's first loss (the caller logs it); a loss after a reopen counts as a
// failure again, and one within kSteadyMs of it delays the next reopen.
bool KSCore::BeginLoss() {
    DWORD now = GetTickCount();
    EndSteadyEpisode();
    if (!m_episode.active) {
        m_episode = KSEpisode();
        m_episode.startMs = now;
        m_episode.backoffMs = kReopenBackoffMs;
        m_episode.nextTryMs = now;
        InterlockedExchange(&m_episode.active, 1);
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
void KSCore::NoteReopened() {
    if (!m_episode.active)
        return;
    m_episode.reopened = true;
    m_episode.reopenedMs = GetTickCount();
    m_episode.reopens++;
    m_episode.removals = m_nRemovals;
    LogMuteThread(m_dwThreadId, true);
}

bool KSCore::ReopenDue() {
    return (LONG)(GetTickCount() - m_episode.nextTryMs) >= 0;
}

// A device that has played kSteadyMs since its reopen ends the episode.
void KSCore::EndSteadyEpisode() {
    if (m_episode.active && m_episode.reopened && DeviceOf(m_nState) == kDeviceHeld &&
        GetTickCount() - m_episode.reopenedMs >= kSteadyMs)
        CloseEpisode();
}

void KSCore::CloseEpisode() {
    if (!InterlockedExchange(&m_episode.active, 0))
        return;
    LogMuteThread(m_dwThreadId, false);
    if (m_episode.refails)
        DiagLog(1, "Device failed again after reopening, %ld times (%ld reopens in %lu ms)",
                m_episode.refails, m_episode.reopens, GetTickCount() - m_episode.startMs);
}

// On the player thread: the lost pin goes and the wait begins, or goes on. A device that failed
// again right after each of the last kQuickFailLimit reopens is not waited for any longer.
void KSCore::TakeLoss() {
    bool first = BeginLoss();
    if (first)
        DiagLog(1, "Device lost: %s (%s)", m_szDevice, m_pszLostWhy);
    LetGo(false);
    m_nArrivalsSeen = m_nArrivals - 1; // a device that slept is still there: look at once
    SetState(kStateWaiting);
    if (first)
        DiagLog(1, "Waiting up to %lu ms for the device to come back", kDeviceReturnMs);
    if (m_episode.quick < kQuickFailLimit)
        return;
    CloseEpisode();
    DiagLog(1, "Device failed again within %lu ms of each of its last %ld reopens: taken as gone",
            kSteadyMs, kQuickFailLimit);
    GoWithoutDevice("it fails again after every reopen");
}
