// CKsRtPin: the cyclic buffer requests, the position register and the audio position property,
// each answer checked before anything of it is used.
#include "ks/rtpin.h"

#include "ks/kstrace.h"

#include <cstring>

// Bytes per half of the buffer, or 0 (with the reason traced) when it cannot be played: no
// address, no bytes, or halves that are not whole frames of nBlockAlign bytes.
static ULONG UsableHalf(const KSRTAUDIO_BUFFER& buffer, ULONG nBlockAlign) {
    ULONG cbBuffer = buffer.ActualBufferSize;
    const char* pszWhy = NULL;
    if (!buffer.BufferAddress)
        pszWhy = "it has no address";
    else if (0 == cbBuffer)
        pszWhy = "it has 0 bytes";
    else if (0 == nBlockAlign || 0 != cbBuffer % (2 * nBlockAlign))
        pszWhy = "its halves are not whole frames";
    if (!pszWhy)
        return cbBuffer / 2;
    DebugTrace(1, "WaveRT buffer of %lu bytes refused: %s of %u bytes", cbBuffer, pszWhy,
               (unsigned)nBlockAlign);
    return 0;
}

/*----------------------------------------------------------------------------------------------
 * TakeBuffer: sends one of the two buffer requests (a pin asks for one buffer only) and keeps
 * the answer; the buffer is usable when its halves hold whole frames of the pin's format.
 *--------------------------------------------------------------------------------------------*/
