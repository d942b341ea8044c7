// CKsPin: the descriptor read, pin creation with KsCreatePin, state changes, stream writes and
// closing of one KS pin.
#include "ks/pin.h"

#include "ks/filter.h"
#include "ks/kstrace.h"
#include "ks/ksuser.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

CKsPin::CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr)
    : CKsIrpTarget(INVALID_HANDLE_VALUE), m_pksPinCreate(NULL), m_cbPinCreate(0), m_nId(nId),
      m_pFilter(pFilter), m_PinType(kPinTypePlain), m_State(KSSTATE_STOP), m_bLooped(FALSE),
      m_pLinkPin(NULL) {
    KsTraceEnter("CKsPin::CKsPin()");
    memset(&m_Descriptor, 0, sizeof m_Descriptor);
    m_Descriptor.Category = GUID_NULL;
    memset(m_wszName, 0, sizeof m_wszName);
    hr = Init();
    KsTraceLeave("CKsPin::CKsPin", hr);
}

CKsPin::~CKsPin() {
    KsTraceEnter("CKsPin::~CKsPin()");
    ClosePin();
    free(m_pksPinCreate);
    free(m_Descriptor.pmiDataRanges);
    free(m_Descriptor.pmiInterfaces);
    free(m_Descriptor.pmiMediums);
    KsTraceLeave("CKsPin::~CKsPin()");
}

/*----------------------------------------------------------------------------------------------
 * ReadItems: reads a multi-item property of pin nId into *ppmi (stored even when the read fails)
 * and, when the answer holds the Count items of at least cbItem bytes that its header claims,
 * sets *pcItems and *ppFirst. FALSE for a failed read and for an answer claiming more than it
 * holds.
 *--------------------------------------------------------------------------------------------*/
static BOOL ReadItems(CKsFilter* pFilter, ULONG nId, ULONG nProperty, ULONG cbItem,
                      PKSMULTIPLE_ITEM* ppmi, ULONG* pcItems, void** ppFirst, ULONG* pcbBlock) {
    ULONG cbBlock = 0;
    HRESULT hr = pFilter->GetPinPropertyMulti(nId, KSPROPSETID_Pin, nProperty, ppmi, &cbBlock);
    if (FAILED(hr))
        return FALSE;
    PKSMULTIPLE_ITEM pmi = *ppmi;
    if (pmi->Count > (cbBlock - sizeof(KSMULTIPLE_ITEM)) / cbItem)
        return FALSE;
    *pcItems = pmi->Count;
    *ppFirst = pmi + 1;
    if (pcbBlock)
        *pcbBlock = cbBlock;
    return TRUE;
}

HRESULT CKsPin::Init() {
    KsTraceEnter("CKsPin::Init()");
    PIN_DESCRIPTOR& d = m_Descriptor;
    BOOL bAll = TRUE;
    auto simple = [&](ULONG nProperty, PVOID pv, ULONG cb, const char* pszFailure) {
        if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, nProperty, pv, cb))) {
            DebugTrace(3, pszFailure, (int)m_nId);
            bAll = FALSE;
        }
    };
    auto multi = [&](ULONG nProperty, ULONG cbItem, PKSMULTIPLE_ITEM* ppmi, ULONG* pc,
                     void** ppFirst, ULONG* pcb, const char* pszFailure) {
        if (!ReadItems(m_pFilter, m_nId, nProperty, cbItem, ppmi, pc, ppFirst, pcb)) {
            DebugTrace(3, pszFailure, (int)m_nId);
            bAll = FALSE;
        }
    };
    simple(KSPROPERTY_PIN_COMMUNICATION, &d.Communication, sizeof d.Communication,
           "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d");
    multi(KSPROPERTY_PIN_INTERFACES, sizeof(KSPIN_INTERFACE), &d.pmiInterfaces, &d.cInterfaces,
          (void**)&d.pInterfaces, NULL,
          "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d");
    multi(KSPROPERTY_PIN_MEDIUMS, sizeof(KSPIN_MEDIUM), &d.pmiMediums, &d.cMediums,
          (void**)&d.pMediums, NULL,
          "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d");
    multi(KSPROPERTY_PIN_DATARANGES, sizeof(KSDATARANGE), &d.pmiDataRanges, &d.cDataRanges,
          (void**)&d.pDataRanges, &d.cbDataRanges,
          "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d");
    simple(KSPROPERTY_PIN_DATAFLOW, &d.DataFlow, sizeof d.DataFlow,
           "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d");
    simple(KSPROPERTY_PIN_CINSTANCES, &d.CInstances, sizeof d.CInstances,
           "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d");
    simple(KSPROPERTY_PIN_GLOBALCINSTANCES, &d.CInstancesGlobal, sizeof d.CInstancesGlobal,
           "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d");
    simple(KSPROPERTY_PIN_CATEGORY, &d.Category, sizeof d.Category,
           "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d");
    simple(KSPROPERTY_PIN_NAME, m_wszName, sizeof m_wszName - 1,
           "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d");
    m_wszName[MAX_PATH / 2 - 1] = L'\0';
    return KsTraceLeave("CKsPin::Init", bAll ? S_OK : S_FALSE);
}

