// The playback engine: the host's operations, the player thread, stream start and end, gapless
// hand-over, timing, the device's life and the choice of device and pin format. The stream's bytes
// are the stream buffer's (streambuffer.h); what drains them into the device is the open stream's
// output (output.h): packets or a WaveRT cyclic buffer.
//
// Threading:
// - Host threads call Start, End, Pause, SetVolume and the queries. Write (with CanWrite) comes
//   from one host thread at a time, the player's decode thread, which may differ from the thread
//   that starts, ends and pauses; every call runs concurrently with the player thread.
// - The player thread (PlayerThread) serves the open stream's output: each pass waits once, in
//   the one labelled wait (stop event, then the output's events), and lets the output move audio
//   from the ring to the device. It sleeps on m_hWakeEvent when there is nothing to do, and ends
//   a gapless stream when the audio runs out.
// - m_csControl serialises Start, End, Pause and the final end of Shutdown; StartInternal,
//   OpenOutput, EndInternal and CloseOutput run only with it held. The output is made and deleted
//   only there.
// - m_csWake pairs the player thread's going to sleep with WakeThread.
// - m_csState guards m_pOutput and m_pServing: the output's publication and its taking down
//   (DropOutput, which deletes it outside the lock once no pass serves it) against the player
//   thread taking it for a pass, the snapshot, IsPlaying and WakeThread; and m_pHwVolume,
//   the device's volume control of the open stream, against SetVolume and the snapshot.
// - Lock order: m_csControl, then m_csWake (Pause and EndInternal wake the thread while holding
//   m_csControl), then m_csState. The player thread never waits for m_csControl while it holds
//   m_csWake: it leaves m_csWake before it ends a gapless stream. The host's close wakes the
//   thread only after it has left m_csControl. An output's own clock lock (its counts of what the
//   device played) comes after m_csState. The log lock is always innermost.
// - The stream's bytes (m_bytes, streambuffer.h) have their own threading note; the cross-thread
//   flags here are volatile LONGs.
// - The host (KSHostSite) gives the settings and tells the user: the engine copies the settings
//   under m_csControl, before it takes m_csState, and shows no window of its own. The host's
//   status window paints from Snapshot, taking its own lock before m_csState.
//
// A device that stops: every wait of a stream's end, a pause and the shut-down keeps its meaning
// while the device makes progress and is bounded when it does not (kDeviceAnswerMs, StallMs).
// The stream then ends as a removed device ends it: the pin is stopped and closed, the packets
// it held are given up, and the log says so. Packets that the device keeps even after its pin
// was closed leave the engine unusable, and its memory stays allocated for good (Shutdown).
#pragma once

#include "diag/constants.h"
#include "diag/owned.h"
#include "engine/clock.h"
#include "engine/convert.h"
#include "engine/hwvolume.h"
#include "engine/notices.h"
#include "engine/devicewatch.h"
#include "engine/hostsite.h"
#include "engine/output.h"
#include "engine/settings.h"
#include "engine/snapshot.h"
#include "engine/streambuffer.h"

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <cstdio>
#include <memory>

class CKsEnumFilters;
class CKsAudRenFilter;

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

// A busy device is asked again for this long in all before the open gives up: the system lets go
// of a device shortly after its last sound.
constexpr DWORD kBusyRetryMs = 1000;
constexpr DWORD kBusyRetryStepMs = 100;

// Where the stream's device stands, as the snapshot shows it (KSCore::DeviceOf). Without a pin
// (waiting, released) the stream, its ring and its time are kept.
constexpr LONG kDeviceHeld = 0;     // the pin is open, or no stream is
constexpr LONG kDeviceLost = 1;     // the pin stopped taking audio: the player thread takes it down
constexpr LONG kDeviceWaiting = 2;  // no pin: waiting for the device to come back
constexpr LONG kDeviceReleased = 3; // no pin: let go while paused
constexpr LONG kDeviceGone = 4;     // no pin for good: the audio is dropped at the stream's rate

