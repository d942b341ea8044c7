// CKsAudRenFilter: finding, creating and handing over a render pin for a wave format.
#include "ks/audfilter.h"

#include "ks/kstrace.h"

#include <cassert>

CKsAudRenFilter::CKsAudRenFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName)
    : CKsAudFilter(pszName, hr, pszFriendlyName), m_pszLastError(""), m_hrLastError(S_OK) {
    KsTraceEnter("CKsAudRenFilter::CKsAudRenFilter()");
    m_FilterType = kFilterTypeRender;
    KsTraceLeave("CKsAudRenFilter::CKsAudRenFilter", hr);
}

CKsAudPin* CKsAudRenFilter::FindViablePin(const WAVEFORMATEX* pwfx) {
    KsTraceEnter("CKsAudRenFilter::FindViablePin()");
    assert(pwfx);
    CKsAudPin* pFound = NULL;
    for (TListNode<CKsPin>* pNode = m_listRenderSinkPins.m_pHead; pNode && !pFound;
         pNode = pNode->pNext) {
        // Every pin of an audio filter is an audio pin.
        CKsAudPin* pPin = static_cast<CKsAudPin*>(pNode->pData);
        if (pPin->IsFormatSupported(pwfx))
            pFound = pPin;
    }
    KsTraceLeave("CKsAudRenFilter::FindViablePin()");
    return pFound;
}

// Sets the format on pPin and creates it; the HRESULT of the step that failed, or S_OK.
static HRESULT SetFormatAndInstantiate(CKsAudPin* pPin, const WAVEFORMATEX* pwfx, BOOL fLooped,
                                       const char** ppszFailure) {
    HRESULT hr = pPin->SetFormat(pwfx);
    if (FAILED(hr)) {
        *ppszFailure = "Failed to set Render Pin format - the pin lied about its supported formats";
        return hr;
    }
    hr = pPin->Instantiate(fLooped);
    if (FAILED(hr))
        *ppszFailure = "Failed to instantiate Render Pin";
    return hr;
}

// Removes the entry for pPin from list, if it has one. Returns TRUE when it had.
static BOOL RemoveFromList(TList<CKsPin>& list, CKsPin* pPin) {
    for (TListNode<CKsPin>* pNode = list.m_pHead; pNode; pNode = pNode->pNext) {
        if (pNode->pData == pPin) {
            list.Remove(pNode);
            return TRUE;
        }
    }
    return FALSE;
}

/*----------------------------------------------------------------------------------------------
 * CreateRenderPin: the first choice is the first render-sink pin whose data ranges cover pwfx;
 * if it cannot be set up, every render-sink pin is tried in order with SetFormat and Instantiate.
 * The pin chosen leaves the filter's lists and belongs to the caller from then on.
 *--------------------------------------------------------------------------------------------*/
CKsAudPin* CKsAudRenFilter::CreateRenderPin(const WAVEFORMATEX* pwfx, BOOL fLooped) {
    KsTraceEnter("CKsAudRenFilter::CreateRenderPin()");
    m_pszLastError = "";
    HRESULT hr = E_FAIL;
    CKsAudPin* pPin = FindViablePin(pwfx);
    if (!pPin)
        m_pszLastError = "Could not find a Render pin that supports the given wave format";
    else
        hr = SetFormatAndInstantiate(pPin, pwfx, fLooped, &m_pszLastError);
    if (SUCCEEDED(hr)) {
        DebugTrace(5, "Successfully instantiated Render Pin.  Handle = 0x%08x",
                   (unsigned)(ULONG_PTR)pPin->GetHandle());
    } else {
        pPin = NULL;
        for (TListNode<CKsPin>* pNode = m_listRenderSinkPins.m_pHead; pNode && !pPin;
             pNode = pNode->pNext) {
            const char* pszIgnored;
            CKsAudPin* pCandidate = static_cast<CKsAudPin*>(pNode->pData);
            hr = SetFormatAndInstantiate(pCandidate, pwfx, fLooped, &pszIgnored);
            if (SUCCEEDED(hr))
                pPin = pCandidate;
        }
    }
    m_hrLastError = pPin ? S_OK : FAILED(hr) ? hr : E_FAIL;
    if (!pPin) {
        KsTraceLeave("CKsAudRenFilter::CreateRenderPin", m_hrLastError);
        return NULL;
    }

    BOOL listPosPinNode = RemoveFromList(m_listPins, pPin);
    assert(listPosPinNode);
    RemoveFromList(m_listRenderSinkPins, pPin);
    // A pin of communication BOTH also stands in m_listRenderSourcePins: the filter keeps no
    // reference to a pin it no longer owns.
    RemoveFromList(m_listRenderSourcePins, pPin);
    KsTraceLeave("CKsAudRenFilter::CreateRenderPin", S_OK);
    return pPin;
}
