// The engine's side of a device's life under a running stream: the loss of its pin (a failed
// request, or the system's word that it was removed), the bounded wait for it to come back with the
// same device path, the reopen in the same format, the release of the pin while paused, the stream
// that goes on without a device, and the handing of what the closed pin left unplayed to the stream
// buffer. The account of it all is the device life's (devicelife.h).
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
    self->m_life.CountChange(arrived);
    if (arrived) {
        self->WakeThread();
        return;
    }
    bool ours, held;
    {
        CsGuard lock(self->m_csState);
        ours = self->m_life.IsDevice(path);
        held = self->m_pOutput != nullptr;
    }
    if (!ours)
        return;
    self->m_life.CountRemoval();
    if (held)
        self->DeviceLost("the system reported it removed");
}

// The player thread takes the pin down and looks for the device in its next pass.
void KSCore::DeviceLost(const char* why) {
    if (!SetState(kStateLost, kStatePlaying) && !SetState(kStateDrainingLost, kStateDraining))
        return;
    m_life.Lost(why);
    WakeThread();
}

// The player thread's one way into m_csControl: while a host thread holds it (and may wait for
// this thread's acknowledgement of a pause) the thread keeps acknowledging, and gives up once that
// thread has changed the situation (still() is false).
bool KSCore::TakeControl(bool (KSCore::*still)() const) {
    while (!m_csControl.TryEnter()) {
        m_thread.Acknowledge(MovesNoAudio());
        if (!(this->*still)())
            return false;
        Sleep(kPollMs);
    }
    return true;
}

// A lost or awaited device the player thread has to take in hand: not once the stream has ended
// or its device was settled.
bool KSCore::DeviceUnsettled() const {
    return IsOpen() && m_nState != kStatePlaying && !m_thread.Ending();
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
    if (!m_life.WaitLeftMs()) {
        DiagLog(1, "Device did not come back within %lu ms: given up, its audio is dropped",
                kDeviceReturnMs);
        GoWithoutDevice("the device did not come back");
        return;
    }
    if (!m_life.TakeLook())
        return;
    if (m_life.Reopened())
        LogMuteThread(m_thread.Id(), true);
    if (Reopen() == kRefused) {
        CloseEpisode();
        DiagLog(1, "The device came back and cannot play the stream: its audio is dropped");
        GoWithoutDevice("the device came back and refused the stream");
    }
}

// On the player thread: the lost pin goes and the wait begins, or goes on. A device that failed
// again right after each of the last kQuickFailLimit reopens is not waited for any longer.
void KSCore::TakeLoss() {
    bool first = m_life.BeginLoss();
    LetGo(false);
    m_life.LookAtOnce();
    SetState(kStateWaiting);
    if (first)
        DiagLog(1, "Waiting up to %lu ms for the device to come back", kDeviceReturnMs);
    if (!m_life.FailsQuickly())
        return;
    CloseEpisode();
    DiagLog(1, "Device failed again within %lu ms of each of its last %ld reopens: taken as gone",
            kSteadyMs, kQuickFailLimit);
    GoWithoutDevice("it fails again after every reopen");
}