// The stream's state (m_nState), changed only by KSCore::SetState. The host's pause is a flag of
// its own (m_bPaused): it holds in every open state, and a released stream is paused. Changes:
//   closed -> playing                 an open (OpenOutput)
//   playing -> draining               the host's close plays out what is left (EndInternal)
//   playing -> lost, draining -> draining-lost   a failed request or a removal (DeviceLost)
//   lost -> waiting                   the player thread took the pin down (TakeLoss)
//   playing -> released               a pause with release_on_pause_enabled (ReleaseForPause)
//   waiting, released, draining-lost -> playing or draining   the device opened again (Reopen)
//   released -> waiting               gone at the resume (ResumeReleased)
//   an open state -> gone             not back in time, or refusing the stream (GoWithoutDevice)
//   any -> closed                     the stream's end (CloseOutput)
enum KSState : LONG {
    kStateClosed,       // no stream
    kStatePlaying,      // open, its pin held
    kStateDraining,     // the end plays out what is left (only inside EndInternal)
    kStateLost,         // open, the pin stopped taking audio: the player thread takes it down
    kStateDrainingLost, // draining, the pin stopped taking audio: the play-out opens it again
    kStateWaiting,      // open, no pin: waiting for the device to come back
    kStateReleased,     // open, no pin: let go while paused
    kStateGone,         // open, no device for good: the audio is dropped at the stream's rate
};

// A device's episode, from its first loss (see kSteadyMs). Changed by the thread that takes a
// loss in hand, under m_csControl; active is ended once, by any thread.
struct KSEpisode {
    volatile LONG active = 0;
    DWORD startMs = 0;     // the first loss (GetTickCount): the wait's deadline counts from it
    DWORD reopenedMs = 0;  // the last reopen
    bool reopened = false; // a reopen since the last loss
    LONG reopens = 0;
    LONG refails = 0;    // losses after a reopen
    LONG quick = 0;      // of them, in a row, within kSteadyMs of their reopen, not removals
    LONG removals = 0;   // the engine's count of removals at the last reopen
    DWORD backoffMs = 0; // the wait after the next quick failure
    DWORD nextTryMs = 0; // no reopen before (GetTickCount)
};

// Forgets which busy devices the user has been told about: a new run of the player.
void ForgetBusyNotices();

class KSCore final : private KSStreamSite {
  public:
    explicit KSCore(KSHostSite& host);
    ~KSCore();
    KSCore(const KSCore&) = delete;
    KSCore& operator=(const KSCore&) = delete;

    // Host operations.
    // The latency (ms the ring and the output hold) when the stream plays, -1 when not (a pin
    // that refuses to run stays open until End).
    int Start(int rate, int channels, int bits);
    int Write(const char* data, int length); // 0 taken whole, 1 refused
    int CanWrite();
    int IsPlaying();
    int Pause(int pause); // returns the previous pause flag
    void SetVolume(int volume);
    // The stream's time (seek.cpp): heard, and written by the host, since the last open or
    // seek; a seek drops everything not yet played and restarts the time at ms.
    int GetOutputTime();
    int GetWrittenTime();
    void Flush(int ms);
    void End();          // the host's close
    void End(int force); // forced end: replace the pin, gapless underrun, destruction
    // Arrivals and removals of devices the system has notified since construction, and whether
    // it notifies them at all.
    LONG DeviceChanges() const { return m_nDeviceChanges; }
    bool WatchesDevices() const { return m_watch.Active(); }
    // The render devices as the engine lists them: KSCATEGORY_AUDIO with an active
    // KSCATEGORY_RENDER alias, their pins read, their filters opened.
    static HRESULT ListRenderDevices(CKsEnumFilters& list);

    // Ends any stream, closes the device list, and stops the player thread:
    // the destructor's work, done once. False when the device kept packets even after its pin was
    // closed, or the player thread did not end: the engine's memory must then never be freed.
    bool Shutdown();

