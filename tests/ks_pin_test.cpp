// CKsPin: the descriptor read (and malformed answers to it), creation, state, writes and closing.
#include "ks_fixture.h"

#include <vector>

namespace {

// One render device with a render sink pin (id 0), its filter opened.
struct KsPin : KsBareFixture {
    int device = -1;
    std::unique_ptr<CKsAudRenFilter> filter;
    void SetUp() override {
        KsBareFixture::SetUp();
        device = AddRenderDevice("\\\\?\\sim#render");
        filter = Open(device);
    }
    void TearDown() override {
        filter.reset();
        KsBareFixture::TearDown();
    }
    void PinFault(ULONG nProperty, int fault, ULONG param) {
        SimKs_AddPropertyFault(device, 0, &KSPROPSETID_Pin, nProperty, fault, param);
    }
    // An audio render pin on pin id 0, created with 16-bit stereo at 44100 Hz.
    std::unique_ptr<CKsAudRenPin> OpenPin() {
        HRESULT hr = E_FAIL;
        std::unique_ptr<CKsAudRenPin> pin(new CKsAudRenPin(filter.get(), 0, hr));
        EXPECT_EQ(S_OK, hr);
        WAVEFORMATEX wfx = Pcm(44100, 2, 16);
        EXPECT_EQ(S_OK, pin->SetFormat(&wfx));
        EXPECT_EQ(S_OK, pin->Instantiate(FALSE));
        return pin;
    }
};

TEST_F(KsPin, PinThatAnswersNothingIsStillConstructed) {
    SimKs_AddPropertyFault(device, 0, NULL, SIMKS_ANY_ID, SIMKS_PROP_FAIL, ERROR_NOT_FOUND);
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(9, TraceCount("Failed to retrieve pin property KSPROP"));
    EXPECT_EQ(9, TraceCount("on PinID: 0"));
    EXPECT_EQ(1, TraceCount("KSPROPETY_PIN_INTERFACES"));
    EXPECT_EQ(0, (int)pin.m_Descriptor.DataFlow);
    EXPECT_EQ(0, (int)pin.m_Descriptor.Communication);
    EXPECT_EQ(0u, pin.m_Descriptor.cInterfaces + pin.m_Descriptor.cMediums +
                      pin.m_Descriptor.cDataRanges);
}

TEST_F(KsPin, AnswerShorterThanItsHeaderCountsAsFailed) {
    PinFault(KSPROPERTY_PIN_INTERFACES, SIMKS_PROP_SHORT, 4);
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_TRUE(Traced("KSPROPETY_PIN_INTERFACES on PinID: 0"));
    EXPECT_EQ(0u, pin.m_Descriptor.cInterfaces);
    EXPECT_EQ(nullptr, pin.m_Descriptor.pInterfaces);
    EXPECT_EQ(nullptr, pin.m_Descriptor.pmiInterfaces);
    EXPECT_EQ(1u, pin.m_Descriptor.cMediums);
}

TEST_F(KsPin, CountBeyondTheBlockCountsAsFailed) {
    PinFault(KSPROPERTY_PIN_MEDIUMS, SIMKS_PROP_COUNT_PAST, 1);
    PinFault(KSPROPERTY_PIN_DATARANGES, SIMKS_PROP_COUNT_PAST, 0x02E8BA2F); // x 88 wraps
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, hr);
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_TRUE(Traced("KSPROPERTY_PIN_MEDIUMS on PinID: 0"));
    EXPECT_TRUE(Traced("KSPROPERTY_PIN_DATARANGES on PinID: 0"));
    EXPECT_EQ(0u, pin.m_Descriptor.cMediums);
    EXPECT_EQ(nullptr, pin.m_Descriptor.pMediums);
    EXPECT_NE(nullptr, pin.m_Descriptor.pmiMediums); // kept, released by the destructor
    EXPECT_EQ(0u, pin.m_Descriptor.cDataRanges);
}

TEST_F(KsPin, PlainPinHasNothingToCreate) {
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, hr);
    EXPECT_EQ(S_OK, pin.Instantiate(FALSE));
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin.m_handle));
    EXPECT_EQ(0, SimKs_RequestCount(SIMKS_REQ_CREATE_PIN));
}

