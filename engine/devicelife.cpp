// A device's life under a running stream: the loss of its pin (a failed request, or the system's
// word that it was removed), the bounded wait for it to come back with the same device path, the
// reopen in the same format, the release of the pin while paused, and the handing of what the
// closed pin left unplayed, and of the new pin's pre-roll, to the stream buffer.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/settings.h"
#include "ks/audfilter.h"
#include "ks/enum.h"

#include <cstring>
#include <new>

namespace {

// What Reopen found.
constexpr int kReopened = 0;
constexpr int kAbsent = 1;  // no device with the stream's device path
constexpr int kRefused = 2; // the device is there and cannot play the stream (logged)

} // namespace

// The system's thread: quick, and never inside m_csControl.
void KSCore::OnDeviceChange(void* context, bool arrived, const char* path) {
    KSCore* self = static_cast<KSCore*>(context);
    DiagLog(1, "Device %s: %s", arrived ? "arrived" : "removed", path);
    InterlockedIncrement(&self->m_nDeviceChanges);
    if (arrived) {
        InterlockedIncrement(&self->m_nArrivals);
        self->WakeThread();
        return;
    }
    bool ours, held;
    {
        CsGuard lock(self->m_csState);
        ours = !lstrcmpiA(path, self->m_szDevice);
        held = self->m_pOutput != nullptr;
    }
    if (!ours)
        return;
    InterlockedIncrement(&self->m_nRemovals);
    if (held)
        self->DeviceLost("the system reported it removed");
}

// The player thread takes the pin down and looks for the device in its next pass.
void KSCore::DeviceLost(const char* why) {
    if (!SetState(kStateLost, kStatePlaying) && !SetState(kStateDrainingLost, kStateDraining))
        return;
    m_pszLostWhy = why;
    WakeThread();
}

// The player thread's one way into m_csControl: while a host thread holds it (and may wait for
// this thread's acknowledgement of a pause) the thread keeps acknowledging, and gives up once that
// thread has changed the situation (still() is false).
bool KSCore::TakeControl(bool (KSCore::*still)() const) {
    while (!m_csControl.TryEnter()) {
        InterlockedExchange(&m_bPauseAck, MovesNoAudio());
        if (!(this->*still)())
            return false;
        Sleep(kPollMs);
    }
    return true;
}

// A lost or awaited device the player thread has to take in hand: not once the stream has ended
// or its device was settled.
bool KSCore::DeviceUnsettled() const {
    return IsOpen() && m_nState != kStatePlaying && !m_bExitThread;
}

// On the player thread: a lost pin is taken down, then the device is looked for at each arrival
// (at each look where the system gives no notifications), as the episode's back-off allows,
// until the deadline. A device that does not come back, or refuses the stream, leaves the
// stream without a device.
void KSCore::Recover() {
    if (!TakeControl(&KSCore::DeviceUnsettled))
        return;
    CsGuard lock(m_csControl, CsGuard::kAdopt);
    if (m_nState != kStateLost && m_nState != kStateWaiting)
        return;
    if (m_nState == kStateLost)
        TakeLoss();
    if (m_nState != kStateWaiting)
        return;
    if (!WaitLeftMs()) {
        DiagLog(1, "Device did not come back within %lu ms: given up, its audio is dropped",
                kDeviceReturnMs);
        GoWithoutDevice("the device did not come back");
        return;
    }
    LONG arrivals = m_nArrivals;
    if (!ReopenDue() || (m_watch.Active() && arrivals == m_nArrivalsSeen))
        return;
    m_nArrivalsSeen = arrivals;
    if (m_episode.reopens)
        LogMuteThread(m_dwThreadId, true);
    if (Reopen() == kRefused) {
        CloseEpisode();
        DiagLog(1, "The device came back and cannot play the stream: its audio is dropped");
        GoWithoutDevice("the device came back and refused the stream");
    }
}

// A loss while the stream plays out at its end: the host is closing, so the device is not
// waited for, only reopened when it is there, as the episode's back-off and bounds allow. False
// when it is not there to play the rest.
bool KSCore::ReopenNow() {
    if (BeginLoss())
        DiagLog(1, "Device lost: %s (%s)", m_szDevice, m_pszLostWhy);
    if (!OnPlayerThread())
        HoldPlayerThread();
    LetGo(false);
    if (m_episode.quick >= kQuickFailLimit || !WaitLeftMs())
        return false;
    DWORD wait = m_episode.nextTryMs - GetTickCount();
    if (!ReopenDue())
        Sleep(wait);
    bool repeat = m_episode.reopens != 0;
    LogMuteThread(GetCurrentThreadId(), repeat);
    LogMuteThread(m_dwThreadId, repeat);
    bool back = Reopen() == kReopened;
    if (!OnPlayerThread())
        LogMuteThread(GetCurrentThreadId(), false);
    return back;
}

// Takes the output down and keeps the stream: the ring, the time, and what the pin left
// unplayed. Under m_csControl, with the player thread held off or on it; the hold ends here.
void KSCore::LetGo(bool exact) {
    KSBytes unplayed;
    StopOutput(&unplayed, exact);
    ULONGLONG taken = m_pOutput ? m_pOutput->Taken() : 0;
    PinGone(taken > unplayed.size ? taken - unplayed.size : 0);
    m_bytes.Keep(unplayed);
    DropOutput();
    ReleasePlayerThread();
}

