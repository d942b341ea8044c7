// The WaveRT part of the KS platform that MinGW-w64's ks.h and ksmedia.h do not define: the
// KSPROPSETID_RtAudio property ids beyond GETPOSITIONFUNCTION, the request and answer records of
// the cyclic buffer, the notification event and the position register (KSCATEGORY_REALTIME,
// declared by ksmedia.h, is stored in ksguids.cpp). Names are the platform's.
// The records are laid out as the platform lays them out on each architecture; the checks below
// hold them to those layouts. A 32-bit process sends the 32-bit records also on 64-bit Windows:
// the driver stack converts them.
#pragma once

#include "ks/ksplatform.h"

#include <cstddef>
#include <cstring>

// KSPROPSETID_RtAudio: ksmedia.h's KSPROPERTY_RTAUDIO enumeration holds only id 0, so the ids used
// here are constants of their own rather than a second enumeration.
const ULONG KSPROPERTY_RTAUDIO_BUFFER = 1;
const ULONG KSPROPERTY_RTAUDIO_HWLATENCY = 2;
const ULONG KSPROPERTY_RTAUDIO_POSITIONREGISTER = 3;
const ULONG KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION = 5;
const ULONG KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT = 6;
const ULONG KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT = 7;
const ULONG KSPROPERTY_RTAUDIO_PACKETCOUNT = 9; // packet mode (Windows 10): GET, a ULONG

// Request of KSPROPERTY_RTAUDIO_BUFFER (GET): the cyclic buffer without notifications.
typedef struct {
    KSPROPERTY Property;
    PVOID BaseAddress;         // NULL: the driver chooses
    ULONG RequestedBufferSize; // in bytes; not binding
} KSRTAUDIO_BUFFER_PROPERTY, *PKSRTAUDIO_BUFFER_PROPERTY;

// Request of KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION (GET).
typedef struct {
    KSPROPERTY Property;
    PVOID BaseAddress;
    ULONG RequestedBufferSize;
    ULONG NotificationCount; // 1: an event at the end of each pass; 2: also at the mid-point
} KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, *PKSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION;

// Answer of both buffer requests.
typedef struct {
    PVOID BufferAddress;    // the buffer in the client's address space; valid until the pin closes
    ULONG ActualBufferSize; // what counts, whatever was requested
    BOOL CallMemoryBarrier; // TRUE for write-combined memory
} KSRTAUDIO_BUFFER, *PKSRTAUDIO_BUFFER;

// Request of KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT and _UNREGISTER_NOTIFICATION_EVENT.
typedef struct {
    KSPROPERTY Property;
    HANDLE NotificationEvent;
} KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY, *PKSRTAUDIO_NOTIFICATION_EVENT_PROPERTY;

// Request of KSPROPERTY_RTAUDIO_POSITIONREGISTER (GET).
typedef struct {
    KSPROPERTY Property;
    PVOID BaseAddress; // NULL: the driver chooses
} KSRTAUDIO_HWREGISTER_PROPERTY, *PKSRTAUDIO_HWREGISTER_PROPERTY;

// Answer of KSPROPERTY_RTAUDIO_POSITIONREGISTER: for a position register only Register, Width
// and Accuracy are filled in.
typedef struct {
    PVOID Register;        // the register mapped into the client's address space
    ULONG Width;           // 32 or 64 bits
    ULONGLONG Numerator;   // clock registers only
    ULONGLONG Denominator; // clock registers only
    ULONG Accuracy;        // in bytes for a position register
} KSRTAUDIO_HWREGISTER, *PKSRTAUDIO_HWREGISTER;

// Answer of KSPROPERTY_RTAUDIO_HWLATENCY (GET, a plain KSPROPERTY): the delays between the
// buffer and the listener.
typedef struct {
    ULONG FifoSize;     // bytes in the hardware FIFO
    ULONG ChipsetDelay; // in 100 ns units
    ULONG CodecDelay;   // in 100 ns units
} KSRTAUDIO_HWLATENCY, *PKSRTAUDIO_HWLATENCY;