    // True when construction got its events, locks and player thread.
    bool IsReady() const { return m_bReady; }
    // The engine's state at one moment, under the state lock.
    KSSnapshot Snapshot();
    // The device list of the last enumeration (the engine's), or null.
    const CKsEnumFilters* Devices() const { return m_pEnumFilters.get(); }
    // The player thread (for its CPU time); null once it has ended.
    HANDLE PlayerThreadHandle() const { return m_hThread.Get(); }

  private:
    struct FilterListDeleter {
        void operator()(CKsEnumFilters* p) const;
    };

    // KSStreamSite, for the output.
    LONG Mode() override { return ModeOf(m_nState); }
    bool Paused() override { return MovesNoAudio(); }
    bool Started() override { return m_bStarted != 0; }
    bool Tail() override { return m_bTail != 0; }
    void DeviceLost(const char* why) override;
    void WakeThread() override;
    void HoldPlayerThread() override;
    bool OnPlayerThread() override { return GetCurrentThreadId() == m_dwThreadId; }
    int Wait(const KSWaitList& list) override;

    // Life (kscore.cpp).
    bool AllocateEvents();
    bool StartPlayerThread();
    bool StopPlayerThread();
    void ConfigureInputBuffer(int size);
    void ConfigureOutputBuffer(int size);

    // Opening (open.cpp).
    void TakeSettings();
    int StartInternal(int rate, int channels, int bits);
    bool ReuseForGapless(const WAVEFORMATEXTENSIBLE& wfx);
    int OpenOutput(WAVEFORMATEXTENSIBLE* pwfx);
    bool PrepareBuffers();
    CKsPin* CreatePinUnlessBusy(WAVEFORMATEXTENSIBLE* pwfx, bool* busy);
    CKsPin* CreatePin(WAVEFORMATEXTENSIBLE* pwfx);
    bool PublishOutput(CKsPin* pin, const WAVEFORMATEXTENSIBLE& wfx,
                       const WAVEFORMATEXTENSIBLE& ring, bool adapted);
    CKsEnumFilters* EnsureFilterList(bool quiet = false);
    CKsAudRenFilter* FindFilter();
    CKsAudRenFilter* FindDevice(const char* path);
    bool PinBusy();
    void TellBusy();
    int TellUser(const char* text); // returns -1, Start's refusal

    // Adapting a refused format (adapt.cpp).
    CKsPin* Adapt(const WAVEFORMATEXTENSIBLE& stream, WAVEFORMATEXTENSIBLE* pwfx);
    void RefuseRate(const WAVEFORMATEXTENSIBLE& stream, const struct KSRangeSet& ranges);
    void LogAdapted(const WAVEFORMATEXTENSIBLE& stream, const WAVEFORMATEXTENSIBLE& device);

    // Ending (end.cpp), and the bounded wait for the player thread's pause.
    bool WaitForPauseAck();
    void ReleasePlayerThread();
    void EndInternal(int force);
    bool PlayOut();
    DWORD StallMs();
    void StopOutput(KSBytes* unplayed, bool exact);
    void CloseOutput();
    void DropOutput();
    void ReleaseOutput(KSOutput* output);

    // A device's life (devicelife.cpp): loss, the wait for its return, the reopen, the release
    // while paused, and the pre-roll of each new pin.
    static void OnDeviceChange(void* context, bool arrived, const char* path);
    void Recover();
    bool ReopenNow();
    bool TakeControl(bool (KSCore::*still)() const);
    bool DeviceUnsettled() const;
    void LetGo(bool exact);
    int Reopen();
    void EndWithoutDevice();
    void ReleaseForPause();
    void ResumeReleased();
    DWORD StartPreroll(const WAVEFORMATEX& format);
    DWORD WakeTimeout();
    DWORD WaitLeftMs();

