// The audio filters: CKsAudFilter lists a filter's pins as audio pins and keeps only those that
// can stream; CKsAudRenFilter finds a render pin for a wave format and creates it, handing it
// over to the caller; CKsAudCapFilter is the capture flavour and adds only its type.
//
// Ownership: as CKsFilter. CreateRenderPin takes the pin it returns out of m_listPins and
// m_listRenderSinkPins: the caller closes and deletes it. Threading: none; one thread at a time.
#pragma once

#include "ks/audpin.h"
#include "ks/filter.h"

class CKsAudFilter : public CKsFilter {
  public:
    CKsAudFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName);
    virtual ~CKsAudFilter();

    // Creates the streaming pins as audio pins; E_FAIL when none is left, E_OUTOFMEMORY (and no
    // pins) when memory runs out.
    HRESULT EnumeratePins() override;
};

class CKsAudRenFilter : public CKsAudFilter {
  public:
    CKsAudRenFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName);

    // The first render-sink pin whose saved data ranges cover pwfx (not NULL), or NULL.
    CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx);
    // An instantiated render pin with pwfx set, now owned by the caller, or NULL.
    CKsAudPin* CreateRenderPin(const WAVEFORMATEX* pwfx, BOOL fLooped);

    const char* m_pszLastError; // why the last call's first choice failed, or ""
    HRESULT m_hrLastError;      // what the last call failed with (the last pin creation's
                                // error, E_FAIL when no pin could be tried), S_OK on success
};

class CKsAudCapFilter : public CKsAudFilter {
  public:
    CKsAudCapFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName);
};
