// CKsFilter: one KS filter (a device interface of a KS driver, known by its device path). It
// opens the device, creates one CKsPin per pin type the filter reports, sorts the pins by data
// flow and communication, and can read the filter's topology nodes into CKsNode records.
//
// Ownership: the filter owns its handle, every pin in m_listPins and every node in m_listNodes;
// the five classification lists only refer to pins of m_listPins (a pin of communication BOTH
// stands in two of them). A pin taken out of m_listPins (CKsAudRenFilter::CreateRenderPin) is
// no longer the filter's. Threading: none; the owner serialises every call.
#pragma once

#include "ks/irptgt.h"
#include "ks/tlist.h"

class CKsPin;

// Filter types: the value of m_FilterType and the filter-type argument of the enumeration.
enum KsFilterType {
    kFilterTypeUnknown = 0,
    kFilterTypeRender = 1, // CKsAudRenFilter
    kFilterTypeCapture = 2 // CKsAudCapFilter
};

// Display names of the filter types, indexed by KsFilterType.
extern const char* const g_aszFilterTypeNames[3];

// One topology node of a filter.
class CKsNode {
  public:
    CKsNode(ULONG nId, REFGUID guidType, HRESULT& hr);

    ULONG m_nId;     // index of the node in the filter's node answer
    DWORD m_dwTag;   // the bytes 'N','O','N','E' in memory order
    GUID m_guidType; // the node type, from KSPROPERTY_TOPOLOGY_NODES
};

class CKsFilter : public CKsIrpTarget {
  public:
    // pszName: the device path (NULL, or 260 bytes and longer, gives E_INVALIDARG through hr).
    // pszFriendlyName: the display name, not NULL; cut to 259 characters if longer.
    CKsFilter(LPCSTR pszName, HRESULT& hr, LPCSTR pszFriendlyName);
    virtual ~CKsFilter();

    // Opens m_szFilterName for overlapped I/O. Expects a closed filter. A device that cannot be
    // opened gives CreateFileA's error as an HRESULT.
    virtual HRESULT Instantiate();
    // Reads the topology nodes into m_listNodes, replacing any earlier ones.
    virtual HRESULT EnumerateNodes();
    // Creates a pin object per pin type and classifies them; E_FAIL when no pin is classified.
    virtual HRESULT EnumeratePins();
    // Deletes every node and pin the filter owns and empties all seven lists. Always S_OK.
    virtual HRESULT DestroyLists();

    // A pin-addressed property read into a buffer of known size (a KSP_PIN request). A shorter
    // answer leaves the rest of the buffer as it was.
    HRESULT GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                 PVOID pvValue, ULONG cbValue);
    // A pin-addressed property read of unknown size: a malloc'ed block with a KSMULTIPLE_ITEM
    // header, owned by the caller from the moment it is stored in *ppKsMultipleItem, also when
    // the read then fails. An answer too short for the header (0 included) fails with E_FAIL and
    // stores no block. *pcbBlock (optional) receives the block's size in bytes.
    HRESULT GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbBlock = NULL);
    // Sorts the pins of m_listPins into the five classification lists (appends only).
    HRESULT ClassifyPins();

    char m_szFriendlyName[MAX_PATH];       // display name of the device
    TList<CKsNode> m_listNodes;            // topology nodes; owned
    TList<CKsPin> m_listPins;              // every pin created by EnumeratePins; owned
    TList<CKsPin> m_listRenderSinkPins;    // data flow IN, communication SINK or BOTH
    TList<CKsPin> m_listCaptureSourcePins; // data flow OUT, communication SOURCE or BOTH
    TList<CKsPin> m_listCaptureSinkPins;   // data flow OUT, communication SINK or BOTH
    TList<CKsPin> m_listRenderSourcePins;  // data flow IN, communication SOURCE or BOTH
    TList<CKsPin> m_listNoCommPins;        // communication NONE, either data flow
    KsFilterType m_FilterType;             // set by the audio subclasses
    char m_szFilterName[MAX_PATH];         // the device path Instantiate opens; always terminated
    BOOL m_bRealtime; // registered in KSCATEGORY_REALTIME (WaveRT); set by the enumerator
    // Bytes each packet of a cyclic buffer starts on a multiple of, as the device publishes it in
    // its packet-size constraints; 0 where it publishes none. Set by the enumerator.
    ULONG m_cbPacketAlign;

  private:
    HRESULT InternalInit();
};
