// The end of a stream: the host's close and the forced ends, the play-out of what the ring and the
// output hold, the stop and the output's close, the hold of the player thread off the stream; and
// the bounds on every wait for the device, with the way a stream ends when its device has stopped.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/settings.h"

namespace {

// Watches the output's progress while the end waits for the device: a stall is no progress for
// the whole bound.
class StallWatch {
  public:
    explicit StallWatch(ULONGLONG progress) : m_progress(progress), m_sinceMs(GetTickCount()) {}
    bool Stalled(ULONGLONG progress, DWORD boundMs) {
        DWORD now = GetTickCount();
        if (progress != m_progress) {
            m_progress = progress;
            m_sinceMs = now;
            return false;
        }
        return now - m_sinceMs > boundMs;
    }

  private:
    ULONGLONG m_progress;
    DWORD m_sinceMs; // when it last changed (GetTickCount)
};

} // namespace

// The close returns at once in gapless mode with the stream still open. The player thread may
// already sleep on an empty ring with a partly filled packet: it is woken, after m_csControl has
// been left, so that it runs the gapless underrun rule.
void KSCore::End() {
    DiagLog(1, "End()");
    InterlockedExchange(&m_bStarted, 0);
    {
        CsGuard lock(m_csControl);
        DiagLog(1, "End(force=%d)", 0);
        EndInternal(0);
    }
    if (IsOpen())
        WakeThread();
}

void KSCore::End(int force) {
    CsGuard lock(m_csControl);
    DiagLog(1, "End(force=%d)", force);
    EndInternal(force);
}

// How long a playing device may show no progress before it counts as stopped: the output's unit
// (a packet, a half of the cyclic buffer) comes back or moves on each unit's worth of audio, so
// two units' playing time plus the answer time.
DWORD KSCore::StallMs() {
    DWORD rate = m_bytes.DeviceFormat().Format.nAvgBytesPerSec;
    ULONGLONG unitMs = rate ? (ULONGLONG)m_pOutput->StallUnit() * 1000 / rate : 0;
    ULONGLONG bound = kDeviceAnswerMs + 2 * unitMs;
    return bound < MAXDWORD ? (DWORD)bound : MAXDWORD;
}

// Keeps the player thread from moving audio to the device, as a pause does, until
// ReleasePlayerThread. An acknowledgement left from an earlier pause counts no more.
void KSCore::HoldPlayerThread() {
    m_thread.ForgetAck();
    InterlockedExchange(&m_bHeld, 1);
    if (OnPlayerThread())
        return;
    WakeThread();
    m_thread.AwaitAck();
}

void KSCore::ReleasePlayerThread() {
    InterlockedExchange(&m_bHeld, 0);
}

// Lets the device play what the ring and the output hold. True when all of it was played; false
// when the device stopped: no progress for StallMs(), or a loss the episode's bounds do not let
// the play-out reopen (each reopen restarts the stall watch, and the bounds end the reopens). The
// player thread is woken so that, in ending mode, it hands over even a partly filled packet; on the
// player thread itself (a gapless underrun) the output is served by this loop.
bool KSCore::PlayOut() {
    bool self = OnPlayerThread();
    if (!self)
        WakeThread();
    StallWatch watch(m_pOutput->Progress());
    while (m_bytes.Pending() || !m_pOutput->PlayedOut()) {
        if (m_nState == kStateDrainingLost) {
            if (!ReopenNow())
                return false;
            watch = StallWatch(m_pOutput->Progress());
            continue;
        }
        if (watch.Stalled(m_pOutput->Progress(), StallMs()))
            return false;
        m_pOutput->AwaitPlayOut(self);
    }
    return true;
}

void KSCore::EndInternal(int force) {
    LONG state = m_nState;
    DiagLog(1, "EndInternal() - mode=%d force=%d", (int)ModeOf(state), force);
    if (!IsOpen())
        return;
    if (state == kStateWaiting || state == kStateReleased || state == kStateGone) {
        // Awaited, released or gone: nothing to play out, and the wait ends now. (A pin just lost
        // is opened again by the play-out, when the device is there.)
        DiagLog(1, "The stream ends without its device");
        EndWithoutDevice();
        return;
    }
    if (m_settings.gapless_enabled && !force)
        return;
    // The host's close without gapless is the user's stop, or comes once IsPlaying said that
    // everything has played: what is left is dropped, as while paused.
    bool now = m_bPaused || !force;
    if (now) {
        HoldPlayerThread();
        if (m_settings.fade_ms && !m_bPaused) // the stop fades out
            FadeForStop();
        m_bytes.Discard();
    }
    // A loss may come at any moment: the state changes from the one it had.
    while (!SetState(kStateDraining, kStatePlaying) && !SetState(kStateDrainingLost, kStateLost))
        continue;
    if (!now && !PlayOut()) {
        if (m_nState != kStateDraining)
            DiagLog(1, "Device lost while the stream played out: the stream ends");
        else
            DiagLog(1, "Device stopped: %s for %lu ms; the stream ends as for a removed device",
                    m_pOutput->StallText(), StallMs());
        HoldPlayerThread();
        m_bytes.Discard();
    }
    // A device lost during the play-out and not found again has taken its output with it.
    StopOutput(nullptr, false);
    CloseOutput();
    ReleasePlayerThread();
}

// Stops the output, if any, keeping in *unplayed (when given) what the device did not play, and
// counts the packets the device kept even so.
void KSCore::StopOutput(KSBytes* unplayed, bool exact) {
    if (!m_pOutput)
        return;
    int lost = unplayed ? m_pOutput->StopKeeping(exact, unplayed) : m_pOutput->Stop();
    if (lost)
        InterlockedExchange(&m_nLostPackets, lost);
}

// The one place a stream's output is closed: the output goes, and the stream with it.
void KSCore::CloseOutput() {
    CloseEpisode();
    if (m_pOutput)
        PinGone(m_pOutput->Played());
    DropOutput();
    SetState(kStateClosed);
    DiagLog(1, "Output Closed");
}

// The one place an output is taken down: the player thread lets go of it, the output closes its
// pin, and the device list goes (the next open lists the devices anew).
void KSCore::DropOutput() {
    KSOutput* output;
    {
        CsGuard time(m_csTime); // no time query is inside the output
        CsGuard lock(m_csState);
        if (m_pOutput) {
            m_closed = KSSnapshot{};
            m_pOutput->Describe(m_closed);
        }
        output = m_pOutput.release();
    }
    ReleaseOutput(output);
    CloseDeviceVolume();
    m_pEnumFilters.reset();
}

// Deletes the output once the player thread no longer serves it: a wait it began on the output's
// events is ended by the stop event. An output whose device kept packets, or that a thread stuck
// in a device call still serves, stays in memory for good, as the engine then does.
void KSCore::ReleaseOutput(KSOutput* output) {
    if (!output)
        return;
    for (DWORD waited = 0; !OnPlayerThread(); waited += kPollMs) {
        {
            CsGuard lock(m_csState);
            if (m_pServing != output)
                break;
        }
        if (waited >= kDeviceAnswerMs) {
            DiagLog(1, "Player thread still serves the closed output after %lu ms",
                    kDeviceAnswerMs);
            return;
        }
        m_thread.Interrupt();
        Sleep(waited ? kPollMs : 0);
    }
    if (!m_nLostPackets)
        delete output;
}
