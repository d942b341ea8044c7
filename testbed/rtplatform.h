// The simulator's own definitions of the WaveRT platform: the realtime device category, the
// KSPROPSETID_RtAudio ids and the records of the requests and answers, written from the
// platform's documentation. The test bed never includes the product's definitions: a wrong layout
// there must show as a refused request here, not be mirrored. The checks hold the records to the
// documented sizes on each architecture.
#pragma once

#include "testbed/ksplatform_doc.h"

#include <windows.h>

#include <cstddef>

namespace simks {

// KSCATEGORY_REALTIME {EB115FFC-10C8-4964-831D-6DCB02E6F23F}.
const GUID kCategoryRealtime = {
    0xEB115FFC, 0x10C8, 0x4964, {0x83, 0x1D, 0x6D, 0xCB, 0x02, 0xE6, 0xF2, 0x3F}};

// KSPROPSETID_RtAudio ids, in the order of the platform's enumeration.
enum RtAudioId : ULONG {
    kRtBuffer = 1,
    kRtHwLatency = 2,
    kRtPositionRegister = 3,
    kRtBufferWithNotification = 5,
    kRtRegisterEvent = 6,
    kRtUnregisterEvent = 7,
    kRtQueryNotificationSupport = 8,
    kRtPacketCount = 9,
    kRtSetWritePacket = 12,
};

struct RtBufferRequest {
    KsIdentifier Property;
    PVOID BaseAddress;
    ULONG RequestedBufferSize;
};

struct RtBufferNotifyRequest {
    KsIdentifier Property;
    PVOID BaseAddress;
    ULONG RequestedBufferSize;
    ULONG NotificationCount;
};

struct RtBufferAnswer {
    PVOID BufferAddress;
    ULONG ActualBufferSize;
    BOOL CallMemoryBarrier;
};

struct RtEventRequest {
    KsIdentifier Property;
    HANDLE NotificationEvent;
};

struct RtRegisterRequest {
    KsIdentifier Property;
    PVOID BaseAddress;
};

struct RtRegisterAnswer {
    PVOID Register;
    ULONG Width;
    ULONGLONG Numerator;
    ULONGLONG Denominator;
    ULONG Accuracy;
};

struct RtHwLatency {
    ULONG FifoSize;     // bytes
    ULONG ChipsetDelay; // 100 ns units
    ULONG CodecDelay;   // 100 ns units
};

struct RtWritePacket {
    ULONG PacketNumber;
    DWORD Flags; // 0x200: the last packet of the stream
    ULONG EosPacketLength;
};

#ifdef _WIN64
static_assert(sizeof(RtBufferRequest) == 40 && offsetof(RtBufferRequest, RequestedBufferSize) == 32,
              "x86_64");
static_assert(sizeof(RtBufferNotifyRequest) == 40 &&
                  offsetof(RtBufferNotifyRequest, NotificationCount) == 36,
              "x86_64");
static_assert(sizeof(RtBufferAnswer) == 16 && offsetof(RtBufferAnswer, ActualBufferSize) == 8,
              "x86_64");
static_assert(sizeof(RtRegisterAnswer) == 40 && offsetof(RtRegisterAnswer, Accuracy) == 32,
              "x86_64");
#else
static_assert(sizeof(RtBufferRequest) == 32 && offsetof(RtBufferRequest, RequestedBufferSize) == 28,
              "i686");
static_assert(sizeof(RtBufferNotifyRequest) == 40 &&
                  offsetof(RtBufferNotifyRequest, NotificationCount) == 32,
              "i686");
static_assert(sizeof(RtBufferAnswer) == 12 && offsetof(RtBufferAnswer, ActualBufferSize) == 4,
              "i686");
static_assert(sizeof(RtRegisterAnswer) == 32 && offsetof(RtRegisterAnswer, Accuracy) == 24, "i686");
#endif
static_assert(sizeof(RtEventRequest) == 32 && sizeof(RtRegisterRequest) == 32, "both");
static_assert(sizeof(RtHwLatency) == 12 && sizeof(RtWritePacket) == 12, "both");

} // namespace simks
