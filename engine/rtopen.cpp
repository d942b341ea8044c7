// Opening a WaveRT stream on the pin that OpenOutput created: a busy device refused before any
// pin is made, the cyclic buffer with two notifications per pass and the event, or without them
// and a play position to poll; the buffer filled with silence before the pin runs; the log line
// that names the kind of stream; and the close, which logs what the stream went through.
#include "engine/kscore.h"

#include "diag/log.h"
#include "host/settings.h"
#include "ks/audfilter.h"
#include "ks/rtpin.h"

#include <cstring>

namespace {

// Why a buffer the driver handed out cannot be played (the pin refused it).
const char* Unplayable(const KSRTAUDIO_BUFFER& b) {
    if (!b.BufferAddress)
        return "no address";
    if (b.ActualBufferSize == 0)
        return "0 bytes";
    return "halves that are not whole frames";
}

DWORD Millis(DWORD bytes, DWORD rate) {
    return rate ? (DWORD)((ULONGLONG)bytes * 1000 / rate) : 0;
}

const char* PositionSource(int position) {
    switch (position) {
    case RT_POSITION_REGISTER:
        return "the position register";
    case RT_POSITION_PROPERTY:
        return "the audio position property";
    default:
        return "the notifications, counted";
    }
}

} // namespace

// The two events of WaveRT streams, made once.
bool KSCore::MakeRtEvents() {
    UniqueHandle* events[] = {&m_hRtEvent, &m_hRtWake};
    for (UniqueHandle* e : events) {
        if (!e->Valid())
            e->Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
        if (!e->Valid()) {
            LogCause("CreateEventA", HRESULT_FROM_WIN32(GetLastError()));
            return false;
        }
    }
    return true;
}

// Another program holds the filter's WaveRT pin when its instances are all taken: the open is
// refused before a pin is made, and the log says why.
bool KSCore::RtDeviceBusy(const WAVEFORMATEX* format) {
    if (!m_pRenderFilter->m_bRealtime)
        return false;
    CKsRtPin* pin = CKsRtPin::FromPin(m_pRenderFilter->FindViablePin(format));
    KSPIN_CINSTANCES n = {};
    if (!pin || FAILED(pin->GetInstances(&n)) || n.CurrentCount < n.PossibleCount)
        return false;
    DiagLog(1, "WaveRT device busy: %s is in use by another program (%lu of %lu pins taken)",
            m_pRenderFilter->m_szFriendlyName, n.CurrentCount, n.PossibleCount);
    return true;
}

// The cyclic buffer: with two notifications per pass where the driver offers them, else without.
// A buffer the driver handed out that cannot be played is refused, never asked for again.
bool KSCore::TakeRtBuffer(CKsRtPin* pin) {
    KSRTAUDIO_BUFFER buffer = {};
    HRESULT hr = pin->GetBufferWithNotification(m_rt.asked, 2, &buffer);
    if (FAILED(hr) && !pin->m_bHaveBuffer) {
        LogCause("CKsRtPin::GetBufferWithNotification", hr);
        hr = pin->GetBuffer(m_rt.asked, &buffer);
    }
    if (SUCCEEDED(hr))
        return true;
    if (pin->m_bHaveBuffer)
        DiagLog(1,
                "WaveRT buffer refused: %lu bytes asked, the driver gave %lu bytes (%lu-byte "
                "frames): %s",
                m_rt.asked, pin->m_Buffer.ActualBufferSize, m_rt.block, Unplayable(pin->m_Buffer));
    else
        LogCause("CKsRtPin::GetBuffer", hr);
    return false;
}

// The position register where the driver maps one that reads inside the buffer, else the audio
// position property where it answers inside the buffer. False when neither does.
bool KSCore::ChooseRtPosition(CKsRtPin* pin) {
    KSRTAUDIO_HWREGISTER reg;
    ULONG offset = 0;
    HRESULT hr = pin->GetPositionRegister(&reg);
    if (FAILED(hr)) {
        LogCause("CKsRtPin::GetPositionRegister", hr);
    } else if (FAILED(hr = pin->ReadPositionRegister(&offset))) {
        LogCause("CKsRtPin::ReadPositionRegister", hr);
    } else {
        m_rt.position = RT_POSITION_REGISTER;
        return true;
    }
    hr = pin->GetAudioPosition(&offset);
    if (SUCCEEDED(hr)) {
        m_rt.position = RT_POSITION_PROPERTY;
        return true;
    }
    LogCause("CKsRtPin::GetAudioPosition", hr);
    m_rt.position = RT_POSITION_NONE;
    return false;
}