// A pin on the device with the stream's device path, in the format of the lost pin.
int KSCore::Reopen() {
    LONG removals = m_nRemovals;
    m_pEnumFilters.reset();
    EnsureFilterList(true);
    m_pRenderFilter = FindDevice(m_szDevice);
    if (!m_pRenderFilter)
        return kAbsent;
    WAVEFORMATEXTENSIBLE wfx = m_bytes.DeviceFormat();
    CKsPin* pin = nullptr;
    if (!DeviceBusy(*m_pRenderFilter, &wfx.Format)) {
        LogAttempt("Attempting to CreateRenderPin again with the stream's format:", wfx);
        pin = m_pRenderFilter->CreateRenderPin(&wfx.Format, FALSE);
        if (!pin)
            LogPinCause(*m_pRenderFilter);
    }
    // A device removed again while its pin was being made has not refused the stream: it is
    // waited for.
    if (!pin && m_nRemovals != removals)
        return kAbsent;
    WAVEFORMATEXTENSIBLE ring = m_bytes.RingFormat();
    if (!pin || !PublishOutput(pin, wfx, ring, m_bAdapted))
        return kRefused;
    char text[96];
    DescribeFormat(m_bytes.DeviceFormat(), text, sizeof text);
    DiagLog(1, "Device back: %s reopened with %s", m_pRenderFilter->m_szFriendlyName, text);
    SetState(m_nState == kStateDrainingLost ? kStateDraining : kStatePlaying);
    if (!m_bPaused) {
        if (FAILED(RequestState(m_pOutput->Pin(), KSSTATE_RUN)) && m_nRemovals == removals)
            return kRefused;
    }
    m_pOutput->Running();
    NoteReopened();
    WakeThread();
    // A removal while the pin was being made found no held device to lose: it is lost now.
    if (m_nRemovals != removals)
        DeviceLost("the system reported it removed while it was opened again");
    return kReopened;
}

// The stream ends as one whose device was removed: nothing kept, the output closed. A player
// thread that drops the audio of a stream without a device is held off the ring first.
void KSCore::EndWithoutDevice() {
    if (m_nState == kStateGone)
        HoldPlayerThread();
    StopOutputNow();
    m_bytes.Discard();
    CloseOutput();
    ReleasePlayerThread();
}

// Pause with release_on_pause_enabled: the pin is paused and the player thread holds; the pin
// goes, what it had not played is kept for the resume.
void KSCore::ReleaseForPause() {
    LetGo(true);
    SetState(kStateReleased);
    DiagLog(1, "Device released while paused: %s", m_szDevice);
}

// A device that is gone at the resume is waited for as a lost one; one that refuses the stream
// leaves it without a device.
void KSCore::ResumeReleased() {
    InterlockedExchange(&m_bPaused, 0);
    int found = Reopen();
    if (found == kReopened)
        return;
    if (found == kRefused) {
        DiagLog(1, "Resume: %s cannot be opened again (it refused the stream)", m_szDevice);
        GoWithoutDevice("the device refused the stream at the resume");
        return;
    }
    DiagLog(1, "Resume: %s cannot be opened again (the device is gone)", m_szDevice);
    if (BeginLoss())
        DiagLog(1, "Device lost: %s (gone while released)", m_szDevice);
    m_nArrivalsSeen = m_nArrivals;
    SetState(kStateWaiting);
    DiagLog(1, "Waiting up to %lu ms for the device to come back", kDeviceReturnMs);
    WakeThread();
}

// Every new pin plays the pre-roll's silence first, in whole frames of its format: returns its
// bytes.
DWORD KSCore::StartPreroll(const WAVEFORMATEX& format) {
    int ms = m_settings.preroll_ms;
    ULONGLONG bytes = (ULONGLONG)ms * format.nAvgBytesPerSec / 1000;
    if (format.nBlockAlign)
        bytes -= bytes % format.nBlockAlign;
    m_bytes.StartPreroll((DWORD)bytes, format.wBitsPerSample == 8 ? 0x80 : 0);
    if (bytes)
        DiagLog(1, "Pre-roll: %d ms of silence before the first sample", ms);
    return (DWORD)bytes;
}

DWORD KSCore::WaitLeftMs() {
    DWORD gone = GetTickCount() - m_episode.startMs;
    return gone >= kDeviceReturnMs ? 0 : kDeviceReturnMs - gone;
}

// The player thread's sleep: while it waits for a device, no longer than the wait has left, and
// no longer than a look's period where nothing notifies it.
DWORD KSCore::WakeTimeout() {
    if (m_nState == kStateGone)
        return m_bytes.Used() && !MovesNoAudio() ? kDropStepMs : INFINITE;
    if (m_nState != kStateWaiting)
        return INFINITE;
    DWORD left = WaitLeftMs();
    if (!ReopenDue()) {
        DWORD backoff = m_episode.nextTryMs - GetTickCount();
        left = backoff < left ? backoff : left;
    }
    return !m_watch.Active() && left > kDevicePollMs ? kDevicePollMs : left;
}
