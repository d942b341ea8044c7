// CKsRtPin: recognising a WaveRT render pin, creating it with the looped-streaming interface, its
// stepwise state changes and its notification event. The buffer and position requests are in
// rtbuffer.cpp.
#include "ks/rtpin.h"

#include "ks/filter.h"
#include "ks/kstrace.h"

#include <cstdlib>
#include <cstring>

CKsRtPin::CKsRtPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr)
    : CKsAudRenPin(pFilter, nId, hr, KSINTERFACE_STANDARD_LOOPED_STREAMING) {
    KsTraceEnter("CKsRtPin::CKsRtPin()");
    m_PinType = kPinTypeWaveRt;
    ForgetStream();
    KsTraceLeave("CKsRtPin::CKsRtPin", hr);
}

CKsRtPin::~CKsRtPin() {
    KsTraceEnter("CKsRtPin::~CKsRtPin()");
    // Here SetState is still this class's: the pin steps down and unregisters before it closes.
    ClosePin();
    KsTraceLeave("CKsRtPin::~CKsRtPin()");
}

void CKsRtPin::ForgetStream() {
    KsTraceEnter("CKsRtPin::ForgetStream()");
    memset(&m_Buffer, 0, sizeof m_Buffer);
    m_bHaveBuffer = FALSE;
    m_cbHalf = 0;
    m_nNotifications = 0;
    m_hNotificationEvent = NULL;
    memset(&m_PositionRegister, 0, sizeof m_PositionRegister);
    m_bHaveRegister = FALSE;
    KsTraceLeave("CKsRtPin::ForgetStream()");
}

/*----------------------------------------------------------------------------------------------
 * IsWaveRtPin: reads the pin's interface list and looks for the two standard interfaces. The
 * walk stays inside the answer, whatever its Count claims.
 *--------------------------------------------------------------------------------------------*/
BOOL CKsRtPin::IsWaveRtPin(CKsFilter* pFilter, ULONG nId) {
    KsTraceEnter("CKsRtPin::IsWaveRtPin()");
    PKSMULTIPLE_ITEM pmi = NULL;
    ULONG cbBlock = 0;
    BOOL bLooped = FALSE, bStandard = FALSE;
    if (SUCCEEDED(pFilter->GetPinPropertyMulti(nId, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES,
                                               &pmi, &cbBlock)) &&
        pmi) {
        ULONG cFit = (cbBlock - sizeof(KSMULTIPLE_ITEM)) / sizeof(KSPIN_INTERFACE);
        ULONG cItems = pmi->Count < cFit ? pmi->Count : cFit;
        const KSPIN_INTERFACE* pItems = (const KSPIN_INTERFACE*)(pmi + 1);
        for (ULONG i = 0; i < cItems; i++) {
            if (!IsEqualGUID(pItems[i].Set, KSINTERFACESETID_Standard))
                continue;
            bLooped = bLooped || KSINTERFACE_STANDARD_LOOPED_STREAMING == pItems[i].Id;
            bStandard = bStandard || KSINTERFACE_STANDARD_STREAMING == pItems[i].Id;
        }
    }
    free(pmi);
    BOOL bWaveRt = bLooped && !bStandard;
    if (bWaveRt)
        DebugTrace(5, "Pin %d is a WaveRT render pin", (int)nId);
    KsTraceLeave("CKsRtPin::IsWaveRtPin()");
    return bWaveRt;
}

CKsRtPin* CKsRtPin::FromPin(CKsPin* pPin) {
    KsTraceEnter("CKsRtPin::FromPin()");
    CKsRtPin* pRtPin =
        pPin && kPinTypeWaveRt == pPin->m_PinType ? static_cast<CKsRtPin*>(pPin) : NULL;
    KsTraceLeave("CKsRtPin::FromPin()");
    return pRtPin;
}