    // Episodes and the stream without a device (episode.cpp, dropout.cpp).
    bool BeginLoss();
    void NoteReopened();
    bool ReopenDue();
    void EndSteadyEpisode();
    void CloseEpisode();
    void TakeLoss();
    void GoWithoutDevice(const char* why);
    void StopOutputNow();
    void DropDue();

    // The stream's time (seek.cpp).
    void RestartClock(int rate, int channels, int bits, bool gapless);
    void PinGone(ULONGLONG pinBytes);
    void DropForSeek();
    int LatencyMs();
    bool TailStalled();

    // The fades (fadeout.cpp).
    DWORD FadeFramesNow() const;
    bool CanFade();
    bool FadeOutAtDevice(KSBytes* rest);
    void FadeForStop();
    void FadeForPause();

    // The player thread (player.cpp).
    static DWORD WINAPI PlayerThreadProc(LPVOID param);
    void PlayerThread();
    void Pass();
    KSOutput* BeginServing();
    void EndServing();
    bool HasWork(KSOutput* output);
    bool GoToSleep(KSOutput* output);
    bool GaplessUnderrun() const;
    void EndOnGaplessUnderrun();

    // The stream's state (state.cpp).
    // Changes the state to to; when from is given, only from from (false when it was not there).
    // The one writer of m_nState; each change is logged at the diagnostic level.
    bool SetState(KSState to, LONG from = -1);
    bool IsOpen() const; // playing, or open without its pin
    // The host's writes are taken while playing, released, or without a device for good; lost
    // or awaited, the ring is full to the host.
    bool TakesWrites() const {
        return m_nState == kStatePlaying || m_nState == kStateReleased || m_nState == kStateGone;
    }
    static LONG ModeOf(LONG state);   // kModeClosed, kModeOpen or kModeEnding
    static LONG DeviceOf(LONG state); // kDeviceHeld .. kDeviceGone

    // The device's own volume control (devvolume.cpp).
    void OpenDeviceVolume(ULONG nRenderPin);
    void CloseDeviceVolume();
    KSVolumeKind VolumeKind() const;

    // The player thread moves no audio while the host pauses or the control path holds it.
    bool MovesNoAudio() const { return m_bPaused || m_bHeld; }

