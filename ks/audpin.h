// The audio pins: CKsAudPin prepares the pin's connect request (a KSPIN_CONNECT followed by a
// KSDATAFORMAT_WAVEFORMATEX), checks the standard interface it streams with (standard streaming,
// or looped streaming for a WaveRT pin) and the standard medium, saves the pin's audio data
// ranges, tests wave formats against them and writes the chosen format into the request.
// CKsAudRenPin and CKsAudCapPin only set their pin type.
//
// Ownership: each saved data range is a malloc'ed copy owned by the pin; the connect block is
// owned through CKsPin::m_pksPinCreate. Threading: none; one thread at a time.
#pragma once

#include "ks/pin.h"
#include "ks/tlist.h"

class CKsAudPin : public CKsPin {
  public:
    // hr: the base status, or the connect block's allocation failure, or the result of Init.
    // nInterface: the KSINTERFACE_STANDARD id the pin must offer and is created with.
    CKsAudPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr,
              ULONG nInterface = KSINTERFACE_STANDARD_STREAMING);
    virtual ~CKsAudPin();

    // Checks the interface and medium and saves the audio data ranges. Called by the constructor.
    HRESULT Init();
    // TRUE when a saved data range covers the format (pwfx not NULL; may head an extensible one).
    BOOL IsFormatSupported(const WAVEFORMATEX* pwfx);
    // Writes the format into the connect request, resizing the block to 128 bytes + the format.
    HRESULT SetFormat(const WAVEFORMATEX* pwfx);

    TList<KSDATARANGE_AUDIO> m_listDataRanges;     // saved audio data ranges; owned copies
    PKSDATAFORMAT_WAVEFORMATEX m_pksDataFormatWfx; // data format inside m_pksPinCreate (byte 64)
};

class CKsAudRenPin : public CKsAudPin {
  public:
    CKsAudRenPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr,
                 ULONG nInterface = KSINTERFACE_STANDARD_STREAMING);
    virtual ~CKsAudRenPin();
};

class CKsAudCapPin : public CKsAudPin {
  public:
    CKsAudCapPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr);
    virtual ~CKsAudCapPin();
};
