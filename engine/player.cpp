// The player thread: each pass serves the open stream's output with one labelled wait, sleeps when
// there is nothing to do, and ends a gapless stream when the audio runs out.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/settings.h"

DWORD WINAPI KSCore::PlayerThreadProc(LPVOID param) {
    static_cast<KSCore*>(param)->PlayerThread();
    return 0;
}

// While a stream is open the wake event stays set as long as its output has work; a WaveRT
// stream's output has work until it ends, waiting in each pass for the driver or the next look.
void KSCore::PlayerThread() {
    do {
        m_thread.AwaitWake(WakeTimeout());
        Pass();
        m_thread.Acknowledge(MovesNoAudio());
    } while (!m_thread.Ending());
    DiagLog(1, "Player Thread - closing");
}

// The output does its part before and after the wait. It may end the stream only once this
// pass has let go of it: the gapless rule runs last.
void KSCore::Pass() {
    if (m_nState == kStateGone) {
        DropDue();
        GoToSleep(nullptr);
        return;
    }
    m_life.EndSteadyEpisode(DeviceOf(m_nState) == kDeviceHeld, m_thread.Id());
    if (DeviceOf(m_nState) == kDeviceLost || m_nState == kStateWaiting) {
        Recover();
        if (DeviceOf(m_nState) != kDeviceHeld) {
            GoToSleep(nullptr);
            return;
        }
    }
    KSOutput* output = BeginServing();
    KSWaitList list = {};
    KSNext next = output ? output->BeforeWait(list) : KSNext::kSleep;
    bool ranDry = next == KSNext::kRanDry;
    if (next == KSNext::kWait || (ranDry && !GaplessUnderrun()))
        next = output->AfterWait(Wait(list));
    bool sleeping = next == KSNext::kSleep && GoToSleep(output);
    EndServing();
    if (sleeping || ranDry)
        EndOnGaplessUnderrun();
}

KSOutput* KSCore::BeginServing() {
    CsGuard lock(m_csState);
    m_pServing = m_pOutput.get();
    return m_pServing;
}

void KSCore::EndServing() {
    CsGuard lock(m_csState);
    m_pServing = nullptr;
}

// Whether a pass would find something to do. Read under m_csWake before going to sleep, so
// that a wake-up given after the thread looked at the ring is never lost.
bool KSCore::HasWork(KSOutput* output) {
    if (m_thread.Ending())
        return true;
    LONG state = m_nState;
    if (DeviceOf(state) == kDeviceLost) // the end's play-out takes a loss in hand itself
        return state == kStateLost;
    if (state == kStateWaiting)
        return m_life.ArrivalDue();
    if (state == kStateGone) // it drops the audio at each step of WakeTimeout
        return false;
    if (MovesNoAudio() || !output)
        return false;
    return m_bytes.Pending() || output->HasWork();
}

// True when the thread now sleeps: the next pass waits for WakeThread.
bool KSCore::GoToSleep(KSOutput* output) {
    CsGuard lock(m_csWake);
    if (HasWork(output))
        return false;
    m_thread.FallAsleep();
    return true;
}

bool KSCore::GaplessUnderrun() const {
    return m_nState == kStatePlaying && !m_bStarted && !MovesNoAudio() && !m_bytes.Pending() &&
           m_settings.gapless_enabled;
}

// In gapless mode, once the host has closed the stream and the ring has run dry with no new
// stream started, the output plays out what it holds and is closed. The test and the end are one
// step under m_csControl. While another thread holds m_csControl (a start, an end or a pause
// waiting for this thread's acknowledgement) the thread keeps acknowledging and gives up as soon
// as that thread has changed the situation.
void KSCore::EndOnGaplessUnderrun() {
    if (!GaplessUnderrun())
        return;
    if (!TakeControl(&KSCore::GaplessUnderrun))
        return;
    CsGuard lock(m_csControl, CsGuard::kAdopt);
    if (GaplessUnderrun()) {
        DiagLog(1, "Gapless mode buffer underrun - Player Thread is stopping KS player");
        m_pOutput->SubmitPartial();
        DiagLog(1, "End(force=%d)", 1);
        EndInternal(1);
    }
}
