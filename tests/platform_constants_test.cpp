// The KS platform's numbers the plug-in sends and reads, held to the values of Microsoft's
// documentation typed here once more, and to the test bed's own set (testbed/ksplatform_doc.h,
// testbed/rtplatform.h) that answers for the simulated devices. The compiler checks the control
// codes, the ids and the layouts of both architectures; the GUIDs the plug-in links are compared
// when the test runs. Each group names the Microsoft Learn page its values come from.
#include "ks/ksplatform.h"
#include "ks/wavert.h"
#include "testbed/ksplatform_doc.h"
#include "testbed/rtplatform.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace {

std::string Text(const GUID& g) {
    char s[40];
    snprintf(s, sizeof s, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
             (unsigned long)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
             g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return s;
}

// Every KS GUID the plug-in names: the value it links (ks/ksguids.cpp), the test bed's, and the
// documented one. Pages: Microsoft Learn, under the GUID's own name (e.g. 'KSPROPSETID_Topology',
// 'KSCATEGORY_REALTIME', 'KSNODETYPE_VOLUME', 'KSINTERFACESETID_Standard'); the data format GUIDs
// from 'KSDATAFORMAT_WAVEFORMATEX structure' and 'Multiple Channel Audio Data and WAVE Files'.
TEST(PlatformConstants, EveryGuidThePlugInLinksIsTheDocumentedOneAndTheBeds) {
    struct {
        const char* name;
        const GUID& linked;
        const GUID& bed;
        const char* documented;
    } rows[] = {
        {"KSPROPSETID_Pin", KSPROPSETID_Pin, simks::kSetPin,
         "8C134960-51AD-11CF-878A-94F801C10000"},
        // MinGW-w64's libksguid holds 45FFAAA1-6E1B-11D0-BCF2-444553540000,
        // KSPROPSETID_TopologyNode.
        {"KSPROPSETID_Topology", KSPROPSETID_Topology, simks::kSetTopology,
         "720D4AC0-7533-11D0-A5D6-28DB04C10000"},
        {"KSPROPSETID_Connection", KSPROPSETID_Connection, simks::kSetConnection,
         "1D58C920-AC9B-11CF-A5D6-28DB04C10000"},
        {"KSPROPSETID_Audio", KSPROPSETID_Audio, simks::kSetAudio,
         "45FFAAA0-6E1B-11D0-BCF2-444553540000"},
        {"KSPROPSETID_RtAudio", KSPROPSETID_RtAudio, simks::kSetRtAudio,
         "A855A48C-2F78-4729-9051-1968746B9EEF"},
        {"KSCATEGORY_AUDIO", KSCATEGORY_AUDIO, simks::kCategoryAudio,
         "6994AD04-93EF-11D0-A3CC-00A0C9223196"},
        {"KSCATEGORY_RENDER", KSCATEGORY_RENDER, simks::kCategoryRender,
         "65E8773E-8F56-11D0-A3B9-00A0C9223196"},
        {"KSCATEGORY_REALTIME", KSCATEGORY_REALTIME, simks::kCategoryRealtime,
         "EB115FFC-10C8-4964-831D-6DCB02E6F23F"},
        {"KSDATAFORMAT_TYPE_AUDIO", KSDATAFORMAT_TYPE_AUDIO, simks::kFormatAudio,
         "73647561-0000-0010-8000-00AA00389B71"},
        {"KSDATAFORMAT_SUBTYPE_PCM", KSDATAFORMAT_SUBTYPE_PCM, simks::kSubtypePcm,
         "00000001-0000-0010-8000-00AA00389B71"},
        {"KSDATAFORMAT_SUBTYPE_WAVEFORMATEX", KSDATAFORMAT_SUBTYPE_WAVEFORMATEX,
         simks::kSubtypeWaveFormatEx, "00000000-0000-0010-8000-00AA00389B71"},
        {"KSDATAFORMAT_SPECIFIER_WAVEFORMATEX", KSDATAFORMAT_SPECIFIER_WAVEFORMATEX,
         simks::kSpecifierWaveFormatEx, "05589F81-C356-11CE-BF01-00AA0055595A"},
        {"KSINTERFACESETID_Standard", KSINTERFACESETID_Standard, simks::kInterfaceSetStandard,
         "1A8766A0-62CE-11CF-A5D6-28DB04C10000"},
        {"KSMEDIUMSETID_Standard", KSMEDIUMSETID_Standard, simks::kMediumSetStandard,
         "4747B320-62CE-11CF-A5D6-28DB04C10000"},
        {"KSNODETYPE_VOLUME", KSNODETYPE_VOLUME, simks::kNodeVolume,
         "3A5ACC00-C557-11D0-8A2B-00A0C9255AC1"},
        {"KSNODETYPE_MUTE", KSNODETYPE_MUTE, simks::kNodeMute,
         "02B223C0-C557-11D0-8A2B-00A0C9255AC1"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.documented, Text(row.linked)) << row.name << ": the plug-in's";
        EXPECT_EQ(row.documented, Text(row.bed)) << row.name << ": the test bed's";
    }
}

// Control codes: CTL_CODE(FILE_DEVICE_KS, function, METHOD_NEITHER, access).
// Microsoft Learn, 'IOCTL_KS_PROPERTY' and 'IOCTL_KS_WRITE_STREAM'.
static_assert(IOCTL_KS_PROPERTY == 0x002F0003 && simks::kIoctlProperty == IOCTL_KS_PROPERTY, "");
static_assert(IOCTL_KS_WRITE_STREAM == 0x002F8013 && simks::kIoctlWriteStream == 0x002F8013, "");

// Request flags. Microsoft Learn, 'KSPROPERTY structure' (KSIDENTIFIER).
static_assert(KSPROPERTY_TYPE_GET == 0x1 && simks::kPropGet == 0x1, "");
static_assert(KSPROPERTY_TYPE_SET == 0x2 && simks::kPropSet == 0x2, "");
static_assert(KSPROPERTY_TYPE_BASICSUPPORT == 0x200 && simks::kPropBasicSupport == 0x200, "");
static_assert(KSPROPERTY_TYPE_TOPOLOGY == 0x10000000 && simks::kPropTopology == 0x10000000, "");

// Pin properties. Microsoft Learn, 'KSPROPSETID_Pin' (the KSPROPERTY_PIN enumeration).
static_assert(KSPROPERTY_PIN_CINSTANCES == 0 && simks::kPinCInstances == 0, "");
static_assert(KSPROPERTY_PIN_CTYPES == 1 && simks::kPinCTypes == 1, "");
static_assert(KSPROPERTY_PIN_DATAFLOW == 2 && simks::kPinDataFlow == 2, "");
static_assert(KSPROPERTY_PIN_DATARANGES == 3 && simks::kPinDataRanges == 3, "");
static_assert(KSPROPERTY_PIN_INTERFACES == 5 && simks::kPinInterfaces == 5, "");
static_assert(KSPROPERTY_PIN_MEDIUMS == 6 && simks::kPinMediums == 6, "");
static_assert(KSPROPERTY_PIN_COMMUNICATION == 7 && simks::kPinCommunication == 7, "");
static_assert(KSPROPERTY_PIN_GLOBALCINSTANCES == 8 && simks::kPinGlobalCInstances == 8, "");
static_assert(KSPROPERTY_PIN_PHYSICALCONNECTION == 10 && simks::kPinPhysicalConnection == 10, "");
static_assert(KSPROPERTY_PIN_CATEGORY == 11 && simks::kPinCategory == 11, "");
static_assert(KSPROPERTY_PIN_NAME == 12 && simks::kPinName == 12, "");

// Topology, connection and audio properties. Microsoft Learn, 'KSPROPSETID_Topology',
// 'KSPROPERTY_CONNECTION_STATE', 'KSPROPERTY_AUDIO_VOLUMELEVEL', 'KSPROPERTY_AUDIO_MUTE',
// 'KSPROPERTY_AUDIO_POSITION'.
static_assert(KSPROPERTY_TOPOLOGY_NODES == 1 && simks::kTopologyNodes == 1, "");
static_assert(KSPROPERTY_TOPOLOGY_CONNECTIONS == 2 && simks::kTopologyConnections == 2, "");
static_assert(KSPROPERTY_CONNECTION_STATE == 0 && simks::kConnectionState == 0, "");
static_assert(KSPROPERTY_AUDIO_VOLUMELEVEL == 4 && simks::kAudioVolumeLevel == 4, "");
static_assert(KSPROPERTY_AUDIO_POSITION == 5 && simks::kAudioPosition == 5, "");
static_assert(KSPROPERTY_AUDIO_MUTE == 13 && simks::kAudioMute == 13, "");

// WaveRT properties. Microsoft Learn, 'KSPROPSETID_RtAudio' (the KSPROPERTY_RTAUDIO enumeration).
static_assert(KSPROPERTY_RTAUDIO_BUFFER == 1 && simks::kRtBuffer == 1, "");
static_assert(KSPROPERTY_RTAUDIO_HWLATENCY == 2 && simks::kRtHwLatency == 2, "");
static_assert(KSPROPERTY_RTAUDIO_POSITIONREGISTER == 3 && simks::kRtPositionRegister == 3, "");
static_assert(KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION == 5 &&
                  simks::kRtBufferWithNotification == 5,
              "");
static_assert(KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT == 6 && simks::kRtRegisterEvent == 6,
              "");
static_assert(KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT == 7 &&
                  simks::kRtUnregisterEvent == 7,
              "");
static_assert(KSPROPERTY_RTAUDIO_PACKETCOUNT == 9 && simks::kRtPacketCount == 9, "");

// States, data flow, communication. Microsoft Learn, 'KSSTATE enumeration',
// 'KSPROPERTY_PIN_DATAFLOW', 'KSPROPERTY_PIN_COMMUNICATION'.
static_assert(KSSTATE_STOP == 0 && KSSTATE_ACQUIRE == 1 && KSSTATE_PAUSE == 2 && KSSTATE_RUN == 3,
              "");
static_assert(simks::kStateStop == 0 && simks::kStateAcquire == 1 && simks::kStatePause == 2 &&
                  simks::kStateRun == 3,
              "");
static_assert(KSPIN_DATAFLOW_IN == 1 && KSPIN_DATAFLOW_OUT == 2, "");
static_assert(simks::kDataFlowIn == 1 && simks::kDataFlowOut == 2, "");
static_assert(KSPIN_COMMUNICATION_NONE == 0 && KSPIN_COMMUNICATION_SINK == 1 &&
                  KSPIN_COMMUNICATION_SOURCE == 2 && KSPIN_COMMUNICATION_BOTH == 3,
              "");
static_assert(simks::kCommunicationNone == 0 && simks::kCommunicationSink == 1 &&
                  simks::kCommunicationBoth == 3 && simks::kCommunicationBridge == 4,
              "");

// Interfaces, mediums, priority. Microsoft Learn, 'KSINTERFACESETID_Standard',
// 'KSMEDIUMSETID_Standard', 'KSPRIORITY structure'.
static_assert(KSINTERFACE_STANDARD_STREAMING == 0 && simks::kInterfaceStreaming == 0, "");
static_assert(KSINTERFACE_STANDARD_LOOPED_STREAMING == 1 && simks::kInterfaceLoopedStreaming == 1,
              "");
static_assert(KSMEDIUM_TYPE_ANYINSTANCE == 0 && simks::kMediumAnyInstance == 0, "");
static_assert(KSPRIORITY_NORMAL == 0x40000000 && simks::kPriorityNormal == 0x40000000, "");

// Topology and basic-support values. Microsoft Learn, 'KSTOPOLOGY_CONNECTION structure',
// 'KSDATARANGE structure', 'KSPROPERTY_MEMBERSHEADER structure', 'KSSTREAM_HEADER structure'.
static_assert(KSFILTER_NODE == 0xFFFFFFFF && simks::kFilterNode == 0xFFFFFFFF, "");
static_assert(KSDATARANGE_ATTRIBUTES == 0x2 && simks::kRangeAttributes == 0x2, "");
static_assert(KSPROPERTY_MEMBER_STEPPEDRANGES == 2 && simks::kMemberSteppedRanges == 2, "");
static_assert(KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL == 2 &&
                  simks::kMemberMultichannel == 2,
              "");
static_assert(KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM == 0x200 && simks::kHeaderEndOfStream == 0x200,
              "");

// Records: the size on i686 and on x86_64 as the documented declarations lay them out, the
// plug-in's (ks.h, ksmedia.h, ks/wavert.h) and the test bed's alike. Microsoft Learn, the page of
// each structure under its name (e.g. 'KSSTREAM_HEADER structure', 'KSRTAUDIO_BUFFER structure').
#ifdef _WIN64
#define SIZE_ON(i686, x86_64) (x86_64)
#else
#define SIZE_ON(i686, x86_64) (i686)
#endif
#define SAME_RECORD(platform, bed, i686, x86_64)                                                   \
    static_assert(sizeof(platform) == SIZE_ON(i686, x86_64) && sizeof(bed) == sizeof(platform),    \
                  #platform)
#define SAME_FIELD(platform, bed, field, i686, x86_64)                                             \
    static_assert(offsetof(platform, field) == SIZE_ON(i686, x86_64) &&                            \
                      offsetof(bed, field) == offsetof(platform, field),                           \
                  #platform "." #field)

SAME_RECORD(KSPROPERTY, simks::KsIdentifier, 24, 24);
SAME_RECORD(KSP_PIN, simks::KsPinProperty, 32, 32);
SAME_FIELD(KSP_PIN, simks::KsPinProperty, PinId, 24, 24);
SAME_RECORD(KSNODEPROPERTY, simks::KsNodeProperty, 32, 32);
SAME_FIELD(KSNODEPROPERTY, simks::KsNodeProperty, NodeId, 24, 24);
SAME_RECORD(KSNODEPROPERTY_AUDIO_CHANNEL, simks::KsNodeChannelProperty, 40, 40);
SAME_FIELD(KSNODEPROPERTY_AUDIO_CHANNEL, simks::KsNodeChannelProperty, Channel, 32, 32);
SAME_RECORD(KSMULTIPLE_ITEM, simks::KsMultipleItem, 8, 8);
SAME_RECORD(KSPIN_CINSTANCES, simks::KsPinCInstances, 8, 8);
SAME_RECORD(KSTOPOLOGY_CONNECTION, simks::KsTopologyConnection, 16, 16);
SAME_FIELD(KSTOPOLOGY_CONNECTION, simks::KsTopologyConnection, ToNode, 8, 8);
SAME_RECORD(KSPIN_PHYSICALCONNECTION, simks::KsPinPhysicalConnection, 12, 12);
SAME_FIELD(KSPIN_PHYSICALCONNECTION, simks::KsPinPhysicalConnection, SymbolicLinkName, 8, 8);
SAME_RECORD(KSDATAFORMAT, simks::KsDataFormat, 64, 64);
SAME_FIELD(KSDATAFORMAT, simks::KsDataFormat, MajorFormat, 16, 16);
SAME_FIELD(KSDATAFORMAT, simks::KsDataFormat, Specifier, 48, 48);
SAME_RECORD(KSDATARANGE_AUDIO, simks::KsDataRangeAudio, 88, 88);
SAME_FIELD(KSDATARANGE_AUDIO, simks::KsDataRangeAudio, MaximumChannels, 64, 64);
SAME_FIELD(KSDATARANGE_AUDIO, simks::KsDataRangeAudio, MaximumSampleFrequency, 80, 80);
SAME_RECORD(KSDATAFORMAT_WAVEFORMATEX, simks::KsDataFormatWave, 82, 82); // byte-packed
SAME_FIELD(KSDATAFORMAT_WAVEFORMATEX, simks::KsDataFormatWave, WaveFormatEx, 64, 64);
SAME_RECORD(KSATTRIBUTE, simks::KsAttribute, 24, 24);
SAME_RECORD(KSPIN_CONNECT, simks::KsPinConnect, 64, 72);
SAME_FIELD(KSPIN_CONNECT, simks::KsPinConnect, PinId, 48, 48);
SAME_FIELD(KSPIN_CONNECT, simks::KsPinConnect, PinToHandle, 52, 56);
SAME_FIELD(KSPIN_CONNECT, simks::KsPinConnect, Priority, 56, 64);
SAME_RECORD(KSSTREAM_HEADER, simks::KsStreamHeader, 48, 56);
SAME_FIELD(KSSTREAM_HEADER, simks::KsStreamHeader, FrameExtent, 32, 32);
SAME_FIELD(KSSTREAM_HEADER, simks::KsStreamHeader, DataUsed, 36, 36);
SAME_FIELD(KSSTREAM_HEADER, simks::KsStreamHeader, Data, 40, 40);
SAME_FIELD(KSSTREAM_HEADER, simks::KsStreamHeader, OptionsFlags, 44, 48);
SAME_RECORD(KSPROPERTY_DESCRIPTION, simks::KsPropertyDescription, 40, 40);
SAME_FIELD(KSPROPERTY_DESCRIPTION, simks::KsPropertyDescription, MembersListCount, 32, 32);
SAME_RECORD(KSPROPERTY_MEMBERSHEADER, simks::KsMembersHeader, 16, 16);
SAME_RECORD(KSPROPERTY_STEPPING_LONG, simks::KsSteppingLong, 16, 16);
SAME_FIELD(KSPROPERTY_STEPPING_LONG, simks::KsSteppingLong, Bounds, 8, 8);
SAME_RECORD(KSAUDIO_POSITION, simks::KsAudioPosition, 16, 16);
SAME_RECORD(KSRTAUDIO_BUFFER_PROPERTY, simks::RtBufferRequest, 32, 40);
SAME_FIELD(KSRTAUDIO_BUFFER_PROPERTY, simks::RtBufferRequest, RequestedBufferSize, 28, 32);
SAME_RECORD(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, simks::RtBufferNotifyRequest, 40, 40);
SAME_FIELD(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, simks::RtBufferNotifyRequest,
           NotificationCount, 32, 36);
SAME_RECORD(KSRTAUDIO_BUFFER, simks::RtBufferAnswer, 12, 16);
SAME_FIELD(KSRTAUDIO_BUFFER, simks::RtBufferAnswer, CallMemoryBarrier, 8, 12);
SAME_RECORD(KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY, simks::RtEventRequest, 32, 32);
SAME_RECORD(KSRTAUDIO_HWREGISTER_PROPERTY, simks::RtRegisterRequest, 32, 32);
SAME_RECORD(KSRTAUDIO_HWREGISTER, simks::RtRegisterAnswer, 32, 40);
SAME_FIELD(KSRTAUDIO_HWREGISTER, simks::RtRegisterAnswer, Accuracy, 24, 32);
SAME_RECORD(KSRTAUDIO_HWLATENCY, simks::RtHwLatency, 12, 12);

} // namespace