// The layouts, i686 first, then x86_64. KSPROPERTY holds a LONGLONG, so every request record is
// 8-byte aligned and padded to a multiple of 8 on both.
#ifdef _WIN64
static_assert(sizeof(KSRTAUDIO_BUFFER_PROPERTY) == 40, "x86_64 buffer request");
static_assert(offsetof(KSRTAUDIO_BUFFER_PROPERTY, RequestedBufferSize) == 32, "x86_64");
static_assert(sizeof(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION) == 40, "x86_64");
static_assert(offsetof(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, NotificationCount) == 36,
              "x86_64");
static_assert(sizeof(KSRTAUDIO_BUFFER) == 16, "x86_64 buffer answer");
static_assert(offsetof(KSRTAUDIO_BUFFER, ActualBufferSize) == 8, "x86_64");
static_assert(offsetof(KSRTAUDIO_BUFFER, CallMemoryBarrier) == 12, "x86_64");
static_assert(sizeof(KSRTAUDIO_HWREGISTER) == 40, "x86_64 register answer");
static_assert(offsetof(KSRTAUDIO_HWREGISTER, Width) == 8, "x86_64");
static_assert(offsetof(KSRTAUDIO_HWREGISTER, Numerator) == 16, "x86_64");
static_assert(offsetof(KSRTAUDIO_HWREGISTER, Accuracy) == 32, "x86_64");
#else
static_assert(sizeof(KSRTAUDIO_BUFFER_PROPERTY) == 32, "i686 buffer request");
static_assert(offsetof(KSRTAUDIO_BUFFER_PROPERTY, RequestedBufferSize) == 28, "i686");
static_assert(sizeof(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION) == 40, "i686: 36 padded");
static_assert(offsetof(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, NotificationCount) == 32,
              "i686");
static_assert(sizeof(KSRTAUDIO_BUFFER) == 12, "i686 buffer answer");
static_assert(offsetof(KSRTAUDIO_BUFFER, ActualBufferSize) == 4, "i686");
static_assert(offsetof(KSRTAUDIO_BUFFER, CallMemoryBarrier) == 8, "i686");
static_assert(sizeof(KSRTAUDIO_HWREGISTER) == 32, "i686 register answer");
static_assert(offsetof(KSRTAUDIO_HWREGISTER, Width) == 4, "i686");
static_assert(offsetof(KSRTAUDIO_HWREGISTER, Numerator) == 8, "i686");
static_assert(offsetof(KSRTAUDIO_HWREGISTER, Accuracy) == 24, "i686");
#endif
static_assert(sizeof(KSPROPERTY) == 24 && alignof(KSPROPERTY) == 8, "KSPROPERTY: 24 bytes");
static_assert(offsetof(KSRTAUDIO_BUFFER_PROPERTY, BaseAddress) == 24, "both architectures");
static_assert(sizeof(KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY) == 32, "both architectures");
static_assert(offsetof(KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY, NotificationEvent) == 24, "both");
static_assert(sizeof(KSRTAUDIO_HWREGISTER_PROPERTY) == 32, "both architectures");
static_assert(sizeof(KSAUDIO_POSITION) == 16, "ksmedia.h's position record");
static_assert(sizeof(KSRTAUDIO_HWLATENCY) == 12, "both architectures");

// The request block of any property of the RtAudio set: the record cleared, then the set, the id
// and GET (the notification event requests go as GET too, as clients of WaveRT drivers send
// them). The caller fills in the record's own fields.
template <typename TRequest> TRequest RtRequest(ULONG nProperty) {
    TRequest request;
    memset(&request, 0, sizeof request);
    request.Property.Set = KSPROPSETID_RtAudio;
    request.Property.Id = nProperty;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    return request;
}
