// The stream's device over its life, as far as it needs no lock of the engine's: which device the
// stream plays on, the system's notifications of devices that arrive and leave, the episode that a
// loss begins (its deadline, its reopens and their back-off), and the clock by which a stream
// without a device drops its audio. The engine (kscore.h) takes the pins down and opens them
// again; this class keeps the account and says when.
//
// Threading: the counts of notifications are changed by the system's thread (Count*) and read by
// any thread. The device path is written by the control path under the engine's m_csState and read
// by the system's thread under it. Everything else is the control path's (under the engine's
// m_csControl) or the player thread's while it holds m_csControl; the episode is ended once, by
// any thread, and the drop clock is the player thread's alone while the stream has no device.
#pragma once

#include "engine/devicewatch.h"

#include <windows.h>
#include <mmreg.h>

// How long a stream whose device was lost waits for it to come back before it ends, and how often
// the device list is looked at meanwhile where the system gives no notifications.
constexpr DWORD kDeviceReturnMs = 10000;
constexpr DWORD kDevicePollMs = 250;

// A loss begins an episode, which ends once a reopened device has played kSteadyMs without
// failing. Within it the reopens back off (from kReopenBackoffMs, doubling, at most
// kReopenBackoffMaxMs apart), and a device that stays listed and fails again within kSteadyMs of
// kQuickFailLimit reopens in a row is taken as gone: it takes a driver a moment to come up after a
// wake-up, not five tries over a second and a half.
constexpr DWORD kSteadyMs = 1000;
constexpr DWORD kReopenBackoffMs = 50;
constexpr DWORD kReopenBackoffMaxMs = 1000;
constexpr LONG kQuickFailLimit = 5;

// Without a device for good, the player thread drops the ring's audio in steps of this period.
constexpr DWORD kDropStepMs = 20;

// A device's episode, from its first loss (see kSteadyMs).
struct KSEpisode {
    volatile LONG active = 0;
    DWORD startMs = 0;     // the first loss (GetTickCount): the wait's deadline counts from it
    DWORD reopenedMs = 0;  // the last reopen
    bool reopened = false; // a reopen since the last loss
    LONG reopens = 0;
    LONG refails = 0;    // losses after a reopen
    LONG quick = 0;      // of them, in a row, within kSteadyMs of their reopen, not removals
    LONG removals = 0;   // the count of removals at the last reopen
    DWORD backoffMs = 0; // the wait after the next quick failure
    DWORD nextTryMs = 0; // no reopen before (GetTickCount)
};

class KSDeviceLife {
  public:
    KSDeviceLife() = default;
    KSDeviceLife(const KSDeviceLife&) = delete;
    KSDeviceLife& operator=(const KSDeviceLife&) = delete;

    // The stream's device: its device path, set as each output is published.
    void SetDevice(const char* path) { lstrcpynA(m_szDevice, path, sizeof m_szDevice); }
    const char* Device() const { return m_szDevice; }
    bool IsDevice(const char* path) const { return !lstrcmpiA(path, m_szDevice); }

    // The system's notifications (devicewatch.h); false (logged) where it gives none.
    bool Watch(KSDeviceWatch::Listener listener, void* context) {
        return m_watch.Start(listener, context);
    }
    void StopWatching() { m_watch.Stop(); }
    bool Watches() const { return m_watch.Active(); }
    // On the system's thread: a device arrived or left; the stream's own device was removed.
    void CountChange(bool arrived);
    void CountRemoval() { InterlockedIncrement(&m_nRemovals); }
    LONG Changes() const { return m_nDeviceChanges; }
    LONG Removals() const { return m_nRemovals; }

    // The looks for a device that is waited for: the next one at once (a device that slept is
    // still there), or at the next arrival. A look is due when the back-off allows it and, where
    // the system notifies, a device arrived since the last look; TakeLook counts that arrival seen.
    void LookAtOnce() { m_nArrivalsSeen = m_nArrivals - 1; }
    void LookAtNextArrival() { m_nArrivalsSeen = m_nArrivals; }
    bool ArrivalDue() const { return m_nArrivals != m_nArrivalsSeen && ReopenDue(); }
    bool TakeLook();

    // The episode (episode.cpp). Lost records what told the engine; BeginLoss is true for the
    // episode's first loss, which it logs with that cause. The player thread's log lines are
    // muted from the first reopen until the episode closes (playerThread: its id).
    void Lost(const char* why) { m_pszLostWhy = why; }
    bool BeginLoss();
    void NoteReopened(DWORD playerThread);
    void EndSteadyEpisode(bool held, DWORD playerThread);
    void CloseEpisode(DWORD playerThread);
    bool Reopened() const { return m_episode.reopens != 0; }
    bool FailsQuickly() const { return m_episode.quick >= kQuickFailLimit; }
    bool ReopenDue() const;
    DWORD UntilReopenMs() const { return m_episode.nextTryMs - GetTickCount(); }
    DWORD WaitLeftMs() const;
    // The player thread's sleep while it waits for the device.
    DWORD WaitSleepMs() const;

    // Without a device for good (dropout.cpp): why, and the bytes of the ring to drop at nowMs
    // (GetTickCount), in whole frames of the ring's format, for the unpaused time since the last
    // step; used: the bytes the ring holds.
    void StartDropping(const char* why, DWORD nowMs);
    const char* DropWhy() const { return m_pszDropWhy; }
    DWORD DropDue(DWORD nowMs, bool paused, const WAVEFORMATEX& ring, DWORD used);

  private:
    char m_szDevice[MAX_PATH + 1] = {}; // device path of the stream's device
    const char* m_pszLostWhy = "";      // what told the engine the device was lost
    KSEpisode m_episode;                // the device's episode under way, if any
    // The dropping of the ring at the stream's rate: why, the unpaused time since it began, the
    // ring bytes it stood for and were dropped, and the clock at the last step.
    const char* m_pszDropWhy = "";
    ULONGLONG m_qwDropMs = 0;
    ULONGLONG m_qwDropped = 0;
    DWORD m_dwDropLastMs = 0;
    volatile LONG m_nArrivals = 0;      // device arrivals notified since construction
    volatile LONG m_nRemovals = 0;      // removals of the stream's device notified
    volatile LONG m_nDeviceChanges = 0; // arrivals and removals notified since construction
    LONG m_nArrivalsSeen = 0;           // arrivals the wait has looked at
    KSDeviceWatch m_watch;              // the system's notifications, or none (polling)
};
