// The cyclic-buffer output: a WaveRT stream. The hardware reads the driver's cyclic buffer by
// DMA; each pass of the player thread looks where it plays, writes the half it has just left from
// the ring (silence for what the ring lacks), tops up the half that plays next when audio comes in
// time, and waits for the driver's notification, the next look at the position, or a write it
// waits for. The end plays out here too: everything written plays, then silence, until the
// hardware has passed the last real sample. The hardware never meets a half that was not
// rewritten, unless the player thread itself is late.
//
// Ownership: the output owns the WaveRT pin (closed and deleted with it; the buffer is the
// driver's and valid until then) and its two auto-reset events, which outlive the pin: the
// driver's notification event (registered by Open, unregistered when the pin stops) and the audio
// event, which AudioWritten sets while the thread waits for audio to top up a half.
//
// A seek silences the buffer from just past the play position; the next audio goes there (the
// cut), then the halves go on as before; the host's first write after it wakes the thread. A fade
// (fade_ms) is written in place just past the position; the passes then write silence while the
// hardware plays it, and the pause or the seek that follows cuts as a seek does. The time is the
// play position, read by the asking thread from the last look's count, less the silence before
// the first audio taken since the open or the seek. m_csClock guards the counts the host's threads
// read against the player thread.
#pragma once

#include "engine/output.h"
#include "engine/playposition.h"
#include "engine/rtsize.h"
#include "diag/owned.h"

class CKsRtPin;

class KSCyclicOutput final : public KSOutput {
  public:
    KSCyclicOutput(PinOwner pin, CKsRtPin* rtPin, KSStreamSite& site, KSStreamBuffer& bytes);
    ~KSCyclicOutput() override;

    // Everything up to the state change to RUN: the buffer of two halves of whole frames of about
    // halfSize bytes each, the event, the position, silence in both halves. False (with the reason
    // in the log) when the stream cannot be played.
    bool Open(const WAVEFORMATEX& format, DWORD halfSize);

    CKsPin& Pin() override;
    void Running() override;
    int Stop() override;
    int StopKeeping(bool exact, KSBytes* unplayed) override;
    void SubmitPartial() override {}
    void Flush() override;
    bool FadeInPlace(DWORD size, const KSFadeFormat& f, KSBytes* rest) override;
    void AwaitFade() override;
    DWORD Capacity() override { return m_dwSize; }
    bool PlayedOut() override { return m_bPlayedOut != 0; }
    void AwaitPlayOut(bool self) override;
    ULONGLONG Progress() override { return m_dwPlayedLow; }
    DWORD LatencyMs() override { return m_dwLatencyMs; }
    DWORD StallUnit() override { return m_dwHalf; }
    const char* StallText() override { return "the WaveRT play position stood still"; }

    KSNext BeforeWait(KSWaitList& list) override;
    KSNext AfterWait(int wait) override;
    bool HasWork() override;

    void AudioWritten() override;
    bool AllPlayed() override { return m_bPlayedOut != 0; }
    ULONGLONG Taken() override;
    ULONGLONG Played() override;
    void Describe(KSSnapshot& s) override;

  private:
    enum Source { kNoPosition, kRegister, kProperty }; // where the play position comes from

    bool PlanSizes(const WAVEFORMATEX& format, DWORD halfSize);
    bool MakeEvents();
    HRESULT AskBuffer(DWORD size);
    bool TakeBuffer();
    bool NewPin();
    void LogAsks();
    bool ChoosePosition();
    bool RegisterEvent();
    void ReadLatency(DWORD rate);
    void LogOpened(DWORD halfMs);
    bool OffersPackets();
    void Serve();
    void FillWait(KSWaitList& list);
    DWORD MsUntilDue();
    void Look();
    void WatchPosition();
    bool ReadPosition(ULONG* offset);
    void WriteHalf();
    void TopUp();
    void Put(ULONGLONG at, DWORD n);
    void Silence(ULONGLONG from, ULONGLONG to);
    void WriteCut();
    ULONGLONG PastPosition();
    bool CopyOut(ULONGLONG from, DWORD n, KSBytes* out);
    void TakeRest(ULONGLONG from, KSBytes* rest);
    void FadeAt(ULONGLONG at, DWORD frames);
    DWORD QuietAudio(ULONGLONG at);
    void Publish();