TEST_F(KsPin, LoopedFlagSelectsTheLoopedInterface) {
    SimKsPinDesc desc = RenderPin();
    desc.cInterfaces = 2;
    desc.Interfaces[1] = desc.Interfaces[0];
    desc.Interfaces[1].Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
    auto looping = Open(AddRenderDevice("\\\\?\\sim#looped", desc));
    HRESULT hr = E_FAIL;
    CKsAudRenPin pin(looping.get(), 0, hr);
    WAVEFORMATEX wfx = Pcm(44100, 2, 16);
    ASSERT_EQ(S_OK, pin.SetFormat(&wfx));
    ASSERT_EQ(S_OK, pin.Instantiate(5));
    EXPECT_EQ(5, pin.m_bLooped);
    EXPECT_EQ((ULONG)KSINTERFACE_STANDARD_LOOPED_STREAMING, pin.m_pksPinCreate->Interface.Id);
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ(1u, info.InterfaceId);
}

TEST_F(KsPin, RefusedCreationLeavesNoHandle) {
    SimKs_SetCreatePinError(device, ERROR_NO_SYSTEM_RESOURCES);
    HRESULT hr = E_FAIL;
    CKsAudRenPin pin(filter.get(), 0, hr);
    WAVEFORMATEX wfx = Pcm(44100, 2, 16);
    ASSERT_EQ(S_OK, pin.SetFormat(&wfx));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), pin.Instantiate(FALSE));
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin.m_handle));
    EXPECT_TRUE(Traced("Failed to instantiate pin. hr=0x800705aa"));
}

TEST_F(KsPin, ClosingWithoutAHandleRequestsNothing) {
    HRESULT hr = E_FAIL;
    CKsAudRenPin pin(filter.get(), 0, hr);
    pin.ClosePin();
    pin.ClosePin();
    EXPECT_EQ(0, SimKs_RequestCount(SIMKS_REQ_SET_STATE));
    EXPECT_EQ(0, SimKs_RequestCount(SIMKS_REQ_CLOSE));
}

TEST_F(KsPin, ClosingStopsAndClosesOnce) {
    auto pin = OpenPin();
    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
    pin->ClosePin();
    pin->ClosePin();
    EXPECT_EQ(2, SimKs_RequestCount(SIMKS_REQ_SET_STATE));
    EXPECT_EQ(1, SimKs_RequestCount(SIMKS_REQ_CLOSE));
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_FALSE(info.Open);
    EXPECT_EQ((ULONG)KSSTATE_STOP, info.State);
}

TEST_F(KsPin, RefusedStateKeepsTheLastOne) {
    auto pin = OpenPin();
    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_PAUSE));
    EXPECT_EQ(KSSTATE_PAUSE, pin->m_State);
    SimKs_AddPropertyFault(device, -1, &KSPROPSETID_Connection, SIMKS_ANY_ID, SIMKS_PROP_FAIL,
                           ERROR_INVALID_PARAMETER);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), pin->SetState(KSSTATE_RUN));
    EXPECT_EQ(KSSTATE_PAUSE, pin->m_State);
    EXPECT_TRUE(Traced("Failed to Set Pin State"));
}

// A stream write of one 4096-byte packet and its completion event.
struct Packet {
    std::vector<BYTE> data = std::vector<BYTE>(4096, 0x5A);
    KSSTREAM_HEADER header = {};
    OVERLAPPED overlapped = {};
    Packet() {
        header.Size = sizeof header;
        header.Data = data.data();
        header.FrameExtent = header.DataUsed = (ULONG)data.size();
        overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    }
    ~Packet() { CloseHandle(overlapped.hEvent); }
};

TEST_F(KsPin, PendingWriteSucceedsAndCompletesThroughItsEvent) {
    auto pin = OpenPin();
    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
    Packet packet;
    EXPECT_EQ(S_OK, pin->WriteData(&packet.header, &packet.overlapped));
    EXPECT_FALSE(Traced("WriteData's DeviceIoControl Failed"));
    EXPECT_EQ(1, SimKs_CompletePackets(0, 1));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(packet.overlapped.hEvent, kHangMs));
    BYTE played[4096] = {};
    EXPECT_EQ(4096u, SimKs_CopyConsumed(0, 0, played, sizeof played));
    EXPECT_EQ(0x5A, played[4095]);
}

TEST_F(KsPin, ImmediateWriteFailureIsReported) {
    auto pin = OpenPin();
    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_PAUSE));
    SimKs_SetWriteFault(device, SIMKS_WRITE_IMMEDIATE, 1, 1, ERROR_GEN_FAILURE);
    Packet packet;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_GEN_FAILURE),
              pin->WriteData(&packet.header, &packet.overlapped))
        << "the platform's error, not E_FAIL";
    EXPECT_TRUE(Traced("CKsPin::WriteData's DeviceIoControl Failed!  Error=0x0x00001f"));
}

} // namespace