HRESULT CKsPin::Instantiate(BOOL fLooped) {
    KsTraceEnter("CKsPin::Instantiate()");
    if (!m_pksPinCreate)
        return KsTraceLeave("CKsPin::Instantiate", S_OK);
    if (m_pLinkPin) {
        assert(KSPIN_COMMUNICATION_SINK == m_pLinkPin->m_Descriptor.Communication ||
               KSPIN_COMMUNICATION_BOTH == m_pLinkPin->m_Descriptor.Communication);
        m_pksPinCreate->PinToHandle = m_pLinkPin->m_handle;
    }
    m_bLooped = fLooped;
    m_pksPinCreate->Interface.Id =
        fLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;

    // One handle per pin: an open pin is closed before it is created again.
    if (IsValidHandle(m_handle))
        ClosePin();
    HANDLE hPin = INVALID_HANDLE_VALUE;
    DWORD dwResult =
        KsUserCreatePin(m_pFilter->m_handle, m_pksPinCreate, GENERIC_READ | GENERIC_WRITE, &hPin);
    HRESULT hr = S_OK;
    if (ERROR_SUCCESS != dwResult) {
        hr = HRESULT_FROM_WIN32(dwResult);
        if (SUCCEEDED(hr))
            hr = E_FAIL;
        DebugTrace(1, "Failed to instantiate pin. hr=0x%08x", (unsigned)hr);
    } else {
        m_handle = hPin;
    }
    return KsTraceLeave("CKsPin::Instantiate", hr);
}

HRESULT CKsPin::SetState(KSSTATE ksState) {
    KsTraceEnter("CKsPin::SetState()");
    HRESULT hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &ksState,
                                   sizeof ksState);
    if (SUCCEEDED(hr))
        m_State = ksState;
    else
        DebugTrace(1, "Failed to Set Pin State");
    return KsTraceLeave("CKsPin::SetState", hr);
}

void CKsPin::ClosePin() {
    KsTraceEnter("CKsPin::ClosePin()");
    if (IsValidHandle(m_handle)) {
        SetState(KSSTATE_STOP);
        SafeCloseHandle(m_handle);
    }
    KsTraceLeave("CKsPin::ClosePin()");
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped) {
    KsTraceEnter("CKsPin::WriteData()");
    DWORD cbReturned = 0;
    HRESULT hr = S_OK;
    if (!DeviceIoControl(m_handle, IOCTL_KS_WRITE_STREAM, NULL, 0, pKsStreamHeader,
                         pKsStreamHeader->Size, &cbReturned, pOverlapped)) {
        DWORD dwError = GetLastError();
        if (ERROR_IO_PENDING != dwError) {
            DebugTrace(1, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x",
                       (unsigned)dwError);
            hr = HRESULT_FROM_WIN32(dwError);
            if (SUCCEEDED(hr))
                hr = E_FAIL;
        }
    }
    return KsTraceLeave("CKsPin::WriteData", hr);
}

HRESULT CKsPin::GetPlayedBytes(ULONGLONG* pPlayed) {
    KsTraceEnter("CKsPin::GetPlayedBytes()");
    KSAUDIO_POSITION position;
    HRESULT hr =
        GetPropertySimple(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, &position, sizeof position);
    if (SUCCEEDED(hr))
        *pPlayed = position.PlayOffset;
    return KsTraceLeave("CKsPin::GetPlayedBytes", hr);
}

HRESULT CKsPin::Reset(KSRESET how) {
    KsTraceEnter("CKsPin::Reset()");
    ULONG value = (ULONG)how;
    HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_RESET_STATE, &value, sizeof value, NULL, 0, NULL);
    return KsTraceLeave("CKsPin::Reset", hr);
}

HRESULT CKsPin::GetDataFlow(PKSPIN_DATAFLOW pDataFlow) {
    KsTraceEnter("CKsPin::GetDataFlow()");
    assert(NULL != pDataFlow);
    *pDataFlow = m_Descriptor.DataFlow;
    return KsTraceLeave("CKsPin::GetDataFlow", S_OK);
}

HRESULT CKsPin::GetCommunication(PKSPIN_COMMUNICATION pCommunication) {
    KsTraceEnter("CKsPin::GetCommunication()");
    assert(NULL != pCommunication);
    *pCommunication = m_Descriptor.Communication;
    return KsTraceLeave("CKsPin::GetCommunication", S_OK);
}
