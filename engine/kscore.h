// The playback engine: the host's operations, the player thread, stream start and end, gapless
// hand-over, timing, the device's life and the choice of device and pin format. The stream's bytes
// are the stream buffer's (streambuffer.h); what drains them into the device is the open stream's
// output (output.h): packets or a WaveRT cyclic buffer. The player thread's handles and flags are
// KSPlayerThread's (playerthread.h), the account of the device's life (its path, notifications,
// episode and drop clock) KSDeviceLife's (devicelife.h); the engine holds the locks, the state and
// the output, and does what needs them.
//
// Threading:
// - Host threads call Start, End, Pause, SetVolume and the queries. Write (with CanWrite) comes
//   from one host thread at a time, the player's decode thread, which may differ from the thread
//   that starts, ends and pauses; every call runs concurrently with the player thread.
// - The player thread (PlayerThread) serves the open stream's output: each pass waits once, in
//   the one labelled wait (stop event, then the output's events), and lets the output move audio
//   from the ring to the device. It sleeps on its wake event when there is nothing to do, and
//   ends a gapless stream when the audio runs out.
// - The system's thread tells of devices that arrive and leave (OnDeviceChange): it counts them in
//   m_life, reads the stream's device path under m_csState, and never takes m_csControl.
// - m_csControl serialises Start, End, Pause and the final end of Shutdown; StartInternal,
//   OpenOutput, EndInternal and CloseOutput run only with it held. The output is made and deleted
//   only there, and the device's life is taken in hand only there (the player thread enters it
//   by TakeControl): m_life's episode, its looks and its drop clock change under it, and the drop
//   clock also on the player thread while the stream has no device.
// - m_csWake pairs the player thread's going to sleep (m_thread.FallAsleep, after HasWork) with
//   WakeThread (m_thread.Wake).
// - m_csState guards m_pOutput and m_pServing: the output's publication and its taking down
//   (DropOutput, which deletes it outside the lock once no pass serves it) against the player
//   thread taking it for a pass, the snapshot, IsPlaying and WakeThread; m_pHwVolume,
//   the device's volume control of the open stream, against SetVolume and the snapshot; and the
//   stream's device path in m_life, written as the output is published, against the system's
//   thread.
// - m_csTime keeps the output alive while a host thread asks it for the time outside m_csState
//   (GetOutputTime): DropOutput takes it before the state lock to take the output down.
// - Lock order: m_csControl, then m_csWake (Pause and EndInternal wake the thread while holding
//   m_csControl), then m_csTime, then m_csState. The player thread never waits for m_csControl
//   while it holds m_csWake: it leaves m_csWake before it ends a gapless stream. The host's close
//   wakes the thread only after it has left m_csControl. An output's own clock lock (its counts of
//   what the device played) comes after m_csTime and m_csState. The log lock is always innermost.
// - The stream's bytes (m_bytes, streambuffer.h) have their own threading note; the cross-thread
//   flags here, in m_thread and in m_life are volatile LONGs.
// - The host (KSHostSite) gives the settings and tells the user: the engine copies the settings
//   under m_csControl, before it takes m_csState, and shows no window of its own. The host's
//   status window paints from Snapshot, taking its own lock before m_csTime.
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
#include "engine/devicelife.h"
#include "engine/hostsite.h"
#include "engine/notices.h"
#include "engine/output.h"
#include "engine/playerthread.h"
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

// The end of the host's track: the host wrote it (Write(NULL, 0)); with gapless off, the host
// waits for it (it asked IsPlaying or wrote the end; its next write clears it), and IsPlaying's
// watch on a device that stops before the last byte has played (under m_csState).
struct KSTrackEnd {
    volatile LONG written = 0;
    volatile LONG waited = 0;
    ULONGLONG progress = 0;
    DWORD since = 0; // GetTickCount when the progress last changed; 0: not watching
    bool stalled = false;
    void ForgetWatch() {
        progress = 0;
        since = 0;
        stalled = false;
    }
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
    LONG DeviceChanges() const { return m_life.Changes(); }
    bool WatchesDevices() const { return m_life.Watches(); }
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
    HANDLE PlayerThreadHandle() const { return m_thread.Handle(); }

  private:
    struct FilterListDeleter {
        void operator()(CKsEnumFilters* p) const;
    };

    // KSStreamSite, for the output.
    LONG Mode() override { return ModeOf(m_nState); }
    bool Paused() override { return MovesNoAudio(); }
    bool Started() override { return m_bStarted != 0; }
    bool Tail() override { return m_end.waited != 0; }
    void DeviceLost(const char* why) override;
    void WakeThread() override;
    void HoldPlayerThread() override;
    bool OnPlayerThread() override { return m_thread.IsCurrent(); }
    int Wait(const KSWaitList& list) override { return m_thread.Wait(list); }