// Everything of a WaveRT stream up to the state change to RUN, which the start requests: the
// buffer, the event, the position, the silence in both halves. False (with the reason in the
// log) when the stream cannot be played; the caller then closes the pin.
bool KSCore::OpenRtStream(CKsRtPin* pin, const WAVEFORMATEX& format) {
    InterlockedIncrement(&m_rt.generation);
    m_rt.Reset();
    m_rt.block = format.nBlockAlign;
    m_rt.asked = 2 * ((DWORD)m_pSettings->output_buffer_size / m_rt.block * m_rt.block);
    if (!MakeRtEvents() || !TakeRtBuffer(pin))
        return false;
    bool events = pin->m_nNotifications == 2;
    if (events) {
        ResetEvent(m_hRtEvent.Get());
        HRESULT hr = pin->RegisterNotificationEvent(m_hRtEvent.Get());
        if (FAILED(hr)) {
            LogCause("CKsRtPin::RegisterNotificationEvent", hr);
            events = false;
        }
    }
    if (!ChooseRtPosition(pin) && !events) {
        DiagLog(1, "WaveRT stream refused: no notifications and no play position to poll");
        return false;
    }
    m_rt.buffer = (BYTE*)pin->m_Buffer.BufferAddress;
    m_rt.size = pin->m_Buffer.ActualBufferSize;
    m_rt.half = pin->m_cbHalf;
    m_rt.barrier = pin->m_Buffer.CallMemoryBarrier != FALSE;
    m_rt.silence = format.wBitsPerSample == 8 ? 0x80 : 0;
    DWORD halfMs = Millis(m_rt.half, format.nAvgBytesPerSec);
    m_rt.pollMs = halfMs / 4 ? halfMs / 4 : 1;
    m_rt.eventWaitMs = halfMs + halfMs / 2 + 1;
    // Both halves hold silence before RUN; the first audio goes into the half that plays second.
    memset(m_rt.buffer, m_rt.silence, m_rt.size);
    if (m_rt.barrier)
        MemoryBarrier();
    m_rt.written = m_rt.size;
    m_rt.kind = events ? RT_EVENT : RT_POLLED;
    if (events)
        DiagLog(1,
                "WaveRT stream, event-driven: buffer of %lu bytes asked, %lu bytes received (2 "
                "halves of %lu ms); play position from %s%s",
                m_rt.asked, m_rt.size, halfMs, PositionSource(m_rt.position),
                m_rt.barrier ? "; memory barrier after each write" : "");
    else
        DiagLog(1,
                "WaveRT stream, polled every %lu ms: buffer of %lu bytes asked, %lu bytes "
                "received (2 halves of %lu ms); play position from %s%s",
                m_rt.pollMs, m_rt.asked, m_rt.size, halfMs, PositionSource(m_rt.position),
                m_rt.barrier ? "; memory barrier after each write" : "");
    InterlockedExchangePointer((PVOID volatile*)&m_rt.pin, pin);
    return true;
}

// Called by CloseOutput while the player thread is held off: the stream's figures go to the log,
// and the engine forgets the buffer before the pin that owns it closes. The figures stay until
// the next WaveRT open.
void KSCore::CloseRtStream() {
    if (!m_rt.pin)
        return;
    DiagLog(1,
            "WaveRT stream closed: %llu bytes played, %lu bytes of silence for lack of audio in "
            "%ld gaps",
            (unsigned long long)m_rt.played, (DWORD)m_rt.starvedBytes, (long)m_rt.gaps);
    InterlockedExchangePointer((PVOID volatile*)&m_rt.pin, nullptr);
    m_rt.buffer = nullptr;
    m_rt.kind = RT_NONE;
}