// A loss while the stream plays out at its end: the host is closing, so the device is not
// waited for, only reopened when it is there, as the episode's back-off and bounds allow. False
// when it is not there to play the rest.
bool KSCore::ReopenNow() {
    m_life.BeginLoss();
    if (!OnPlayerThread())
        HoldPlayerThread();
    LetGo(false);
    if (m_life.FailsQuickly() || !m_life.WaitLeftMs())
        return false;
    DWORD wait = m_life.UntilReopenMs();
    if (!m_life.ReopenDue())
        Sleep(wait);
    bool repeat = m_life.Reopened();
    LogMuteThread(GetCurrentThreadId(), repeat);
    LogMuteThread(m_thread.Id(), repeat);
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

// A pin on the device with the stream's device path, in the format of the lost pin, from the
// open's steps (open.cpp).
int KSCore::Reopen() {
    LONG removals = m_life.Removals();
    m_pEnumFilters.reset();
    EnsureFilterList(true);
    m_pRenderFilter = FindDevice(m_life.Device(), false);
    if (!m_pRenderFilter)
        return kAbsent;
    WAVEFORMATEXTENSIBLE wfx = m_bytes.DeviceFormat();
    bool busy = false;
    CKsPin* pin = AskForPin(&wfx, true, &busy);
    // A device removed again while its pin was being made has not refused the stream: it is
    // waited for.
    if (!pin && m_life.Removals() != removals)
        return kAbsent;
    WAVEFORMATEXTENSIBLE ring = m_bytes.RingFormat();
    if (!pin || !PublishOutput(pin, wfx, ring, m_bAdapted))
        return kRefused;
    char text[96];
    DescribeFormat(m_bytes.DeviceFormat(), text, sizeof text);
    DiagLog(1, "Device back: %s reopened with %s", m_pRenderFilter->m_szFriendlyName, text);
    SetState(m_nState == kStateDrainingLost ? kStateDraining : kStatePlaying);
    if (FAILED(RunPin()) && m_life.Removals() == removals)
        return kRefused;
    m_pOutput->Running();
    m_life.NoteReopened(m_thread.Id());
    WakeThread();
    // A removal while the pin was being made found no held device to lose: it is lost now.
    if (m_life.Removals() != removals)
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

// Under m_csControl: the stream goes on without a device until the host closes it. The output,
// if any, is stopped and closed; the ring stays, the kept audio and the pre-roll go.
void KSCore::GoWithoutDevice(const char* why) {
    CloseEpisode();
    StopOutputNow();
    m_bytes.ForgetKept();
    m_life.StartDropping(why, GetTickCount());
    SetState(kStateGone);
    ReleasePlayerThread();
    DiagLog(1,
            "Audio dropped from now on: %s; the stream goes on without a device until it is "
            "closed",
            why);
    WakeThread();
}

// The output is stopped and closed, what it held given up.
void KSCore::StopOutputNow() {
    if (!m_pOutput)
        return;
    HoldPlayerThread();
    StopOutput(nullptr, false);
    DropOutput();
}

// On the player thread, without a device for good: the ring's audio goes at the stream's rate.
void KSCore::DropDue() {
    DWORD n =
        m_life.DropDue(GetTickCount(), MovesNoAudio(), m_bytes.RingFormat().Format, m_bytes.Used());
    if (n)
        m_bytes.Drop(n);
}

// Pause with release_on_pause_enabled: the pin is paused and the player thread holds; the pin
// goes, what it had not played is kept for the resume.
void KSCore::ReleaseForPause() {
    LetGo(true);
    SetState(kStateReleased);
    DiagLog(1, "Device released while paused: %s", m_life.Device());
}

// A device that is gone at the resume is waited for as a lost one; one that refuses the stream
// leaves it without a device.
void KSCore::ResumeReleased() {
    InterlockedExchange(&m_bPaused, 0);
    int found = Reopen();
    if (found == kReopened)
        return;
    if (found == kRefused) {
        DiagLog(1, "Resume: %s cannot be opened again (it refused the stream)", m_life.Device());
        GoWithoutDevice("the device refused the stream at the resume");
        return;
    }
    DiagLog(1, "Resume: %s cannot be opened again (the device is gone)", m_life.Device());
    m_life.Lost("gone while released");
    m_life.BeginLoss();
    m_life.LookAtNextArrival();
    SetState(kStateWaiting);
    DiagLog(1, "Waiting up to %lu ms for the device to come back", kDeviceReturnMs);
    WakeThread();
}

// The player thread's sleep: while it waits for a device, as the device life says; without a
// device for good, a step of the dropping while there is audio to drop.
DWORD KSCore::WakeTimeout() {
    if (m_nState == kStateGone)
        return m_bytes.Used() && !MovesNoAudio() ? kDropStepMs : INFINITE;
    return m_nState == kStateWaiting ? m_life.WaitSleepMs() : INFINITE;
}