HRESULT CKsRtPin::Instantiate(BOOL) {
    KsTraceEnter("CKsRtPin::Instantiate()");
    // The base closes an open handle first (stepping it down through SetState).
    HRESULT hr = CKsAudRenPin::Instantiate(TRUE);
    ForgetStream();
    if (SUCCEEDED(hr))
        m_State = KSSTATE_STOP;
    return KsTraceLeave("CKsRtPin::Instantiate", hr);
}

HRESULT CKsRtPin::SetState(KSSTATE ksState) {
    KsTraceEnter("CKsRtPin::SetState()");
    if (ksState < KSSTATE_STOP || ksState > KSSTATE_RUN)
        return KsTraceLeave("CKsRtPin::SetState", E_INVALIDARG);
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr) && m_State != ksState) {
        KSSTATE next = (KSSTATE)(m_State < ksState ? m_State + 1 : m_State - 1);
        hr = CKsAudRenPin::SetState(next);
    }
    if (SUCCEEDED(hr) && KSSTATE_STOP == m_State && m_hNotificationEvent)
        hr = UnregisterNotificationEvent();
    return KsTraceLeave("CKsRtPin::SetState", hr);
}

HRESULT CKsRtPin::GetInstances(PKSPIN_CINSTANCES pInstances) {
    KsTraceEnter("CKsRtPin::GetInstances()");
    HRESULT hr = m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES,
                                                 pInstances, sizeof *pInstances);
    return KsTraceLeave("CKsRtPin::GetInstances", hr);
}

// The request block of both notification event properties. Sent as a GET with no value, as
// clients of WaveRT drivers send it.
static KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY EventRequest(ULONG nProperty, HANDLE hEvent) {
    KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY request =
        RtRequest<KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY>(nProperty);
    request.NotificationEvent = hEvent;
    return request;
}

HRESULT CKsRtPin::OutOfOrder(const char* pszWhy) {
    KsTraceEnter("CKsRtPin::OutOfOrder()");
    DebugTrace(1, "WaveRT request refused: %s", pszWhy);
    return KsTraceLeave("CKsRtPin::OutOfOrder", HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
}

HRESULT CKsRtPin::RegisterNotificationEvent(HANDLE hEvent) {
    KsTraceEnter("CKsRtPin::RegisterNotificationEvent()");
    if (!IsValidHandle(hEvent))
        return KsTraceLeave("CKsRtPin::RegisterNotificationEvent", E_INVALIDARG);
    if (!m_nNotifications || !m_cbHalf)
        return KsTraceLeave("CKsRtPin::RegisterNotificationEvent",
                            OutOfOrder("no buffer with notifications"));
    if (m_hNotificationEvent)
        return KsTraceLeave("CKsRtPin::RegisterNotificationEvent",
                            OutOfOrder("an event is registered already"));
    KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY request =
        EventRequest(KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT, hEvent);
    HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, NULL, 0, NULL);
    if (SUCCEEDED(hr))
        m_hNotificationEvent = hEvent;
    else
        DebugTrace(1, "Failed to register the WaveRT notification event. hr=0x%08x", (unsigned)hr);
    return KsTraceLeave("CKsRtPin::RegisterNotificationEvent", hr);
}

HRESULT CKsRtPin::UnregisterNotificationEvent() {
    KsTraceEnter("CKsRtPin::UnregisterNotificationEvent()");
    if (!m_hNotificationEvent)
        return KsTraceLeave("CKsRtPin::UnregisterNotificationEvent", S_FALSE);
    if (KSSTATE_STOP != m_State)
        return KsTraceLeave("CKsRtPin::UnregisterNotificationEvent",
                            OutOfOrder("the event is unregistered only in STOP"));
    KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY request =
        EventRequest(KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT, m_hNotificationEvent);
    HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, NULL, 0, NULL);
    if (SUCCEEDED(hr))
        m_hNotificationEvent = NULL;
    else
        DebugTrace(1, "Failed to unregister the WaveRT notification event. hr=0x%08x",
                   (unsigned)hr);
    return KsTraceLeave("CKsRtPin::UnregisterNotificationEvent", hr);
}
