// The audio filters: listing the streaming pins as audio pins; the capture flavour. The render
// flavour is in renfilter.cpp.
#include "ks/audfilter.h"

#include "diag/log.h"

#include "ks/kstrace.h"
#include "ks/rtpin.h"

#include <cassert>
#include <new>

CKsAudFilter::CKsAudFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName)
    : CKsFilter(pszName, hr, pszFriendlyName) {
    KsTraceEnter("CKsAudFilter::CKsAudFilter()");
    KsTraceLeave("CKsAudFilter::CKsAudFilter", hr);
}

CKsAudFilter::~CKsAudFilter() {
    KsTraceEnter("CKsAudFilter::~CKsAudFilter()");
    KsTraceLeave("CKsAudFilter::~CKsAudFilter()");
}

// The audio pin class for a pin's communication (SINK, SOURCE or BOTH) and data flow. A render
// sink pin of a WaveRT filter that offers looped streaming and not standard streaming streams
// over a cyclic buffer.
static CKsAudPin* NewAudioPin(CKsFilter* pFilter, ULONG nId, KSPIN_COMMUNICATION communication,
                              KSPIN_DATAFLOW dataFlow, HRESULT& hr) {
    if (KSPIN_COMMUNICATION_SINK == communication && KSPIN_DATAFLOW_IN == dataFlow) {
        if (pFilter->m_bRealtime && CKsRtPin::IsWaveRtPin(pFilter, nId))
            return new (std::nothrow) CKsRtPin(pFilter, nId, hr);
        return new (std::nothrow) CKsAudRenPin(pFilter, nId, hr);
    }
    if (KSPIN_COMMUNICATION_SINK == communication && KSPIN_DATAFLOW_OUT == dataFlow)
        return new (std::nothrow) CKsAudCapPin(pFilter, nId, hr);
    return new (std::nothrow) CKsAudPin(pFilter, nId, hr);
}

// Reads the communication and data flow of pin nId; FALSE (with its message) for a pin to skip.
static BOOL ReadStreamingPin(CKsFilter* pFilter, ULONG nId, KSPIN_COMMUNICATION* pCommunication,
                             KSPIN_DATAFLOW* pDataFlow) {
    *pCommunication = KSPIN_COMMUNICATION_NONE;
    *pDataFlow = (KSPIN_DATAFLOW)0;
    if (FAILED(pFilter->GetPinPropertySimple(nId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION,
                                             pCommunication, sizeof *pCommunication))) {
        DebugTrace(1, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
        return FALSE;
    }
    if (KSPIN_COMMUNICATION_SINK != *pCommunication &&
        KSPIN_COMMUNICATION_SOURCE != *pCommunication &&
        KSPIN_COMMUNICATION_BOTH != *pCommunication) {
        DebugTrace(1, "Pin communication value doesn't make sense");
        return FALSE;
    }
    if (FAILED(pFilter->GetPinPropertySimple(nId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW,
                                             pDataFlow, sizeof *pDataFlow))) {
        DebugTrace(1, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
        return FALSE;
    }
    return TRUE;
}

// The out-of-memory exit of EnumeratePins: every pin created so far is deleted.
static HRESULT OutOfMemory(TList<CKsPin>& listPins) {
    DebugTrace(1, "Ran out of memory enumerating pins - deleting all pins");
    while (listPins.m_pHead)
        delete listPins.RemoveHead();
    return E_OUTOFMEMORY;
}

/*----------------------------------------------------------------------------------------------
 * EnumeratePins: creates an audio pin for every pin id whose communication is SINK, SOURCE or
 * BOTH and that passes the audio pin checks, then classifies them. Running out of memory deletes
 * every pin created so far.
 *--------------------------------------------------------------------------------------------*/
HRESULT CKsAudFilter::EnumeratePins() {
    KsTraceEnter("CKsAudFilter::EnumeratePins()");
    ULONG cPins = 0;
    if (FAILED(GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins,
                                    sizeof cPins))) {
        DebugTrace(1, "Failed to retrieve count of pins in audio filter");
        cPins = 0;
    }
    for (ULONG nId = 0; nId < cPins; nId++) {
        KSPIN_COMMUNICATION communication;
        KSPIN_DATAFLOW dataFlow;
        if (!ReadStreamingPin(this, nId, &communication, &dataFlow))
            continue;
        HRESULT hrPin = S_OK;
        CKsAudPin* pPin = NewAudioPin(this, nId, communication, dataFlow, hrPin);
        if (!pPin) {
            DebugTrace(1, "Failed to create audio pin");
            return KsTraceLeave("CKsAudFilter::EnumeratePins", OutOfMemory(m_listPins));
        }
        if (FAILED(hrPin)) {
            DiagLog(1,
                    "Pin %lu of %s left out, hr=0x%08x: %lu audio data ranges read of %lu in the "
                    "%lu-byte answer; %lu interfaces, %lu mediums",
                    nId, m_szFilterName, (unsigned)hrPin, (ULONG)pPin->m_listDataRanges.m_lCount,
                    pPin->m_Descriptor.cDataRanges, pPin->m_Descriptor.cbDataRanges,
                    pPin->m_Descriptor.cInterfaces, pPin->m_Descriptor.cMediums);
            delete pPin;
            continue;
        }
        if (!m_listPins.AddTail(pPin)) {
            delete pPin;
            DebugTrace(1, "Unable to allocate list entry to save pin in");
            return KsTraceLeave("CKsAudFilter::EnumeratePins", OutOfMemory(m_listPins));
        }
    }
    ClassifyPins();
    if (!m_listRenderSinkPins.m_pHead && !m_listCaptureSourcePins.m_pHead &&
        !m_listCaptureSinkPins.m_pHead && !m_listRenderSourcePins.m_pHead) {
        DebugTrace(1, "No valid pins found on the filter");
        return KsTraceLeave("CKsAudFilter::EnumeratePins", E_FAIL);
    }
    return KsTraceLeave("CKsAudFilter::EnumeratePins", S_OK);
}

CKsAudCapFilter::CKsAudCapFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName)
    : CKsAudFilter(pszName, hr, pszFriendlyName) {
    KsTraceEnter("CKsAudCapFilter::CKsAudCapFilter()");
    m_FilterType = kFilterTypeCapture;
    KsTraceLeave("CKsAudCapFilter::CKsAudCapFilter", hr);
}
