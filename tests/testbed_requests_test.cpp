// The simulated devices answer requests as a KS driver and SetupAPI do: size probes, pending
// answers, the device-interface walk and pin creation against ranges and quirks.
#include "ks/ksplatform.h"
#include "testbed/client.h"
#include "testbed/simfixture.h"
#include "tests/waits.h"

#include <setupapi.h>

using namespace bedtest;

namespace {

typedef SimKsFixture BedRequests;

TEST_F(BedRequests, SizeProbeReportsTheSizeAndTheReadReturnsTheBytes) {
    HANDLE filter = OpenFilter(SIMKS_DEFAULT_VERSATILE);
    ASSERT_NE(INVALID_HANDLE_VALUE, filter);
    auto req = PinRequest(0, KSPROPERTY_PIN_DATARANGES);
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    DWORD size = 0;
    EXPECT_FALSE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &req, sizeof req, NULL, 0, &size, &ov));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    ASSERT_EQ(sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE_AUDIO), size);

    std::vector<unsigned char> block(size);
    DWORD read = 0;
    EXPECT_TRUE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &req, sizeof req, block.data(), size,
                                &read, &ov));
    EXPECT_EQ(size, read);
    const KSMULTIPLE_ITEM* head = reinterpret_cast<const KSMULTIPLE_ITEM*>(block.data());
    EXPECT_EQ(size, head->Size);
    EXPECT_EQ(1u, head->Count);
    const KSDATARANGE_AUDIO* r = reinterpret_cast<const KSDATARANGE_AUDIO*>(head + 1);
    EXPECT_EQ(sizeof(KSDATARANGE_AUDIO), r->DataRange.FormatSize);
    EXPECT_TRUE(IsEqualGUID(KSDATAFORMAT_SUBTYPE_PCM, r->DataRange.SubFormat));
    EXPECT_EQ(8u, r->MaximumChannels);
    EXPECT_EQ(32u, r->MaximumBitsPerSample);
    EXPECT_EQ(192000u, r->MaximumSampleFrequency);
    // A buffer that is neither a probe nor big enough is refused.
    EXPECT_FALSE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &req, sizeof req, block.data(),
                                 size - 1, &read, &ov));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    CloseHandle(ov.hEvent);
    EXPECT_TRUE(CloseHandle(filter));
}

TEST_F(BedRequests, PendingAnswerSetsTheCallersEventWithTheMarkerBitCleared) {
    SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, 0, &KSPROPSETID_Pin, SIMKS_ANY_ID,
                           SIMKS_PROP_LATE, 30);
    HANDLE filter = OpenFilter(SIMKS_DEFAULT_VERSATILE);
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    OVERLAPPED ov = {};
    ov.hEvent = (HANDLE)((ULONG_PTR)event | 1);
    auto req = PinRequest(0, KSPROPERTY_PIN_DATAFLOW);
    ULONG flow = 0;
    DWORD n = 0;
    EXPECT_FALSE(
        DeviceIoControl(filter, IOCTL_KS_PROPERTY, &req, sizeof req, &flow, sizeof flow, &n, &ov));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, kHangMs));
    EXPECT_EQ((ULONG)KSPIN_DATAFLOW_IN, flow);
    EXPECT_EQ(0u, ov.Internal);
    EXPECT_EQ(sizeof flow, ov.InternalHigh);

    // A pending size probe completes with the overflow status and the size.
    req = PinRequest(0, KSPROPERTY_PIN_INTERFACES);
    EXPECT_FALSE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &req, sizeof req, NULL, 0, &n, &ov));
    ASSERT_EQ(ERROR_IO_PENDING, GetLastError());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, kHangMs));
    EXPECT_EQ(0x80000005u, ov.Internal);
    EXPECT_EQ(sizeof(KSMULTIPLE_ITEM) + sizeof(KSIDENTIFIER), ov.InternalHigh);
    CloseHandle(event);
    CloseHandle(filter);
}

// The walk the enumeration makes: audio interfaces, their detail, the render alias, the name.
TEST_F(BedRequests, DeviceInterfaceWalkListsAudioDevicesWithAliasesAndNames) {
    HDEVINFO set =
        SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    std::vector<std::string> render;
    SP_DEVICE_INTERFACE_DATA data = {sizeof data, {}, 0, 0};
    DWORD index = 0;
    for (; SetupDiEnumDeviceInterfaces(set, NULL, &KSCATEGORY_AUDIO, index, &data); ++index) {
        DWORD needed = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, NULL, 0, &needed, NULL));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
        std::vector<char> block(needed);
        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail =
            reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA info = {sizeof info, {}, 0, 0};
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, NULL, &info));
        EXPECT_STREQ(SimKs_DevicePath((int)index), detail->DevicePath);
        SP_DEVICE_INTERFACE_DATA alias = {sizeof alias, {}, 0, 0};
        if (!SetupDiGetDeviceInterfaceAlias(set, &data, &KSCATEGORY_RENDER, &alias))
            continue;
        EXPECT_EQ((DWORD)SPINT_ACTIVE, alias.Flags);
        HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_QUERY_VALUE);
        ASSERT_NE(INVALID_HANDLE_VALUE, (HANDLE)key);
        char name[260] = "";
        DWORD size = sizeof name;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "FriendlyName", NULL, NULL,
                                                  reinterpret_cast<BYTE*>(name), &size));
        EXPECT_EQ(strlen(name) + 1, size);
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        render.push_back(name);
    }
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError());
    EXPECT_EQ((DWORD)SIMKS_DEFAULT_COUNT, index);
    ASSERT_EQ(3u, render.size());
    EXPECT_EQ("Speakers (High Definition Audio Device)", render[0]);
    EXPECT_EQ("AC'97 Audio Device", render[1]);
    EXPECT_EQ("Speakers (Realtek(R) Audio)", render[2]);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(BedRequests, PinCreationChecksRangesAndQuirks) {
    HANDLE versatile = OpenFilter(SIMKS_DEFAULT_VERSATILE);
    HANDLE legacy = OpenFilter(SIMKS_DEFAULT_LEGACY);
    HANDLE pin = NULL;
    EXPECT_EQ(0u, CreatePin(versatile, Format(96000, 6, 32, true), &pin));
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ(104u, info.FormatSize);
    EXPECT_EQ(WAVE_FORMAT_EXTENSIBLE, info.Format.Format.wFormatTag);
    EXPECT_EQ(6, info.Format.Format.nChannels);
    EXPECT_TRUE(CloseHandle(pin));

    EXPECT_EQ((DWORD)ERROR_NO_MATCH, CreatePin(legacy, Format(44100, 2, 16, true), &pin));
    EXPECT_EQ((DWORD)ERROR_NO_MATCH, CreatePin(legacy, Format(96000, 2, 16, false), &pin));
    EXPECT_EQ(0u, CreatePin(legacy, Format(44100, 2, 16, false), &pin));
    // One instance only: a second pin is refused until the first is closed.
    HANDLE second = NULL;
    EXPECT_EQ((DWORD)ERROR_BUSY, CreatePin(legacy, Format(44100, 2, 16, false), &second));
    EXPECT_TRUE(CloseHandle(pin));
    EXPECT_EQ(0u, CreatePin(legacy, Format(44100, 2, 16, false), &second));
    EXPECT_TRUE(CloseHandle(second));
    CloseHandle(versatile);
    CloseHandle(legacy);
}

} // namespace
