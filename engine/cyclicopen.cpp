// The cyclic-buffer output's open and close: the buffer with two notifications per pass and the
// event, or without them and a play position to poll; silence in both halves before the pin
// runs; the log line that names the kind of stream; and the close, which logs what the stream
// went through.
#include "engine/cyclicout.h"

#include "diag/log.h"
#include "engine/halfplan.h"
#include "engine/rtsize.h"
#include "engine/settings.h"
#include "engine/snapshot.h"
#include "ks/filter.h"
#include "ks/rtpin.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Why a buffer the driver handed out cannot be played (the pin refused it).
const char* Unplayable(const KSRTAUDIO_BUFFER& b) {
    if (!b.BufferAddress)
        return "no address";
    if (b.ActualBufferSize == 0)
        return "0 bytes";
    return "halves that are not whole frames";
}

// Where the play position comes from, by Source.
const char* const kSources[] = {"the notifications, counted", "the position register",
                                "the audio position property"};

DWORD Millis(DWORD bytes, DWORD rate) {
    return rate ? (DWORD)((ULONGLONG)bytes * 1000 / rate) : 0;
}

} // namespace

KSCyclicOutput::KSCyclicOutput(PinOwner pin, CKsRtPin* rtPin, KSStreamSite& site,
                               KSStreamBuffer& bytes)
    : m_site(site), m_bytes(bytes), m_pRenderPin(std::move(pin)), m_pRtPin(rtPin) {}

// The stream's figures go to the log before the pin, which owns the buffer, closes.
KSCyclicOutput::~KSCyclicOutput() {
    if (m_bTimer)
        timeEndPeriod(1);
    if (!m_bOpen)
        return;
    DiagLog(1,
            "WaveRT stream closed: %llu bytes played, %lu bytes of silence for lack of audio in "
            "%ld gaps",
            (unsigned long long)m_position.Played(), (DWORD)m_dwStarved, (long)m_nGaps);
}

CKsPin& KSCyclicOutput::Pin() {
    return *m_pRenderPin;
}

bool KSCyclicOutput::MakeEvents() {
    m_hNotify.Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
    m_hAudio.Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
    if (m_hNotify.Valid() && m_hAudio.Valid())
        return true;
    LogCause("CreateEventA", HRESULT_FROM_WIN32(GetLastError()));
    return false;
}

// One buffer request: with two notifications per pass where the driver offers them, else
// without (and without from then on). A failure with no buffer handed out is logged here.
HRESULT KSCyclicOutput::AskBuffer(DWORD size) {
    KSRTAUDIO_BUFFER buffer = {};
    HRESULT hr = E_FAIL;
    if (!m_bPlainBuffer) {
        hr = m_pRtPin->GetBufferWithNotification(size, 2, &buffer);
        if (SUCCEEDED(hr) || m_pRtPin->m_bHaveBuffer)
            return hr;
        LogCause("CKsRtPin::GetBufferWithNotification", hr);
    }
    hr = m_pRtPin->GetBuffer(size, &buffer);
    if (SUCCEEDED(hr) || m_pRtPin->m_bHaveBuffer)
        m_bPlainBuffer = true;
    else
        LogCause("CKsRtPin::GetBuffer", hr);
    return hr;
}

// Asks for the planned size and, where the driver refuses it or answers halves that are not
// whole frames, for the nearest sizes that may do, a bounded number of times, on a pin created
// anew for each (a pin has one buffer). A buffer without an address or bytes ends the asking.
bool KSCyclicOutput::TakeBuffer() {
    for (DWORD size = m_asks.asked[0]; size;) {
        m_dwAsked = size;
        if (SUCCEEDED(AskBuffer(size)))
            return true;
        DWORD answered = 0;
        if (m_pRtPin->m_bHaveBuffer) {
            answered = m_pRtPin->m_Buffer.ActualBufferSize;
            DiagLog(1,
                    "WaveRT buffer refused: %lu bytes asked, the driver gave %lu bytes (%lu-byte "
                    "frames): %s",
                    size, answered, m_dwBlock, Unplayable(m_pRtPin->m_Buffer));
            if (!m_pRtPin->m_Buffer.BufferAddress || !answered)
                return false;
        }
        size = RtNextAsk(&m_asks, answered);
        if (size && m_pRtPin->m_bHaveBuffer && !NewPin())
            return false;
    }
    LogAsks();
    return false;
}

// A new instance of the pin, in the same format, for a buffer asked again.
bool KSCyclicOutput::NewPin() {
    HRESULT hr = m_pRtPin->Instantiate(TRUE);
    if (SUCCEEDED(hr))
        return true;
    LogCause("CKsRtPin::Instantiate", hr);
    return false;
}