    // The host paused playback: Pause and its resume set it, OpenOutput clears it.
    volatile LONG m_bPaused = 0;
    volatile LONG m_bHeld = 0;     // the control path holds the player thread off the stream
    volatile LONG m_bPauseAck = 0; // player thread's MovesNoAudio() at the end of each pass
    volatile LONG m_nState = kStateClosed; // see KSState; written only by SetState
    volatile LONG m_bStarted = 0;          // 1 from a successful Start until the host's End()
    KSHostSite& m_host;                    // the settings' source and the user's messages
    DWORD m_dwThreadId = 0;                // the player thread's identifier
    // The player thread: created by the constructor, waited for and closed by Shutdown.
    UniqueHandle m_hThread;
    // The stop event (manual-reset): set by Shutdown and by ReleaseOutput to end the player
    // thread's wait, reset by OpenOutput and by the player thread when it sees it.
    UniqueHandle m_hStopEvent;
    // The packets each packet output makes: the count is fixed for the engine's life, the size
    // follows the settings at each open.
    KSPacketPlan m_packets = {8192, 2};
    std::unique_ptr<CKsEnumFilters, FilterListDeleter> m_pEnumFilters; // device list, or null
    CKsAudRenFilter* m_pRenderFilter = nullptr; // filter of the current stream (the list's)
    // Wakes the player thread (manual-reset): WakeThread sets it under m_csWake; the player
    // thread resets it under m_csWake when it goes to sleep with nothing to do.
    UniqueHandle m_hWakeEvent;
    volatile LONG m_bSleeping = 0;     // player thread asleep
    volatile LONG m_bInDeviceWait = 0; // player thread in its wait for the device
    volatile LONG m_nPasses = 0;       // passes of the player loop since construction
    volatile DWORD m_dwWakeTime = 0;   // millisecond clock at the last wake-up
    CriticalSection m_csWake;          // see the threading note
    CriticalSection m_csControl;       // see the threading note
    CriticalSection m_csState;         // see the threading note
    // The settings this engine plays with: the host's, copied at construction and by each open
    // while no output exists (TakeSettings, under m_csControl and m_csState). The control path,
    // the player thread and the stream's bytes read it without a lock, the snapshot under
    // m_csState.
    KSSettings m_settings;
    // The stream's bytes. Its formats (the pin's, and the ring's: the stream's own when the
    // device's differs) are written with m_bAdapted under m_csState as the output is published.
    KSStreamBuffer m_bytes;
    bool m_bAdapted = false; // the pin's format came from the device's ranges (under m_csState)
    KSShownOnce<16> m_shownRefusals;  // missing-rate messages shown (their text)
    volatile LONG m_bExitThread = 0;  // Shutdown asks the player thread to end
    volatile LONG m_nLostPackets = 0; // packets the device kept after its pin was closed
    // The open stream's output (owns the pin), or null; published by PublishOutput and taken down
    // by DropOutput, both under m_csControl, the pointer itself under m_csState.
    std::unique_ptr<KSOutput> m_pOutput;
    // The output the player thread serves in its current pass, or null (under m_csState).
    KSOutput* m_pServing = nullptr;
    // The last closed output's figures (Describe), which the snapshot keeps until the next open.
    KSSnapshot m_closed{};
    // The device's volume controls found so far, and the open stream's (made after the output,
    // closed after it, under m_csControl; published under m_csState). The stream's bytes pass
    // unscaled while it takes the volume (KSStreamBuffer::DeviceVolumeFlag).
    KSVolumeControls m_volumeControls;
    std::unique_ptr<KSHardwareVolume> m_pHwVolume;

    char m_szDevice[MAX_PATH + 1] = {}; // device path of the stream's device (under m_csState)
    const char* m_pszLostWhy = "";      // what told the engine the device was lost
    KSEpisode m_episode;                // the device's episode under way, if any
    // Without a device for good (kDeviceGone): why, and the player thread's dropping of the
    // ring at the stream's rate: unpaused time since it began, the ring bytes it stood for and
    // were dropped, and the clock at the last step.
    const char* m_pszDropWhy = "";
    ULONGLONG m_qwDropMs = 0;
    ULONGLONG m_qwDropped = 0;
    DWORD m_dwDropLastMs = 0;
    volatile LONG m_bEndWritten = 0; // the host wrote the end of its track (Write(NULL, 0))
    // Gapless off: the host waits for the end of what it wrote (it asked IsPlaying or wrote the
    // end); its next write clears it.
    volatile LONG m_bTail = 0;
    // IsPlaying's watch on a device that stops before the last byte has played (m_csState).
    struct {
        ULONGLONG progress;
        DWORD since; // GetTickCount when the progress last changed; 0: not watching
        bool stalled;
    } m_tailWatch = {};
    // The stream's time: the seek's base, the host's bytes, the audio of the pins gone (the
    // control path changes it under m_csState).
    KSStreamClock m_clock;
    volatile LONG m_nArrivals = 0;      // device arrivals notified since construction
    volatile LONG m_nRemovals = 0;      // removals of the stream's device notified
    volatile LONG m_nDeviceChanges = 0; // arrivals and removals notified since construction
    LONG m_nArrivalsSeen = 0;           // arrivals the wait has looked at
    KSDeviceWatch m_watch;              // the system's notifications, or none (polling)

    bool m_bReady = false;    // events, locks and thread all exist
    bool m_bShutDown = false; // Shutdown has run
    bool m_bKeep = false;     // Shutdown found the engine still in use by the device or thread
};
