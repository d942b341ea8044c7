// The engine operations the host calls while a stream runs: write, can-write, is-playing,
// pause, volume and output time.
#include "engine/kscore.h"

#include "diag/log.h"
#include "engine/arith.h"
#include "engine/settings.h"

// While the device is lost or awaited the ring is full to the host: it waits, as for a slow
// device. Without a device for good the ring takes the audio, which is dropped in time. An empty
// write without data is the host's end of its track.
int KSCore::Write(const char* data, int length) {
    if (!TakesWrites())
        return 1;
    bool end = length == 0 && !data;
    InterlockedExchange(&m_end.written, end);
    if (end && !m_settings.gapless_enabled) {
        InterlockedExchange(&m_end.waited, 1);
        WakeThread();
    }
    if (length == 0)
        return 0;
    if (length < 0 || !data)
        return 1;
    if (m_bytes.Write((const BYTE*)data, (DWORD)length))
        return 1;
    m_clock.Wrote((DWORD)length);
    InterlockedExchange(&m_end.waited, 0);
    WakeThread();
    return 0;
}

int KSCore::CanWrite() {
    if (!TakesWrites())
        return 0;
    return m_bytes.CanWrite(m_packets.packetSize);
}

// Gapless off: 1 while anything of the stream is buffered or with the device, 0 once the device
// has played it all, or has made no progress for StallMs() (it has played all it will: the host
// then closes the stream); from the first ask the player thread submits what is left, however
// little. A stream without its pin (lost, awaited, released) still plays; one without a device
// for good while its ring holds audio. Gapless on, the next track opens while the ring still
// plays: 0 once the ring is empty (without a device for good, once the host wrote its end), and 1
// once the device has played everything.
int KSCore::IsPlaying() {
    LONG state = m_nState;
    if (!IsOpen())
        return 0;
    bool gapless = m_settings.gapless_enabled != 0;
    if (state == kStateGone)
        return gapless ? !m_end.written : m_bytes.Used() != 0;
    if (state != kStatePlaying)
        return 1;
    if (gapless) {
        if (m_bytes.Pending())
            return 0;
        CsGuard lock(m_csState);
        return m_pOutput && m_pOutput->AllPlayed() ? 1 : 0;
    }
    if (!m_end.waited) {
        InterlockedExchange(&m_end.waited, 1);
        WakeThread();
    }
    CsGuard lock(m_csState);
    if (!m_pOutput)
        return 1;
    bool played = !m_bytes.Pending() && m_pOutput->PlayedOut();
    return played || TailStalled() ? 0 : 1;
}

// A pause takes effect once the player thread has acknowledged it (it then fills and submits
// nothing) and the pin holds its packets. A resume lets the thread go on only once the pin runs
// again: a refused run request leaves the stream paused, as the pin is, and the log says why.
int KSCore::Pause(int pause) {
    CsGuard lock(m_csControl);
    int old = m_bPaused;
    if (!IsOpen())
        return old;
    if (m_nState == kStateReleased) {
        if (!pause)
            ResumeReleased();
        return old;
    }
    if (m_nState != kStatePlaying || !m_pOutput) {
        // The player thread looks at the flag when the device comes back.
        InterlockedExchange(&m_bPaused, pause ? 1 : 0);
        WakeThread();
        return old;
    }
    CKsPin& pin = m_pOutput->Pin();
    if (pause) {
        InterlockedExchange(&m_bPaused, pause);
        // Wake a thread asleep on an empty ring, so that it makes the pass that acknowledges.
        WakeThread();
        m_thread.AwaitAck();
        if (m_settings.fade_ms && !old)
            FadeForPause();
        RequestState(pin, KSSTATE_PAUSE);
        if (m_settings.release_on_pause_enabled && !old)
            ReleaseForPause();
    } else {
        if (FAILED(RequestState(pin, KSSTATE_RUN))) {
            DiagLog(1, "Resume refused by the device: playback stays paused");
            return old;
        }
        InterlockedExchange(&m_bPaused, 0);
        WakeThread();
    }
    return old;
}

void KSCore::SetVolume(int volume) {
    if (volume < 0)
        return;
    m_bytes.SetVolume(volume > kMaxVolume ? kMaxVolume : (DWORD)volume);
    CsGuard lock(m_csState);
    if (m_pHwVolume)
        m_pHwVolume->Request(m_bytes.Volume());
}

// The audio the device has played (without a device for good, what was dropped in its place),
// less the hardware's latency where the output knows it: what the listener hears. The device is
// asked outside the state lock; m_csTime keeps the output alive meanwhile. A read that a pin
// coming or going, or a seek, overtook counts for nothing: the clock then holds that pin's bytes.
int KSCore::GetOutputTime() {
    CsGuard time(m_csTime);
    KSOutput* output;
    unsigned epoch;
    {
        CsGuard lock(m_csState);
        output = m_nState == kStateGone ? nullptr : m_pOutput.get();
        epoch = m_clock.Epoch();
    }
    ULONGLONG played = output ? output->Played() : 0;
    CsGuard lock(m_csState);
    DWORD rate = m_bytes.DeviceFormat().Format.nAvgBytesPerSec;
    if (m_nState == kStateGone)
        return m_clock.HeardMs(m_bytes.FromRing(), rate, 0);
    bool fits = output && output == m_pOutput.get() && epoch == m_clock.Epoch();
    DWORD latency = m_pOutput ? m_pOutput->LatencyMs() : 0;
    return m_clock.HeardMs(m_clock.Audio(fits ? played : 0), rate, latency);
}