    KSStreamSite& m_site;
    KSStreamBuffer& m_bytes;
    UniqueHandle m_hNotify; // the driver's notification event (event-driven streams)
    UniqueHandle m_hAudio;  // set by AudioWritten while m_bWantAudio
    PinOwner m_pRenderPin;  // destroyed before the events: the pin unregisters its event
    CKsRtPin* m_pRtPin;     // the same pin as a WaveRT pin

    // Set by Open.
    BYTE* m_pBuffer = nullptr;     // the driver's cyclic buffer
    RtAsks m_asks = {};            // the buffer sizes asked and their answers
    bool m_bPlainBuffer = false;   // the driver gives no buffer with notifications
    DWORD m_dwAsked = 0;           // bytes asked for the buffer taken
    DWORD m_dwHalf = 0;            // bytes per half of the actual buffer (whole frames)
    DWORD m_dwBlock = 0;           // bytes per frame
    DWORD m_dwAlign = 0;           // bytes each half asked for is a multiple of, besides frames
    DWORD m_dwRate = 0;            // bytes per second
    DWORD m_dwMargin = 0;          // bytes past the end of a half the position must be to count
    DWORD m_dwLatencyMs = 0;       // the hardware latency, 0 where the driver gives none
    bool m_bPacketOffered = false; // the driver offers packet mode (not used: see OffersPackets)
    BYTE m_bSilence = 0;           // 0x80 for 8-bit samples, else 0
    bool m_bBarrier = false;       // the driver asks for a memory barrier after each write
    Source m_source = kNoPosition;
    DWORD m_dwPollMs = 0;      // polled: the wait between two looks
    DWORD m_dwEventWaitMs = 0; // event-driven: the longest wait for a notification
    bool m_bOpen = false;      // Open succeeded
    bool m_bTimer = false;     // the system timer was asked for 1 ms (until the stream closes)

    // The player thread's own.
    RtPlayPosition m_position{0, 1};
    ULONGLONG m_written = 0;      // bytes written since RUN (whole halves, the silence at RUN too)
    ULONGLONG m_audioEnd = 0;     // just past the last real byte written; 0 before the first
    ULONGLONG m_notifiedAt = 0;   // played at the last notification (event-driven)
    bool m_bNotified = false;     // the last wait ended with the notification event
    bool m_bPositionRead = false; // the last look read the play position
    bool m_bLoggedPosition = false;  // a position that could not be used has been logged
    bool m_bLoggedLate = false;      // halves the hardware reached before they were rewritten
    bool m_bLoggedOvertaken = false; // a top-up the hardware passed while it was written
    bool m_bLoggedBack = false;      // a position that went back
    bool m_bWatching = false;        // m_stillAt and m_dwStillSince hold (reset by a pause)
    ULONGLONG m_stillAt = 0;         // played when the position was last seen to move
    DWORD m_dwStillSince = 0;        // GetTickCount then
    bool m_bCut = false;             // a seek's silence waits for audio from m_cutAt
    ULONGLONG m_cutAt = 0;
    // A fade in place (set while the thread is held): its format, its frames and those written,
    // and the byte just past the last written.
    KSFadeFormat m_fade = {};
    DWORD m_dwFadeFrames = 0;
    DWORD m_dwFadeDone = 0;
    ULONGLONG m_fadeEnd = 0;
    DWORD m_dwFadeBoundMs = 0; // how long AwaitFade waits at most

    // The time, under m_csClock: played and the play offset at the last look, where the first
    // audio since the open or the seek went (m_bFirst: it went), and the bytes taken since.
    CriticalSection m_csClock;
    ULONGLONG m_clockPlayed = 0;
    DWORD m_clockOffset = 0;
    bool m_bFirst = false;
    ULONGLONG m_firstAt = 0;
    ULONGLONG m_taken = 0;

    // Shared with the host's threads and the snapshot.
    volatile LONG m_bEvents = 0;       // event-driven (else polled)
    volatile DWORD m_dwSize = 0;       // bytes of the actual buffer
    volatile LONG m_bPlayedOut = 1;    // the hardware has passed every real byte written
    volatile LONG m_bWantAudio = 0;    // the last half written ends in silence audio may replace
    volatile DWORD m_dwPlayOffset = 0; // the play offset at the last look
    volatile DWORD m_dwPlayedLow = 0;  // the low 32 bits of played: progress, for the end's watch
    volatile DWORD m_dwStarved = 0;    // silence written for lack of audio and followed by audio
    volatile LONG m_nGaps = 0;         // stretches of such silence
    volatile LONG m_bQuiet = 0;        // a fade in place: the passes write silence only
    volatile LONG m_bFadePassed = 0;   // the position has passed m_fadeEnd
};
