// CKsFilter: opening a KS filter by device path, its pin-addressed property reads, and the
// creation and classification of its pins. The topology nodes are in node.cpp.
#include "ks/filter.h"

#include "ks/kstrace.h"
#include "ks/pin.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

const char* const g_aszFilterTypeNames[3] = {"Unknown", "PCM Audio Render", "PCM Audio Capture"};

// Copies src into dst (cbDst bytes), cutting it at the last whole character that fits with the
// terminator, so that a double-byte character is never split.
static void CopyNameCut(char* dst, size_t cbDst, const char* src) {
    size_t i = 0;
    while (src[i]) {
        size_t cbChar = (IsDBCSLeadByte((BYTE)src[i]) && src[i + 1]) ? 2 : 1;
        if (i + cbChar > cbDst - 1)
            break;
        memcpy(dst + i, src + i, cbChar);
        i += cbChar;
    }
    dst[i] = '\0';
}

CKsFilter::CKsFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName)
    : CKsIrpTarget(INVALID_HANDLE_VALUE), m_FilterType(kFilterTypeUnknown), m_bRealtime(FALSE),
      m_cbPacketAlign(0) {
    KsTraceEnter("CKsFilter::CKsFilter()");
    InternalInit();
    CopyNameCut(m_szFriendlyName, sizeof m_szFriendlyName, pszFriendlyName);
    if (!pszName) {
        DebugTrace(1, "pszName cannot be NULL");
        hr = E_INVALIDARG;
    } else if (strnlen(pszName, sizeof m_szFilterName) == sizeof m_szFilterName) {
        // A shortened path would name another device: refuse it.
        DebugTrace(1, "pszName is too long");
        hr = E_INVALIDARG;
    } else {
        strcpy(m_szFilterName, pszName);
        hr = S_OK;
    }
    KsTraceLeave("CKsFilter::CKsFilter", hr);
}

HRESULT CKsFilter::InternalInit() {
    KsTraceEnter("CKsFilter::InternalInit()");
    memset(m_szFilterName, 0, sizeof m_szFilterName);
    return KsTraceLeave("CKsFilter::InternalInit", S_OK);
}

CKsFilter::~CKsFilter() {
    KsTraceEnter("CKsFilter::~CKsFilter()");
    HRESULT hr = CKsFilter::DestroyLists();
    SafeCloseHandle(m_handle);
    assert(SUCCEEDED(hr));
    KsTraceLeave("CKsFilter::~CKsFilter", hr);
}

HRESULT CKsFilter::Instantiate() {
    KsTraceEnter("CKsFilter::Instantiate()");
    m_handle = CreateFileA(m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
    if (!IsValidHandle(m_handle)) {
        DWORD dwError = GetLastError();
        DebugTrace(1,
                   "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
                   m_szFilterName, (unsigned)dwError);
        HRESULT hr = HRESULT_FROM_WIN32(dwError);
        return KsTraceLeave("CKsFilter::Instantiate", FAILED(hr) ? hr : E_FAIL);
    }
    return KsTraceLeave("CKsFilter::Instantiate", S_OK);
}

static KSP_PIN MakePinRequest(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty) {
    KSP_PIN ksPin;
    ksPin.Property.Set = guidPropertySet;
    ksPin.Property.Id = nProperty;
    ksPin.Property.Flags = KSPROPERTY_TYPE_GET;
    ksPin.PinId = nPinId;
    ksPin.Reserved = 0;
    return ksPin;
}

HRESULT CKsFilter::GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                        PVOID pvValue, ULONG cbValue) {
    KsTraceEnter("CKsFilter::GetPinPropertySimple()");
    KSP_PIN ksPin = MakePinRequest(nPinId, guidPropertySet, nProperty);
    HRESULT hr =
        SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPin, sizeof ksPin, pvValue, cbValue, NULL);
    return KsTraceLeave("CKsFilter::GetPinPropertySimple", hr);
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbBlock) {
    KsTraceEnter("CKsFilter::GetPinPropertyMulti()");
    KSP_PIN ksPin = MakePinRequest(nPinId, guidPropertySet, nProperty);
    ULONG cbNeeded = 0;
    HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPin, sizeof ksPin, NULL, 0, &cbNeeded);
    if (FAILED(hr))
        return KsTraceLeave("CKsFilter::GetPinPropertyMulti", hr);
    // An answer that cannot hold its KSMULTIPLE_ITEM header (an empty one included) is refused.
    if (cbNeeded < sizeof(KSMULTIPLE_ITEM))
        return KsTraceLeave("CKsFilter::GetPinPropertyMulti", E_FAIL);

    *ppKsMultipleItem = (PKSMULTIPLE_ITEM)calloc(1, cbNeeded);
    if (!*ppKsMultipleItem)
        return KsTraceLeave("CKsFilter::GetPinPropertyMulti", E_OUTOFMEMORY);
    if (pcbBlock)
        *pcbBlock = cbNeeded;
    hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPin, sizeof ksPin, *ppKsMultipleItem, cbNeeded,
                   NULL);
    return KsTraceLeave("CKsFilter::GetPinPropertyMulti", hr);
}

