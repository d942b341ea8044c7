// CKsPin: one pin type (pin factory) of a KS filter and, once instantiated, the pin handle
// created on it. Construction reads the pin's descriptor from the filter; the audio pins build
// the connection request (m_pksPinCreate) and choose the format; Instantiate creates the handle
// with KsCreatePin (bound at run time from ksuser.dll); SetState, WriteData and ClosePin drive it.
//
// Ownership: the pin owns its handle, the connection request and the three descriptor blocks.
// Threading: no lock. WriteData runs on the engine's player thread; SetState and ClosePin come
// from the engine's control operations, which the engine serialises.
#pragma once

#include "ks/irptgt.h"

class CKsFilter;

// Pin types: the value of m_PinType.
enum KsPinType {
    kPinTypePlain = 0,
    kPinTypeRender = 1,  // CKsAudRenPin
    kPinTypeCapture = 2, // CKsAudCapPin
    kPinTypeWaveRt = 3   // CKsRtPin: a render pin that streams over a cyclic buffer
};

// The pin's descriptor as read at construction. The count/pointer pairs point into the owned
// blocks behind their 8-byte KSMULTIPLE_ITEM header; a read that failed, or whose answer does not
// hold the items its Count claims, leaves its count 0 and its pointer NULL.
struct PIN_DESCRIPTOR {
    GUID Category;                     // KSPROPERTY_PIN_CATEGORY
    ULONG cInterfaces;                 // number of KSPIN_INTERFACE items
    PKSPIN_INTERFACE pInterfaces;      // first item, inside pmiInterfaces
    ULONG cMediums;                    // number of KSPIN_MEDIUM items
    PKSPIN_MEDIUM pMediums;            // first item, inside pmiMediums
    ULONG cDataRanges;                 // number of data ranges (each of its own FormatSize)
    PKSDATARANGE pDataRanges;          // first range, inside pmiDataRanges
    KSPIN_DATAFLOW DataFlow;           // 1 IN, 2 OUT; 0 if the read failed
    KSPIN_COMMUNICATION Communication; // 0 NONE .. 4 BRIDGE; 0 if the read failed
    KSPIN_CINSTANCES CInstances;       // instance counts on this filter
    KSPIN_CINSTANCES CInstancesGlobal; // instance counts system-wide
    PKSMULTIPLE_ITEM pmiDataRanges;    // whole KSPROPERTY_PIN_DATARANGES answer; owned
    PKSMULTIPLE_ITEM pmiMediums;       // whole KSPROPERTY_PIN_MEDIUMS answer; owned
    PKSMULTIPLE_ITEM pmiInterfaces;    // whole KSPROPERTY_PIN_INTERFACES answer; owned
    ULONG cbDataRanges;                // size in bytes of the pmiDataRanges block
};

class CKsPin : public CKsIrpTarget {
  public:
    // Reads the descriptor; hr receives S_OK, or S_FALSE when any descriptor read failed.
    CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr);
    virtual ~CKsPin();

    // Creates the pin handle from m_pksPinCreate on the filter's handle (S_OK and no handle when
    // there is no connection request). A failed creation leaves m_handle invalid.
    virtual HRESULT Instantiate(BOOL fLooped);
    // Sets the pin's KSSTATE; m_State follows only on success.
    virtual HRESULT SetState(KSSTATE ksState);

    // Reads the descriptor into m_Descriptor. S_OK, or S_FALSE when any read failed.
    HRESULT Init();
    // Requests KSSTATE_STOP and closes the handle; harmless when there is none.
    void ClosePin();
    // Submits one stream buffer (IOCTL_KS_WRITE_STREAM) without waiting: the caller's OVERLAPPED
    // event signals completion. S_OK when completed or pending, otherwise the platform's error
    // as an HRESULT (HRESULT_FROM_WIN32).
    HRESULT WriteData(PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped);
    // KSPROPERTY_AUDIO_POSITION's PlayOffset: on a pin that takes stream writes, the bytes the
    // device has played of the stream.
    HRESULT GetPlayedBytes(ULONGLONG* pPlayed);
    // IOCTL_KS_RESET_STATE: KSRESET_BEGIN cancels the stream writes the pin holds (they complete
    // as cancelled) and refuses new ones until KSRESET_END.
    HRESULT Reset(KSRESET how);
    HRESULT GetDataFlow(PKSPIN_DATAFLOW pDataFlow);
    HRESULT GetCommunication(PKSPIN_COMMUNICATION pCommunication);

    PKSPIN_CONNECT m_pksPinCreate; // connection request: KSPIN_CONNECT + data format; owned
    ULONG m_cbPinCreate;           // size in bytes of the m_pksPinCreate block
    ULONG m_nId;                   // pin id (pin factory index) on the filter
    CKsFilter* m_pFilter;          // the filter the pin belongs to; not owned
    PIN_DESCRIPTOR m_Descriptor;   // read by Init
    KsPinType m_PinType;           // set by the audio pin constructors
    KSSTATE m_State;               // last state SetState set successfully
    WCHAR m_wszName[MAX_PATH / 2]; // KSPROPERTY_PIN_NAME (260 bytes), always terminated
    BOOL m_bLooped;                // looped flag of the last Instantiate
    CKsPin* m_pLinkPin;            // an instantiated pin to connect to (PinToHandle); NULL
};
