// The simulator's own definitions of the KS platform a render driver answers on: the GUIDs, the
// I/O control codes, the property ids and flags, and the records of the requests and answers,
// written from the platform's documentation (the WaveRT part is in rtplatform.h). The test bed
// never includes ks.h, ksmedia.h or the product's definitions and links no GUID library: a wrong
// number on the client's side must show as a refused request here, not be mirrored. Names are the
// bed's own, so that a client's file can include both these and the platform's headers. The
// checks at the end hold the records to the documented sizes on each architecture.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstddef>

namespace simks {

// GUID_NULL: the wildcard of a data range's GUIDs, and a category a pin does not name.
const GUID kGuidNull = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};

// Property sets.
// KSPROPSETID_Pin {8C134960-51AD-11CF-878A-94F801C10000}
const GUID kSetPin = {0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
// KSPROPSETID_Topology {720D4AC0-7533-11D0-A5D6-28DB04C10000}
const GUID kSetTopology = {
    0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// KSPROPSETID_Connection {1D58C920-AC9B-11CF-A5D6-28DB04C10000}
const GUID kSetConnection = {
    0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// KSPROPSETID_Audio {45FFAAA0-6E1B-11D0-BCF2-444553540000}
const GUID kSetAudio = {
    0x45FFAAA0, 0x6E1B, 0x11D0, {0xBC, 0xF2, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// KSPROPSETID_RtAudio {A855A48C-2F78-4729-9051-1968746B9EEF}
const GUID kSetRtAudio = {
    0xA855A48C, 0x2F78, 0x4729, {0x90, 0x51, 0x19, 0x68, 0x74, 0x6B, 0x9E, 0xEF}};

// Device-interface categories (KSCATEGORY_REALTIME is in rtplatform.h).
// KSCATEGORY_AUDIO {6994AD04-93EF-11D0-A3CC-00A0C9223196}
const GUID kCategoryAudio = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// KSCATEGORY_RENDER {65E8773E-8F56-11D0-A3B9-00A0C9223196}
const GUID kCategoryRender = {
    0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// KSCATEGORY_CAPTURE {65E8773D-8F56-11D0-A3B9-00A0C9223196}
const GUID kCategoryCapture = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// KSCATEGORY_TOPOLOGY {DDA54A40-1E4C-11D1-A050-405705C10000}
const GUID kCategoryTopology = {
    0xDDA54A40, 0x1E4C, 0x11D1, {0xA0, 0x50, 0x40, 0x57, 0x05, 0xC1, 0x00, 0x00}};

// Data formats.
// KSDATAFORMAT_TYPE_AUDIO {73647561-0000-0010-8000-00AA00389B71}
const GUID kFormatAudio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// KSDATAFORMAT_SUBTYPE_PCM {00000001-0000-0010-8000-00AA00389B71}
const GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// KSDATAFORMAT_SUBTYPE_WAVEFORMATEX {00000000-0000-0010-8000-00AA00389B71}: Data1 is the tag
const GUID kSubtypeWaveFormatEx = {
    0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// KSDATAFORMAT_SPECIFIER_WAVEFORMATEX {05589F81-C356-11CE-BF01-00AA0055595A}
const GUID kSpecifierWaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// Pin interfaces and mediums.
// KSINTERFACESETID_Standard {1A8766A0-62CE-11CF-A5D6-28DB04C10000}
const GUID kInterfaceSetStandard = {
    0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// KSMEDIUMSETID_Standard {4747B320-62CE-11CF-A5D6-28DB04C10000}
const GUID kMediumSetStandard = {
    0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// Node types.
// KSNODETYPE_DAC {507AE360-C554-11D0-8A2B-00A0C9255AC1}
const GUID kNodeDac = {
    0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// KSNODETYPE_VOLUME {3A5ACC00-C557-11D0-8A2B-00A0C9255AC1}
const GUID kNodeVolume = {
    0x3A5ACC00, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// KSNODETYPE_MUTE {02B223C0-C557-11D0-8A2B-00A0C9255AC1}
const GUID kNodeMute = {
    0x02B223C0, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// KSNODETYPE_SPEAKER {DFF21CE1-F70F-11D0-B917-00A0C9223196}
const GUID kNodeSpeaker = {
    0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// KSNODETYPE_MICROPHONE {DFF21BE1-F70F-11D0-B917-00A0C9223196}
const GUID kNodeMicrophone = {
    0xDFF21BE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// I/O control codes: CTL_CODE(FILE_DEVICE_KS 0x2F, function, METHOD_NEITHER 3, access).
constexpr DWORD KsControlCode(DWORD function, DWORD access) {
    return (0x2Fu << 16) | (access << 14) | (function << 2) | 3u;
}
const DWORD kIoctlProperty = KsControlCode(0, 0);    // IOCTL_KS_PROPERTY, FILE_ANY_ACCESS
const DWORD kIoctlWriteStream = KsControlCode(4, 2); // IOCTL_KS_WRITE_STREAM, FILE_WRITE_ACCESS
const DWORD kIoctlResetState = KsControlCode(6, 0);  // IOCTL_KS_RESET_STATE, FILE_ANY_ACCESS
static_assert(kIoctlProperty == 0x002F0003 && kIoctlWriteStream == 0x002F8013 &&
                  kIoctlResetState == 0x002F001B,
              "KS I/O codes");
// KSRESET, the input of IOCTL_KS_RESET_STATE: the reset begins (queued writes cancelled, new ones
// refused) or ends.
const ULONG kResetBegin = 0;
const ULONG kResetEnd = 1;

// KSPROPERTY_TYPE_* flags of a request.
const ULONG kPropGet = 0x00000001;
const ULONG kPropSet = 0x00000002;
const ULONG kPropBasicSupport = 0x00000200;
const ULONG kPropTopology = 0x10000000;

// Property ids: KSPROPERTY_PIN_*, KSPROPERTY_TOPOLOGY_*, KSPROPERTY_CONNECTION_STATE and the
// KSPROPERTY_AUDIO_* ones the bed answers.
enum PinPropertyId : ULONG {
    kPinCInstances = 0,
    kPinCTypes = 1,
    kPinDataFlow = 2,
    kPinDataRanges = 3,
    kPinInterfaces = 5,
    kPinMediums = 6,
    kPinCommunication = 7,
    kPinGlobalCInstances = 8,
    kPinPhysicalConnection = 10,
    kPinCategory = 11,
    kPinName = 12,
};
enum TopologyPropertyId : ULONG {
    kTopologyCategories = 0,
    kTopologyNodes = 1,
    kTopologyConnections = 2
};
const ULONG kConnectionState = 0;
enum AudioPropertyId : ULONG { kAudioVolumeLevel = 4, kAudioPosition = 5, kAudioMute = 13 };

// KSSTATE.
enum KsState : ULONG { kStateStop = 0, kStateAcquire = 1, kStatePause = 2, kStateRun = 3 };

// KSPIN_DATAFLOW and KSPIN_COMMUNICATION.
const ULONG kDataFlowIn = 1;
const ULONG kDataFlowOut = 2;
const ULONG kCommunicationNone = 0;
const ULONG kCommunicationSink = 1;
const ULONG kCommunicationBoth = 3;
const ULONG kCommunicationBridge = 4;

const ULONG kInterfaceStreaming = 0;         // KSINTERFACE_STANDARD_STREAMING
const ULONG kInterfaceLoopedStreaming = 1;   // KSINTERFACE_STANDARD_LOOPED_STREAMING
const ULONG kMediumAnyInstance = 0;          // KSMEDIUM_TYPE_ANYINSTANCE
const ULONG kPriorityNormal = 0x40000000;    // KSPRIORITY_NORMAL
const ULONG kFilterNode = 0xFFFFFFFF;        // KSFILTER_NODE: a pin of the filter itself
const ULONG kRangeAttributes = 0x00000002;   // KSDATARANGE_ATTRIBUTES: an attribute list follows
const ULONG kHeaderEndOfStream = 0x00000200; // KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM
const ULONG kMemberSteppedRanges = 2;        // KSPROPERTY_MEMBER_STEPPEDRANGES
const ULONG kMemberMultichannel = 2;         // KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL

// KSIDENTIFIER, and so KSPROPERTY, KSPIN_INTERFACE and KSPIN_MEDIUM: a LONGLONG in its union
// aligns it to 8 bytes on both architectures.
struct alignas(8) KsIdentifier {
    GUID Set;
    ULONG Id;
    ULONG Flags;
};

struct KsPinProperty { // KSP_PIN
    KsIdentifier Property;
    ULONG PinId;
    ULONG Reserved;
};

struct KsNodeProperty { // KSNODEPROPERTY
    KsIdentifier Property;
    ULONG NodeId;
    ULONG Reserved;
};

struct KsNodeChannelProperty { // KSNODEPROPERTY_AUDIO_CHANNEL
    KsNodeProperty NodeProperty;
    LONG Channel;
    ULONG Reserved;
};

struct KsMultipleItem { // KSMULTIPLE_ITEM
    ULONG Size;
    ULONG Count;
};

struct KsPinCInstances { // KSPIN_CINSTANCES
    ULONG PossibleCount;
    ULONG CurrentCount;
};

struct KsTopologyConnection { // KSTOPOLOGY_CONNECTION
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
};

struct KsPinPhysicalConnection { // KSPIN_PHYSICALCONNECTION
    ULONG Size;
    ULONG Pin;
    WCHAR SymbolicLinkName[1];
};

// KSDATAFORMAT, and KSDATARANGE: as declared, a union with a LONGLONG, which aligns it to 8 bytes
// but for where a byte-packed record holds it.
struct KsDataFormat {
    union {
        struct {
            ULONG FormatSize;
            ULONG Flags;
            ULONG SampleSize;
            ULONG Reserved;
            GUID MajorFormat;
            GUID SubFormat;
            GUID Specifier;
        };
        LONGLONG Alignment;
    };
};

struct KsDataRangeAudio { // KSDATARANGE_AUDIO
    KsDataFormat DataRange;
    ULONG MaximumChannels;
    ULONG MinimumBitsPerSample;
    ULONG MaximumBitsPerSample;
    ULONG MinimumSampleFrequency;
    ULONG MaximumSampleFrequency;
};

// KSDATAFORMAT_WAVEFORMATEX is declared byte-packed, as WAVEFORMATEX is: 82 bytes.
#pragma pack(push, 1)
struct KsDataFormatWave {
    KsDataFormat DataFormat;
    WAVEFORMATEX WaveFormatEx;
};
#pragma pack(pop)

struct alignas(8) KsAttribute { // KSATTRIBUTE
    ULONG Size;
    ULONG Flags;
    GUID Attribute;
};

struct KsPriority { // KSPRIORITY
    ULONG PriorityClass;
    ULONG PrioritySubClass;
};

struct KsPinConnect { // KSPIN_CONNECT; the data format follows it
    KsIdentifier Interface;
    KsIdentifier Medium;
    ULONG PinId;
    HANDLE PinToHandle;
    KsPriority Priority;
};

struct KsTime { // KSTIME
    LONGLONG Time;
    ULONG Numerator;
    ULONG Denominator;
};

struct KsStreamHeader { // KSSTREAM_HEADER
    ULONG Size;
    ULONG TypeSpecificFlags;
    KsTime PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;
    ULONG DataUsed;
    PVOID Data;
    ULONG OptionsFlags;
#ifdef _WIN64
    ULONG Reserved;
#endif
};

struct KsPropertyDescription { // KSPROPERTY_DESCRIPTION
    ULONG AccessFlags;
    ULONG DescriptionSize;
    KsIdentifier PropTypeSet;
    ULONG MembersListCount;
    ULONG Reserved;
};

struct KsMembersHeader { // KSPROPERTY_MEMBERSHEADER
    ULONG MembersFlags;
    ULONG MembersSize;
    ULONG MembersCount;
    ULONG Flags;
};

struct KsBoundsLong { // KSPROPERTY_BOUNDS_LONG, the signed form of its union
    LONG SignedMinimum;
    LONG SignedMaximum;
};

struct KsSteppingLong { // KSPROPERTY_STEPPING_LONG
    ULONG SteppingDelta;
    ULONG Reserved;
    KsBoundsLong Bounds;
};

struct KsAudioPosition { // KSAUDIO_POSITION
    ULONGLONG PlayOffset;
    ULONGLONG WriteOffset;
};

// The layouts, as the documentation's records lay them out: the same on both architectures but
// for the ones holding a pointer or a handle.
static_assert(sizeof(KsIdentifier) == 24 && sizeof(KsPinProperty) == 32, "KSPROPERTY, KSP_PIN");
static_assert(sizeof(KsNodeProperty) == 32 && sizeof(KsNodeChannelProperty) == 40, "node requests");
static_assert(offsetof(KsNodeChannelProperty, Channel) == 32, "KSNODEPROPERTY_AUDIO_CHANNEL");
static_assert(sizeof(KsMultipleItem) == 8 && sizeof(KsTopologyConnection) == 16, "lists");
static_assert(offsetof(KsPinPhysicalConnection, SymbolicLinkName) == 8, "physical connection");
static_assert(sizeof(KsDataFormat) == 64 && offsetof(KsDataFormat, MajorFormat) == 16, "format");
static_assert(sizeof(KsDataRangeAudio) == 88, "KSDATARANGE_AUDIO: 84 padded to 8");
static_assert(offsetof(KsDataRangeAudio, MaximumSampleFrequency) == 80, "KSDATARANGE_AUDIO");
static_assert(sizeof(WAVEFORMATEX) == 18 && sizeof(KsDataFormatWave) == 82, "packed");
static_assert(sizeof(KsAttribute) == 24, "KSATTRIBUTE");
static_assert(sizeof(KsPropertyDescription) == 40 && sizeof(KsMembersHeader) == 16, "support");
static_assert(sizeof(KsSteppingLong) == 16 && sizeof(KsAudioPosition) == 16, "support, position");
static_assert(offsetof(KsPinConnect, PinId) == 48, "KSPIN_CONNECT");
#ifdef _WIN64
static_assert(sizeof(KsPinConnect) == 72 && offsetof(KsPinConnect, Priority) == 64, "x86_64");
static_assert(sizeof(KsStreamHeader) == 56 && offsetof(KsStreamHeader, Data) == 40, "x86_64");
static_assert(offsetof(KsStreamHeader, OptionsFlags) == 48, "x86_64");
#else
static_assert(sizeof(KsPinConnect) == 64 && offsetof(KsPinConnect, Priority) == 56, "i686");
static_assert(sizeof(KsStreamHeader) == 48 && offsetof(KsStreamHeader, Data) == 40, "i686");
static_assert(offsetof(KsStreamHeader, OptionsFlags) == 44, "i686");
#endif

} // namespace simks