HRESULT CKsFilter::EnumeratePins() {
    KsTraceEnter("CKsFilter::EnumeratePins()");
    ULONG cPins = 0;
    if (FAILED(
            GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins)))
        cPins = 0;
    for (ULONG nId = 0; nId < cPins; nId++) {
        HRESULT hrPin = S_OK;
        CKsPin* pPin = new (std::nothrow) CKsPin(this, nId, hrPin);
        if (FAILED(hrPin)) {
            DebugTrace(1, "Failed to construct pin");
            delete pPin;
        } else if (!pPin) {
            DebugTrace(1, "Failed to create pin");
        } else if (!m_listPins.AddTail(pPin)) {
            DebugTrace(1, "Failed to add pin to list");
            delete pPin;
        }
    }
    HRESULT hr = ClassifyPins();
    if (!m_listRenderSinkPins.m_lCount && !m_listCaptureSourcePins.m_lCount &&
        !m_listCaptureSinkPins.m_lCount && !m_listRenderSourcePins.m_lCount &&
        !m_listNoCommPins.m_lCount) {
        DebugTrace(1, "Filter is not viable. It has no pins.");
        hr = E_FAIL;
    }
    return KsTraceLeave("CKsFilter::EnumeratePins", hr);
}

// Appends pPin to pFirst and, if given, to pSecond, trying the second even when the first
// fails. FALSE when any append failed.
static BOOL AddToLists(CKsPin* pPin, TList<CKsPin>* pFirst, TList<CKsPin>* pSecond) {
    BOOL bAdded = pFirst->AddTail(pPin) != NULL;
    if (pSecond && !pSecond->AddTail(pPin))
        bAdded = FALSE;
    return bAdded;
}

HRESULT CKsFilter::ClassifyPins() {
    KsTraceEnter("CKsFilter::ClassifyPins()");
    for (TListNode<CKsPin>* pNode = m_listPins.m_pHead; pNode; pNode = pNode->pNext) {
        CKsPin* pPin = pNode->pData;
        KSPIN_COMMUNICATION communication;
        KSPIN_DATAFLOW dataFlow;
        HRESULT hr = pPin->GetCommunication(&communication);
        if (SUCCEEDED(hr))
            hr = pPin->GetDataFlow(&dataFlow);
        if (FAILED(hr))
            return KsTraceLeave("CKsFilter::ClassifyPins", hr);

        bool bIn = KSPIN_DATAFLOW_IN == dataFlow;
        BOOL bAdded = TRUE;
        switch (communication) {
        case KSPIN_COMMUNICATION_NONE:
            bAdded = AddToLists(pPin, &m_listNoCommPins, NULL);
            break;
        case KSPIN_COMMUNICATION_SINK:
            bAdded = AddToLists(pPin, bIn ? &m_listRenderSinkPins : &m_listCaptureSinkPins, NULL);
            break;
        case KSPIN_COMMUNICATION_SOURCE:
            bAdded =
                AddToLists(pPin, bIn ? &m_listRenderSourcePins : &m_listCaptureSourcePins, NULL);
            break;
        case KSPIN_COMMUNICATION_BOTH:
            bAdded = bIn ? AddToLists(pPin, &m_listRenderSinkPins, &m_listRenderSourcePins)
                         : AddToLists(pPin, &m_listCaptureSinkPins, &m_listCaptureSourcePins);
            break;
        default:
            DebugTrace(5, "Pin communication type not recognized");
            break;
        }
        if (!bAdded)
            return KsTraceLeave("CKsFilter::ClassifyPins", E_OUTOFMEMORY);
    }
    return KsTraceLeave("CKsFilter::ClassifyPins", S_OK);
}

HRESULT CKsFilter::DestroyLists() {
    KsTraceEnter("CKsFilter::DestroyLists()");
    while (m_listNodes.m_pHead)
        delete m_listNodes.RemoveHead();
    while (m_listPins.m_pHead)
        delete m_listPins.RemoveHead();
    TList<CKsPin>* apLists[] = {&m_listRenderSinkPins, &m_listCaptureSourcePins,
                                &m_listCaptureSinkPins, &m_listRenderSourcePins, &m_listNoCommPins};
    for (TList<CKsPin>* pList : apLists)
        while (pList->m_pHead)
            pList->RemoveHead();
    return KsTraceLeave("CKsFilter::DestroyLists", S_OK);
}