// The sizes asked when none was accepted.
void KSCyclicOutput::LogAsks() {
    char sizes[kRtMaxAsks * 48] = "";
    size_t at = 0;
    for (int i = 0; i < m_asks.count && at < sizeof sizes; i++) {
        int n = m_asks.answer[i] ? snprintf(sizes + at, sizeof sizes - at, "%s%lu (%lu received)",
                                            i ? ", " : "", m_asks.asked[i], m_asks.answer[i])
                                 : snprintf(sizes + at, sizeof sizes - at, "%s%lu (refused)",
                                            i ? ", " : "", m_asks.asked[i]);
        at += n > 0 ? (size_t)n : 0;
    }
    DiagLog(1,
            "WaveRT stream refused: no buffer with halves of whole %lu-byte frames; bytes asked: "
            "%s",
            m_dwBlock, sizes);
}

// The position register where the driver maps one that reads inside the buffer, else the audio
// position property where it answers inside the buffer. False when neither does.
bool KSCyclicOutput::ChoosePosition() {
    KSRTAUDIO_HWREGISTER reg;
    ULONG offset = 0;
    HRESULT hr = m_pRtPin->GetPositionRegister(&reg);
    if (FAILED(hr)) {
        LogCause("CKsRtPin::GetPositionRegister", hr);
    } else if (FAILED(hr = m_pRtPin->ReadPositionRegister(&offset))) {
        LogCause("CKsRtPin::ReadPositionRegister", hr);
    } else {
        m_source = kRegister;
        return true;
    }
    hr = m_pRtPin->GetAudioPosition(&offset);
    if (SUCCEEDED(hr)) {
        m_source = kProperty;
        return true;
    }
    LogCause("CKsRtPin::GetAudioPosition", hr);
    m_source = kNoPosition;
    return false;
}

// The hardware's latency where the driver answers it: the FIFO's bytes at the stream's rate and
// the chipset and codec delays. Above kRtMaxLatencyMs it is logged and not used.
void KSCyclicOutput::ReadLatency(DWORD rate) {
    KSRTAUDIO_HWLATENCY l = {};
    HRESULT hr = m_pRtPin->GetHwLatency(&l);
    if (FAILED(hr)) {
        DiagLog(1, "WaveRT hardware latency: not answered (hr=0x%08lx)", (unsigned long)hr);
        return;
    }
    ULONGLONG us = (ULONGLONG)l.ChipsetDelay / 10 + l.CodecDelay / 10 +
                   (rate ? (ULONGLONG)l.FifoSize * 1000000 / rate : 0);
    if (us > (ULONGLONG)kRtMaxLatencyMs * 1000) {
        DiagLog(1,
                "WaveRT hardware latency ignored: %lu FIFO bytes, %lu and %lu x 100 ns make more "
                "than %lu ms",
                l.FifoSize, l.ChipsetDelay, l.CodecDelay, kRtMaxLatencyMs);
        return;
    }
    m_dwLatencyMs = (DWORD)((us + 500) / 1000);
    DiagLog(1, "WaveRT hardware latency: %lu ms (FIFO %lu bytes, chipset %lu us, codec %lu us)",
            (DWORD)m_dwLatencyMs, l.FifoSize, l.ChipsetDelay / 10, l.CodecDelay / 10);
}

// Whether the driver offers packet mode (Windows 10): it answers KSPROPERTY_RTAUDIO_PACKETCOUNT
// for a buffer with notifications. The stream does not use it even then. What packet mode gives
// is a gap instead of a stale replay when the writer falls behind, and silence after the last
// packet; this output already writes silence ahead of the position whenever the ring runs dry and
// plays a stream's end out to the last written byte, so only a thread that is itself late would
// hear the difference. Using it would add a request to the driver at every half (SETWRITEPACKET),
// a second way to decide the half to write (PACKETCOUNT, with the late and overrun answers to
// recover from), and a second path to keep bit-exact, on a feature drivers may honour or ignore.
// The position-driven path is the one every WaveRT driver plays; the log and the status window
// say whether the driver offered packet mode.
bool KSCyclicOutput::OffersPackets() {
    ULONG count = 0;
    return m_pRtPin->m_nNotifications == 2 && SUCCEEDED(m_pRtPin->GetPacketCount(&count));
}

// The notification event, where the buffer came with two notifications per pass.
bool KSCyclicOutput::RegisterEvent() {
    if (m_pRtPin->m_nNotifications != 2)
        return false;
    HRESULT hr = m_pRtPin->RegisterNotificationEvent(m_hNotify.Get());
    if (SUCCEEDED(hr))
        return true;
    LogCause("CKsRtPin::RegisterNotificationEvent", hr);
    return false;
}

// The half asked for: whole frames in multiples of the alignment, near halfSize, and at least
// kRtMinHalfMs of audio. False (logged) when no such half fits the largest output buffer.
bool KSCyclicOutput::PlanSizes(const WAVEFORMATEX& format, DWORD halfSize) {
    m_dwBlock = format.nBlockAlign;
    DWORD published = m_pRtPin->m_pFilter->m_cbPacketAlign;
    m_dwAlign = published ? published : kRtDefaultAlign;
    DWORD unit = RtHalfUnit(m_dwBlock, m_dwAlign, kMaxOutputBufferSize);
    if (!unit) {
        DiagLog(1, "WaveRT stream refused: %lu-byte frames and %lu-byte alignment make no half",
                m_dwBlock, m_dwAlign);
        return false;
    }
    DWORD minBytes = (DWORD)((ULONGLONG)format.nAvgBytesPerSec * kRtMinHalfMs / 1000);
    RtFirstAsk(&m_asks, unit, RtWishedHalf(halfSize, unit, minBytes),
               RtWishedHalf(0, unit, minBytes));
    return true;
}