HRESULT CKsRtPin::TakeBuffer(PVOID pRequest, ULONG cbRequest, ULONG nNotifications,
                             PKSRTAUDIO_BUFFER pBuffer) {
    KsTraceEnter("CKsRtPin::TakeBuffer()");
    if (m_bHaveBuffer)
        return KsTraceLeave("CKsRtPin::TakeBuffer", OutOfOrder("the pin has its buffer already"));
    KSRTAUDIO_BUFFER answer;
    memset(&answer, 0, sizeof answer);
    HRESULT hr =
        SyncIoctl(m_handle, IOCTL_KS_PROPERTY, pRequest, cbRequest, &answer, sizeof answer, NULL);
    if (FAILED(hr)) {
        DebugTrace(1, "Failed to get the WaveRT buffer (%lu notifications). hr=0x%08x",
                   nNotifications, (unsigned)hr);
        return KsTraceLeave("CKsRtPin::TakeBuffer", hr);
    }
    *pBuffer = answer;
    m_Buffer = answer;
    m_bHaveBuffer = TRUE;
    m_cbHalf = UsableHalf(answer, m_pksDataFormatWfx->WaveFormatEx.nBlockAlign);
    if (!m_cbHalf)
        return KsTraceLeave("CKsRtPin::TakeBuffer", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    m_nNotifications = nNotifications;
    return KsTraceLeave("CKsRtPin::TakeBuffer", S_OK);
}

HRESULT CKsRtPin::GetBuffer(ULONG cbRequested, PKSRTAUDIO_BUFFER pBuffer) {
    KsTraceEnter("CKsRtPin::GetBuffer()");
    KSRTAUDIO_BUFFER_PROPERTY request =
        RtRequest<KSRTAUDIO_BUFFER_PROPERTY>(KSPROPERTY_RTAUDIO_BUFFER);
    request.BaseAddress = NULL;
    request.RequestedBufferSize = cbRequested;
    HRESULT hr = TakeBuffer(&request, sizeof request, 0, pBuffer);
    return KsTraceLeave("CKsRtPin::GetBuffer", hr);
}

HRESULT CKsRtPin::GetBufferWithNotification(ULONG cbRequested, ULONG nNotifications,
                                            PKSRTAUDIO_BUFFER pBuffer) {
    KsTraceEnter("CKsRtPin::GetBufferWithNotification()");
    if (1 != nNotifications && 2 != nNotifications)
        return KsTraceLeave("CKsRtPin::GetBufferWithNotification", E_INVALIDARG);
    KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION request =
        RtRequest<KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION>(
            KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION);
    request.BaseAddress = NULL;
    request.RequestedBufferSize = cbRequested;
    request.NotificationCount = nNotifications;
    HRESULT hr = TakeBuffer(&request, sizeof request, nNotifications, pBuffer);
    return KsTraceLeave("CKsRtPin::GetBufferWithNotification", hr);
}

// TRUE for a register the client can read: an address aligned for 32-bit reads, 32 or 64 bits.
static BOOL IsReadableRegister(const KSRTAUDIO_HWREGISTER& reg) {
    return reg.Register && 0 == (ULONG_PTR)reg.Register % sizeof(ULONG) &&
           (32 == reg.Width || 64 == reg.Width);
}

HRESULT CKsRtPin::GetPositionRegister(PKSRTAUDIO_HWREGISTER pRegister) {
    KsTraceEnter("CKsRtPin::GetPositionRegister()");
    HRESULT hr = S_OK;
    if (!m_bHaveRegister) {
        KSRTAUDIO_HWREGISTER_PROPERTY request =
            RtRequest<KSRTAUDIO_HWREGISTER_PROPERTY>(KSPROPERTY_RTAUDIO_POSITIONREGISTER);
        request.BaseAddress = NULL;
        KSRTAUDIO_HWREGISTER answer;
        memset(&answer, 0, sizeof answer);
        hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, &answer,
                       sizeof answer, NULL);
        if (FAILED(hr)) {
            DebugTrace(1, "Failed to map the WaveRT position register. hr=0x%08x", (unsigned)hr);
            return KsTraceLeave("CKsRtPin::GetPositionRegister", hr);
        }
        m_PositionRegister = answer;
        m_bHaveRegister = TRUE;
    }
    *pRegister = m_PositionRegister;
    if (!IsReadableRegister(m_PositionRegister)) {
        DebugTrace(1, "WaveRT position register at %p of %lu bits refused",
                   m_PositionRegister.Register, m_PositionRegister.Width);
        hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    return KsTraceLeave("CKsRtPin::GetPositionRegister", hr);
}

// A play offset as the driver reported it, checked against the usable buffer.
HRESULT CKsRtPin::CheckOffset(ULONGLONG ullOffset, PULONG pulOffset) {
    KsTraceEnter("CKsRtPin::CheckOffset()");
    ULONG cbBuffer = m_Buffer.ActualBufferSize;
    if (ullOffset > cbBuffer) {
        DebugTrace(1, "WaveRT position %llu lies outside the %lu-byte buffer",
                   (unsigned long long)ullOffset, cbBuffer);
        return KsTraceLeave("CKsRtPin::CheckOffset", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    }
    *pulOffset = ullOffset == cbBuffer ? 0 : (ULONG)ullOffset;
    return KsTraceLeave("CKsRtPin::CheckOffset", S_OK);
}

HRESULT CKsRtPin::ReadPositionRegister(PULONG pulOffset) {
    KsTraceEnter("CKsRtPin::ReadPositionRegister()");
    // The mapping ends with the handle: nothing is read from a closed pin.
    if (!IsValidHandle(m_handle) || !m_cbHalf || !m_bHaveRegister ||
        !IsReadableRegister(m_PositionRegister))
        return KsTraceLeave("CKsRtPin::ReadPositionRegister",
                            OutOfOrder("no usable buffer and position register"));
    // A position fits 32 bits; of a 64-bit register the high half (after the low one, in
    // little-endian order) must then be 0.
    const volatile ULONG* pRegister = (const volatile ULONG*)m_PositionRegister.Register;
    ULONGLONG ullOffset = pRegister[0];
    if (64 == m_PositionRegister.Width)
        ullOffset |= (ULONGLONG)pRegister[1] << 32;
    return KsTraceLeave("CKsRtPin::ReadPositionRegister", CheckOffset(ullOffset, pulOffset));
}

// A GET of a property whose descriptor is a plain KSPROPERTY, into cbValue bytes at pValue
// (zeroed first); a failure is traced with the property's name.
HRESULT CKsRtPin::GetPlain(REFGUID set, ULONG nId, PVOID pValue, ULONG cbValue,
                           const char* pszName) {
    KsTraceEnter("CKsRtPin::GetPlain()");
    HRESULT hr = GetPropertySimple(set, nId, pValue, cbValue);
    if (FAILED(hr))
        DebugTrace(1, "Failed to get %s. hr=0x%08x", pszName, (unsigned)hr);
    return KsTraceLeave("CKsRtPin::GetPlain", hr);
}

HRESULT CKsRtPin::GetAudioPosition(PULONG pulOffset) {
    KsTraceEnter("CKsRtPin::GetAudioPosition()");
    if (!m_cbHalf)
        return KsTraceLeave("CKsRtPin::GetAudioPosition", OutOfOrder("no usable buffer"));
    KSAUDIO_POSITION position;
    HRESULT hr = GetPlain(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, &position, sizeof position,
                          "KSPROPERTY_AUDIO_POSITION");
    if (SUCCEEDED(hr))
        hr = CheckOffset(position.PlayOffset, pulOffset);
    return KsTraceLeave("CKsRtPin::GetAudioPosition", hr);
}

HRESULT CKsRtPin::GetHwLatency(PKSRTAUDIO_HWLATENCY pLatency) {
    KsTraceEnter("CKsRtPin::GetHwLatency()");
    if (!m_cbHalf)
        return KsTraceLeave("CKsRtPin::GetHwLatency", OutOfOrder("no usable buffer"));
    HRESULT hr = GetPlain(KSPROPSETID_RtAudio, KSPROPERTY_RTAUDIO_HWLATENCY, pLatency,
                          sizeof *pLatency, "KSPROPERTY_RTAUDIO_HWLATENCY");
    return KsTraceLeave("CKsRtPin::GetHwLatency", hr);
}

HRESULT CKsRtPin::GetPacketCount(PULONG pulCount) {
    KsTraceEnter("CKsRtPin::GetPacketCount()");
    if (!m_cbHalf)
        return KsTraceLeave("CKsRtPin::GetPacketCount", OutOfOrder("no usable buffer"));
    HRESULT hr = GetPlain(KSPROPSETID_RtAudio, KSPROPERTY_RTAUDIO_PACKETCOUNT, pulCount,
                          sizeof *pulCount, "KSPROPERTY_RTAUDIO_PACKETCOUNT");
    return KsTraceLeave("CKsRtPin::GetPacketCount", hr);
}
