// What drains the stream's bytes (streambuffer.h) into a device: one output per open stream,
// behind one interface. The packet output (packetout.h) submits packets as KS stream writes; the
// cyclic-buffer output (cyclicout.h) writes them into a WaveRT driver's cyclic buffer. The engine
// opens the device and creates the pin; NewOutput makes the output that fits the pin, and the
// output owns the pin from then on (closed and deleted with the output).
//
// Threading: the player thread calls BeforeWait, AfterWait and HasWork while it serves the
// output (KSCore::Pass); the control path (under m_csControl) calls the rest. The engine deletes
// an output only once the player thread no longer serves it, so nothing of one stream's waits
// reaches the next stream's output. AudioWritten, AllPlayed, Taken and Describe come from any
// thread under the engine's state lock, Played under its time lock (which keeps the output alive,
// outside the state lock: it may ask the device); the outputs guard what those share with the
// player thread with a lock of their own, taken after the engine's.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <memory>

#include "engine/fade.h"

class CKsAudRenFilter;
class CKsPin;
class KSStreamBuffer;
struct KSSnapshot;

// The owner of a render pin: closes and deletes it.
struct PinCloser {
    void operator()(CKsPin* pin) const;
};
typedef std::unique_ptr<CKsPin, PinCloser> PinOwner;

// The stream's modes as the outputs and the snapshot see its state (KSCore::ModeOf).
constexpr LONG kModeClosed = 0;
constexpr LONG kModeOpen = 1;
constexpr LONG kModeEnding = 2; // draining: only inside EndInternal

// Audio a closed output gave back unplayed, in the device's format, to be played first on the
// next pin: data holds size bytes (new[]), or is null.
struct KSBytes {
    std::unique_ptr<BYTE[]> data;
    DWORD size = 0;
    DWORD uncounted = 0; // bytes at its end that were never counted as submitted
};

// Memory for n unplayed bytes in *b (its size n); false, logged, when there is none: they are lost.
bool AllocateUnplayed(KSBytes* b, DWORD n);

// Handles an output adds to the player thread's wait, after the stop event.
constexpr int kMaxOutputWaits = 8;

// The player thread's wait as an output asks for it: its own events and how long to wait
// (INFINITE: until one is set).
struct KSWaitList {
    HANDLE handles[kMaxOutputWaits];
    DWORD count;
    DWORD timeoutMs;
};

// How a wait ended, as the output is told: one of its own events (0 .. count - 1), or these.
constexpr int kWaitStop = -1;    // the stop event
constexpr int kWaitTimeout = -2; // the wait's time ran out
constexpr int kWaitFailed = -3;  // the wait itself failed (logged)

// What the player thread does after an output's part of a pass.
enum class KSNext {
    kWait,   // wait as the list says (BeforeWait only)
    kDone,   // the pass is over
    kSleep,  // nothing to do: sleep until woken (the gapless rule runs)
    kRanDry, // the ring is empty while the stream runs on: the gapless rule runs
};

// What an output uses of the engine besides the stream's bytes (streambuffer.h): the stream's
// flags, the device's loss and the player thread. KSCore implements it.
class KSStreamSite {
  public:
    virtual LONG Mode() = 0;
    virtual bool Paused() = 0; // the host's pause or the engine's hold: move no audio
    virtual bool Started() = 0;
    // The host waits for the end of what it wrote: a partly filled packet goes as it is.
    virtual bool Tail() = 0;
    // The device stopped taking audio (a failed request): the engine reopens it or waits for it.
    virtual void DeviceLost(const char* why) = 0;
    virtual void WakeThread() = 0;
    virtual void HoldPlayerThread() = 0; // as a pause: the thread fills and writes nothing
    virtual bool OnPlayerThread() = 0;
    // The player thread's one labelled wait (the stop event, then the list's events).
    virtual int Wait(const KSWaitList& list) = 0;

  protected:
    ~KSStreamSite() = default;
};

class KSOutput {
  public:
    virtual ~KSOutput() = default;
    KSOutput(const KSOutput&) = delete;
    KSOutput& operator=(const KSOutput&) = delete;

