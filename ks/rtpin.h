// CKsRtPin: a WaveRT render pin. Such a pin offers looped streaming and not standard streaming,
// on a filter registered in KSCATEGORY_REALTIME; it takes no stream writes: the hardware reads a
// cyclic buffer by DMA. The class creates the pin with the looped-streaming interface and offers
// one thin wrapper per driver request: the cyclic buffer with and without notifications, the
// notification event, the position register and the audio position property. Its state changes
// go one step at a time (STOP, ACQUIRE, PAUSE, RUN and back).
//
// Overview of operation (a careful client's order): construct (the audio filter does, for a pin
// that IsWaveRtPin recognises); SetFormat; Instantiate; GetBufferWithNotification and
// RegisterNotificationEvent, or GetBuffer alone; GetPositionRegister where the position is polled
// (GetAudioPosition where there is no register); fill the buffer; SetState(KSSTATE_RUN) ...
// SetState(KSSTATE_STOP), which unregisters the event once the pin has stopped; ClosePin; delete.
// A pin has one buffer, one event and one register mapping per instantiation: the wrappers refuse
// a second one (HRESULT_FROM_WIN32(ERROR_INVALID_STATE)) without asking the driver, as they refuse
// an event before a buffer with notifications and an unregistration outside STOP.
//
// Where the platform's documentation is silent, the pin does what a careful client does: it is
// created like a standard-streaming pin but for Interface.Id (Flags 0, the standard any-instance
// medium, normal priority); the notification event requests go as GET with no value; the event
// is unregistered after STOP and before the handle closes, on every way of closing; a position
// register must be 32 or 64 bits wide and is read as 32-bit loads; halves must be whole frames;
// a 32-bit process sends its own 32-bit records (the 64-bit driver stack converts them).
//
// Ownership: as CKsAudRenPin. The cyclic buffer and the register belong to the driver: they are
// valid from the answer that hands them out until the pin handle closes (ClosePin, a new
// Instantiate, the destructor). The notification event is the caller's: the pin only remembers it
// to unregister it, so the caller keeps it open until the pin has stopped or closed.
// Threading: no lock. The engine serialises the control requests; ReadPositionRegister and
// GetAudioPosition may run on the player thread and, for the stream's time, on a host thread.
#pragma once

#include "ks/audpin.h"
#include "ks/wavert.h"

class CKsRtPin : public CKsAudRenPin {
  public:
    // hr: as CKsAudPin, with the looped-streaming interface in place of standard streaming.
    CKsRtPin(CKsFilter* pFilter, ULONG nId, HRESULT& hr);
    // Steps the pin down to STOP, unregisters the event and closes the handle.
    virtual ~CKsRtPin();

    // TRUE when pin nId of pFilter offers looped streaming and not standard streaming.
    static BOOL IsWaveRtPin(CKsFilter* pFilter, ULONG nId);
    // pPin as a WaveRT pin, or NULL for any other pin (NULL included).
    static CKsRtPin* FromPin(CKsPin* pPin);

    // Creates the pin with the looped-streaming interface, whatever fLooped says. A new handle
    // starts in STOP with no buffer, event or register.
    HRESULT Instantiate(BOOL fLooped) override;
    // Moves the pin to ksState one state at a time, one request per step, stopping at the first
    // step that fails (m_State is then the last state reached). Once the pin is in STOP, a
    // registered event is unregistered (its result is returned).
    HRESULT SetState(KSSTATE ksState) override;

    // KSPROPERTY_PIN_CINSTANCES of this pin type, read now: CurrentCount reaching PossibleCount
    // means that another client holds the pin.
    HRESULT GetInstances(PKSPIN_CINSTANCES pInstances);

    // KSPROPERTY_RTAUDIO_BUFFER: the cyclic buffer without notifications. *pBuffer receives the
    // driver's answer whenever there is one. An answer that cannot be played (no address, 0
    // bytes, halves that are not whole frames of the pin's format) fails with
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA); the pin keeps it, so it is not asked again.
    HRESULT GetBuffer(ULONG cbRequested, PKSRTAUDIO_BUFFER pBuffer);
    // KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION with nNotifications per pass (1 or 2, else
    // E_INVALIDARG); the answer as for GetBuffer.
    HRESULT GetBufferWithNotification(ULONG cbRequested, ULONG nNotifications,
                                      PKSRTAUDIO_BUFFER pBuffer);
    // KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT: hEvent is signalled at each notification
    // while the pin runs. Needs a buffer with notifications and no event registered yet.
    HRESULT RegisterNotificationEvent(HANDLE hEvent);
    // KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT for the registered event, in STOP only.
    // S_FALSE when no event is registered.
    HRESULT UnregisterNotificationEvent();

    // KSPROPERTY_RTAUDIO_POSITIONREGISTER: maps the position register (once per instantiation;
    // later calls return the mapping without a request). A register that cannot be read (no
    // address, a width other than 32 or 64 bits, misaligned) fails with
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
    HRESULT GetPositionRegister(PKSRTAUDIO_HWREGISTER pRegister);
    // Reads the mapped register: the byte offset of the play position in the buffer.
    HRESULT ReadPositionRegister(PULONG pulOffset);
    // KSPROPERTY_AUDIO_POSITION: the play offset in the buffer, by a request to the driver.
    HRESULT GetAudioPosition(PULONG pulOffset);
    // KSPROPERTY_RTAUDIO_HWLATENCY: the FIFO and the chipset and codec delays, after the buffer.
    HRESULT GetHwLatency(PKSRTAUDIO_HWLATENCY pLatency);
    // KSPROPERTY_RTAUDIO_PACKETCOUNT: the packets the hardware has taken, after the buffer. A
    // driver that answers it offers packet mode.
    HRESULT GetPacketCount(PULONG pulCount);
    // The two position reads need a usable buffer (else ERROR_INVALID_STATE). An offset equal to
    // the buffer size is the end of a pass and reads as 0; one beyond it is never handed out:
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA), *pulOffset untouched.

    KSRTAUDIO_BUFFER m_Buffer;               // the driver's buffer answer; zero until one came
    BOOL m_bHaveBuffer;                      // a buffer request was answered (usable or not)
    ULONG m_cbHalf;                          // bytes per half of a usable buffer; 0 otherwise
    ULONG m_nNotifications;                  // 0 polled, 1 or 2 per pass: as the buffer asked
    HANDLE m_hNotificationEvent;             // the registered event; not owned; NULL when none
    KSRTAUDIO_HWREGISTER m_PositionRegister; // the register answer; zero until one came
    BOOL m_bHaveRegister;                    // a register request was answered (usable or not)

  private:
    // Refusal of a request made out of order: the driver is not asked.
    static HRESULT OutOfOrder(const char* pszWhy);
    // Drops what belonged to the previous pin handle.
    void ForgetStream();
    HRESULT TakeBuffer(PVOID pRequest, ULONG cbRequest, ULONG nNotifications,
                       PKSRTAUDIO_BUFFER pBuffer);
    HRESULT CheckOffset(ULONGLONG ullOffset, PULONG pulOffset);
    HRESULT GetPlain(REFGUID set, ULONG nId, PVOID pValue, ULONG cbValue, const char* pszName);
};