bool KSCyclicOutput::Open(const WAVEFORMATEX& format, DWORD halfSize) {
    if (!PlanSizes(format, halfSize) || !MakeEvents() || !TakeBuffer())
        return false;
    bool events = RegisterEvent();
    ReadLatency(format.nAvgBytesPerSec);
    m_bPacketOffered = OffersPackets();
    if (!ChoosePosition() && !events) {
        DiagLog(1, "WaveRT stream refused: no notifications and no play position to poll");
        return false;
    }
    m_pBuffer = (BYTE*)m_pRtPin->m_Buffer.BufferAddress;
    m_dwSize = m_pRtPin->m_Buffer.ActualBufferSize;
    m_dwHalf = m_pRtPin->m_cbHalf;
    m_dwRate = format.nAvgBytesPerSec;
    m_position = RtPlayPosition(m_dwSize, m_dwHalf);
    m_dwMargin = m_source == kNoPosition ? 0 : RtMargin(m_dwHalf, m_dwBlock);
    m_bBarrier = m_pRtPin->m_Buffer.CallMemoryBarrier != FALSE;
    m_bSilence = format.wBitsPerSample == 8 ? 0x80 : 0;
    DWORD halfMs = Millis(m_dwHalf, m_dwRate);
    m_dwPollMs = halfMs / 4 ? halfMs / 4 : 1;
    m_dwEventWaitMs = halfMs + halfMs / 2 + 1;
    // Both halves hold silence before RUN; the first audio goes into the half that plays second.
    memset(m_pBuffer, m_bSilence, m_dwSize);
    if (m_bBarrier)
        MemoryBarrier();
    m_written = m_dwSize;
    m_bEvents = events;
    // Waits shorter than a default timer tick (15.6 ms) are met only with the timer at 1 ms.
    m_bTimer = m_source != kNoPosition && timeBeginPeriod(1) == TIMERR_NOERROR;
    LogOpened(halfMs);
    m_bOpen = true;
    return true;
}

void KSCyclicOutput::LogOpened(DWORD halfMs) {
    const char* barrier = m_bBarrier ? "; memory barrier after each write" : "";
    const char* timer = m_bTimer ? "; timer at 1 ms" : "";
    const char* packets = m_bPacketOffered ? "offered by the driver, not used" : "not offered";
    char kind[48] = "event-driven";
    if (!m_bEvents)
        snprintf(kind, sizeof kind, "polled every %lu ms", m_dwPollMs);
    DiagLog(1,
            "WaveRT stream, %s: buffer of %lu bytes asked, %lu bytes received (2 halves of %lu "
            "ms, %lu frames each; %lu-byte alignment); play position from %s%s%s; packet mode "
            "%s",
            kind, m_dwAsked, (DWORD)m_dwSize, halfMs, m_dwHalf / m_dwBlock, m_dwAlign,
            kSources[m_source], barrier, timer, packets);
}

// The stream runs on silence until the host writes: the player thread serves its halves from
// now on.
void KSCyclicOutput::Running() {
    m_site.WakeThread();
    SetEvent(m_hAudio.Get());
}

// The player thread leaves the buffer alone before the pin stops and frees it; the paused
// hardware reads nothing meanwhile. Stopping unregisters the event.
int KSCyclicOutput::Stop() {
    RequestState(*m_pRenderPin, KSSTATE_PAUSE);
    m_site.HoldPlayerThread();
    RequestState(*m_pRenderPin, KSSTATE_STOP);
    return 0;
}

// With the pin paused the position holds: what lies between it and the end of the audio written
// is what the hardware did not play. The player thread is held off, so its records are ours.
int KSCyclicOutput::StopKeeping(bool exact, KSBytes* unplayed) {
    if (exact && m_bOpen) {
        m_site.HoldPlayerThread();
        Look();
        ULONGLONG played = m_position.Played();
        DWORD n = m_audioEnd > played ? (DWORD)(m_audioEnd - played) : 0;
        if (n > m_dwSize)
            n = m_dwSize;
        CopyOut(played, n, unplayed);
    }
    return Stop();
}

void KSCyclicOutput::AudioWritten() {
    if (m_bWantAudio)
        SetEvent(m_hAudio.Get());
}

void KSCyclicOutput::Describe(KSSnapshot& s) {
    s.kind = m_bEvents ? KSOutputKind::kCyclicEvent : KSOutputKind::kCyclicPolled;
    s.cyclicSize = m_dwSize;
    s.playOffset = m_dwPlayOffset;
    s.starvedBytes = m_dwStarved;
    s.cyclicHalfFrames = m_dwBlock ? m_dwHalf / m_dwBlock : 0;
    s.cyclicAlign = m_dwAlign;
    s.latencyMs = m_dwLatencyMs;
    s.packetModeOffered = m_bPacketOffered;
    s.gaps = m_nGaps;
}