    // Life (kscore.cpp).
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
    CKsPin* AskForPin(WAVEFORMATEXTENSIBLE* pwfx, bool reopen, bool* busy);
    CKsPin* CreatePin(WAVEFORMATEXTENSIBLE* pwfx);
    CKsPin* TryPin(const char* heading, WAVEFORMATEXTENSIBLE& wfx);
    bool PublishOutput(CKsPin* pin, const WAVEFORMATEXTENSIBLE& wfx,
                       const WAVEFORMATEXTENSIBLE& ring, bool adapted);
    DWORD StartPreroll(const WAVEFORMATEX& format);
    CKsEnumFilters* EnsureFilterList(bool quiet = false);
    CKsAudRenFilter* FindDevice(const char* path, bool orFirst);
    HRESULT RunPin();
    bool PinBusy();
    void TellBusy();
    int TellUser(const char* text); // returns -1, Start's refusal

    // Adapting a refused format (adapt.cpp).
    CKsPin* Adapt(const WAVEFORMATEXTENSIBLE& stream, WAVEFORMATEXTENSIBLE* pwfx);
    void RefuseRate(const WAVEFORMATEXTENSIBLE& stream, const struct KSRangeSet& ranges);
    void LogAdapted(const WAVEFORMATEXTENSIBLE& stream, const WAVEFORMATEXTENSIBLE& device);

    // Ending (end.cpp), and the hold of the player thread.
    void ReleasePlayerThread();
    void EndInternal(int force);
    bool PlayOut();
    DWORD StallMs();
    void StopOutput(KSBytes* unplayed, bool exact);
    void CloseOutput();
    void DropOutput();
    void ReleaseOutput(KSOutput* output);

    // A device's life (recover.cpp): loss, the wait for its return, the reopen, the release
    // while paused, and the stream without a device.
    static void OnDeviceChange(void* context, bool arrived, const char* path);
    void Recover();
    void TakeLoss();
    bool ReopenNow();
    bool TakeControl(bool (KSCore::*still)() const);
    bool DeviceUnsettled() const;
    void LetGo(bool exact);
    int Reopen();
    void EndWithoutDevice();
    void ReleaseForPause();
    void ResumeReleased();
    void GoWithoutDevice(const char* why);
    void StopOutputNow();
    void DropDue();
    DWORD WakeTimeout();
    void CloseEpisode() { m_life.CloseEpisode(m_thread.Id()); }

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
    bool FadeInBuffer(KSBytes* rest);
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
    // The one writer of m_nState; each change goes to the debugger trace.
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

    // The host paused playback: Pause and its resume set it, OpenOutput and the resume of a
    // released stream clear it.
    volatile LONG m_bPaused = 0;
    volatile LONG m_bHeld = 0; // the control path holds the player thread off the stream
    volatile LONG m_nState = kStateClosed; // see KSState; written only by SetState
    volatile LONG m_bStarted = 0;          // 1 from a successful Start until the host's End()
    KSHostSite& m_host;                    // the settings' source and the user's messages
    // The player thread: started by the constructor, ended by Shutdown. Its wake event and
    // sleeping flag change under m_csWake.
    KSPlayerThread m_thread;
    // The packets each packet output makes: the count is fixed for the engine's life, the size
    // follows the settings at each open.
    KSPacketPlan m_packets = {8192, 2};
    std::unique_ptr<CKsEnumFilters, FilterListDeleter> m_pEnumFilters; // device list, or null
    CKsAudRenFilter* m_pRenderFilter = nullptr; // filter of the current stream (the list's)
    CriticalSection m_csWake;                   // see the threading note
    CriticalSection m_csControl;                // see the threading note
    CriticalSection m_csState;                  // see the threading note
    CriticalSection m_csTime;                   // see the threading note
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
    // The stream's device over its life: its path (written under m_csControl and m_csState), the
    // notifications, the episode of a loss and the dropping without a device (see its note).
    KSDeviceLife m_life;
    KSTrackEnd m_end; // the end of the host's track (see KSTrackEnd)
    // The stream's time: the seek's base, the host's bytes, the audio of the pins gone (the
    // control path changes it under m_csState).
    KSStreamClock m_clock;

    bool m_bReady = false;    // events, locks and thread all exist
    bool m_bShutDown = false; // Shutdown has run
    bool m_bKeep = false;     // Shutdown found the engine still in use by the device or thread
};