    // Control path.
    virtual CKsPin& Pin() = 0;
    // The pin runs: an output that plays silence until audio comes starts serving now.
    virtual void Running() = 0;
    // After the play-out (or with the device stopped): the pin paused and stopped, and what the
    // device still held given back. Returns the packets the device kept even so.
    virtual int Stop() = 0;
    // As Stop, keeping in *unplayed what the device was given and did not play, in order: the
    // packets the stop gave back unplayed or that the device never took, then the packet being
    // filled; for a cyclic buffer, only when exact (the play position held by a pause), what lies
    // between the play position and the end of the audio written.
    virtual int StopKeeping(bool exact, KSBytes* unplayed) = 0;
    // A gapless underrun ends the stream: what is waiting to be submitted goes first.
    virtual void SubmitPartial() = 0;
    // A seek, with the player thread held: what the device holds and what waits to be submitted
    // are dropped, and the device plays nothing more of it; Taken and Played count from here.
    virtual void Flush() = 0;
    // The fades (fade_ms), with the player thread held and the pin running. TakeBack: the device
    // plays nothing more of what it holds, which goes into *unplayed in order (as StopKeeping
    // keeps it), and Taken and Played count from here; the pin waits, paused, for PlayNow. False,
    // with nothing changed, where the output cannot (the cyclic buffer). PlayNow: the size bytes
    // at data (none: size 0) go to the device ahead of the stream's, the pin runs, and the call
    // returns once they have played (false: not within the device's answer time; then they are
    // dropped).
    virtual bool TakeBack(KSBytes*) { return false; }
    virtual bool PlayNow(const BYTE*, DWORD) { return false; }
    // A fade where the device's audio cannot be taken back (the cyclic buffer), with the player
    // thread held: the next size bytes it plays (at most) fade out where they lie, silence
    // follows, and the thread's passes write only silence until the next Flush. *rest (when
    // given) takes the audio after the fade, which then no longer counts as taken. False, with
    // nothing changed, where it cannot. AwaitFade, with the thread let go: returns once the
    // faded stretch has played, or after the device's answer time past its length.
    virtual bool FadeInPlace(DWORD, const KSFadeFormat&, KSBytes*) { return false; }
    virtual void AwaitFade() {}
    // Device bytes the output holds at most: the packets, or the cyclic buffer.
    virtual DWORD Capacity() = 0;
    // True once everything taken from the stream buffer has played (what it holds is not asked).
    virtual bool PlayedOut() = 0;
    // Waits about kPollMs for the play-out to move on; self: on the player thread, which then
    // serves the output itself.
    virtual void AwaitPlayOut(bool self) = 0;
    // Grows whenever the device makes progress: what the stall watch compares.
    virtual ULONGLONG Progress() = 0;
    // Bytes the device plays between two signs of progress, and what a stall means, for the log.
    virtual DWORD StallUnit() = 0;
    virtual const char* StallText() = 0;
    // Milliseconds between the device taking a byte and the listener hearing it, where known.
    virtual DWORD LatencyMs() { return 0; }

    // Player thread, while it serves the output.
    virtual KSNext BeforeWait(KSWaitList& list) = 0;
    virtual KSNext AfterWait(int wait) = 0;
    virtual bool HasWork() = 0; // under m_csWake, before the thread sleeps

    // Any thread, under the engine's state lock (Played: its time lock).
    virtual void AudioWritten() = 0; // the host wrote into the ring
    virtual bool AllPlayed() = 0;    // IsPlaying's test of the device side
    // Bytes taken from the stream buffer since the output opened or was flushed, and of them the
    // bytes the device has played.
    virtual ULONGLONG Taken() = 0;
    virtual ULONGLONG Played() = 0;
    virtual void Describe(KSSnapshot& s) = 0;

  protected:
    KSOutput() = default;
};

// The packets a packet output makes for itself, from the settings: packetSize 0 when the
// settings' size cannot be had (logged by the engine).
struct KSPacketPlan {
    DWORD packetSize; // bytes per packet
    int count;        // packets, 2..8
};

// The output for the pin, or null (logged): a cyclic-buffer output for a WaveRT pin (halves of
// about halfSize bytes), else a packet output; either reads the stream's bytes from bytes. Takes
// the pin whatever the result: on failure it is closed and deleted.
KSOutput* NewOutput(CKsPin* pin, const WAVEFORMATEX& format, DWORD halfSize,
                    const KSPacketPlan& packets, KSStreamSite& site, KSStreamBuffer& bytes);

// True when the instance counts of the filter's pin for the format say every pin is taken
// (logged): the open is refused before a pin is made.
bool DeviceBusy(CKsAudRenFilter& filter, const WAVEFORMATEX* format);

// Asks the pin for a state; a refusal is logged with its cause.
HRESULT RequestState(CKsPin& pin, KSSTATE state);
