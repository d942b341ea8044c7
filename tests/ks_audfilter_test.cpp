// CKsAudFilter and CKsAudRenFilter: which pins an audio filter keeps and as what, running out of
// memory while listing them, and CreateRenderPin's first choice, fallback and hand-over.
#include "ks_fixture.h"

namespace {

// One device whose pins each test describes.
struct KsAudFilter : KsBareFixture {
    int device = -1;
    std::unique_ptr<CKsAudRenFilter> filter;
    void SetUp() override {
        KsBareFixture::SetUp();
        device = AddAudioDevice("\\\\?\\sim#audfilter", "audfilter");
    }
    void TearDown() override {
        filter.reset();
        KsBareFixture::TearDown();
    }
    SimKsPinDesc& AddPin(ULONG dataFlow, ULONG communication, ULONG maxRate = 48000) {
        descs.push_back(RenderPin());
        SimKsPinDesc& desc = descs.back();
        desc.DataFlow = dataFlow;
        desc.Communication = communication;
        desc.Ranges[0].MaximumSampleFrequency = maxRate;
        return desc;
    }
    HRESULT Enumerate() {
        for (const SimKsPinDesc& desc : descs)
            SimKs_AddPin(device, &desc);
        filter = Open(device);
        return filter->EnumeratePins();
    }
    std::vector<SimKsPinDesc> descs;
};

TEST_F(KsAudFilter, PinsThatCannotStreamAreSkipped) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_NONE);
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_BRIDGE);
    AddPin(KSPIN_DATAFLOW_IN, 9);
    EXPECT_EQ(E_FAIL, Enumerate());
    EXPECT_EQ(3, TraceCount("Pin communication value doesn't make sense"));
    EXPECT_TRUE(Traced("No valid pins found on the filter"));
    EXPECT_EQ(0, filter->m_listPins.m_lCount);
}

TEST_F(KsAudFilter, EachStreamingPinBecomesItsAudioClass) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    AddPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SOURCE);
    AddPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK);
    EXPECT_EQ(S_OK, Enumerate());
    ASSERT_EQ(1, filter->m_listRenderSinkPins.m_lCount);
    ASSERT_EQ(1, filter->m_listCaptureSourcePins.m_lCount);
    ASSERT_EQ(1, filter->m_listCaptureSinkPins.m_lCount);
    EXPECT_EQ(kPinTypeRender, filter->m_listRenderSinkPins.m_pHead->pData->m_PinType);
    EXPECT_EQ(kPinTypePlain, filter->m_listCaptureSourcePins.m_pHead->pData->m_PinType);
    EXPECT_EQ(kPinTypeCapture, filter->m_listCaptureSinkPins.m_pHead->pData->m_PinType);
    EXPECT_NE(nullptr, dynamic_cast<CKsAudRenPin*>(filter->m_listRenderSinkPins.m_pHead->pData));
}

TEST_F(KsAudFilter, PinFailingTheAudioChecksIsDropped) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK).cRanges = 0;
    EXPECT_EQ(E_FAIL, Enumerate());
    EXPECT_TRUE(Traced("No audio dataranges on the pin"));
    EXPECT_EQ(0, filter->m_listPins.m_lCount);
}

TEST_F(KsAudFilter, UnreadablePinPropertiesSkipThePin) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    SimKs_AddPropertyFault(device, 0, &KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, SIMKS_PROP_FAIL,
                           ERROR_NOT_FOUND);
    EXPECT_EQ(S_OK, Enumerate());
    EXPECT_TRUE(Traced("Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW"));
    ASSERT_EQ(1, filter->m_listPins.m_lCount);
    EXPECT_EQ(1u, filter->m_listPins.m_pHead->pData->m_nId);
}

TEST_F(KsAudFilter, NoMemoryAtAnyPointLeavesAConsistentFilter) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_BOTH);
    for (const SimKsPinDesc& desc : descs)
        SimKs_AddPin(device, &desc);
    filter = Open(device);
    SimKs_ArmAllocations(0);
    ASSERT_EQ(S_OK, filter->EnumeratePins());
    ULONG cAllocations = SimKs_DisarmAllocations();
    ASSERT_GT(cAllocations, 4u);

    bool sawOutOfMemory = false;
    for (ULONG failAt = 1; failAt <= cAllocations; failAt++) {
        filter = Open(device);
        SimKs_ArmAllocations(failAt);
        HRESULT hr = filter->EnumeratePins();
        SimKs_DisarmAllocations();
        if (E_OUTOFMEMORY == hr) {
            sawOutOfMemory = true;
            EXPECT_EQ(0, filter->m_listPins.m_lCount) << failAt;
        } else {
            EXPECT_TRUE(S_OK == hr || E_FAIL == hr) << failAt << " " << hr;
        }
        // Every classified pin is still owned by the filter.
        for (auto* n = filter->m_listRenderSinkPins.m_pHead; n; n = n->pNext) {
            bool owned = false;
            for (auto* m = filter->m_listPins.m_pHead; m; m = m->pNext)
                owned = owned || m->pData == n->pData;
            EXPECT_TRUE(owned) << failAt;
        }
    }
    EXPECT_TRUE(sawOutOfMemory);
    EXPECT_TRUE(Traced("Ran out of memory enumerating pins - deleting all pins"));
}

TEST_F(KsAudFilter, RenderPinIsHandedOverAndOutlivesTheFilter) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    ASSERT_EQ(S_OK, Enumerate());
    WAVEFORMATEXTENSIBLE wfx = Extensible(44100, 2, 16);
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(&wfx.Format, FALSE));
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(0u, pin->m_nId);
    EXPECT_STREQ("", filter->m_pszLastError);
    EXPECT_TRUE(Traced("Successfully instantiated Render Pin.  Handle = 0x"));
    EXPECT_EQ(1, filter->m_listPins.m_lCount);
    EXPECT_EQ(1, filter->m_listRenderSinkPins.m_lCount);
    EXPECT_NE(pin.get(), filter->m_listRenderSinkPins.m_pHead->pData);

    filter.reset();
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_TRUE(info.Open);
    EXPECT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
    pin.reset();
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_FALSE(info.Open);
}

TEST_F(KsAudFilter, FirstPinThatCoversTheFormatIsChosen) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK, 48000);
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK, 96000);
    ASSERT_EQ(S_OK, Enumerate());
    WAVEFORMATEX wfx = Pcm(96000, 2, 16);
    CKsPin* first = filter->m_listRenderSinkPins.m_pHead->pData;
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(&wfx, FALSE));
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(1u, pin->m_nId);
    EXPECT_EQ(first, filter->m_listRenderSinkPins.m_pHead->pData);
    EXPECT_EQ(first, filter->m_listPins.m_pHead->pData);
}

TEST_F(KsAudFilter, BusyFirstChoiceFallsBackToTheNextPin) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK).PossibleInstances = 0;
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    ASSERT_EQ(S_OK, Enumerate());
    WAVEFORMATEX wfx = Pcm(44100, 2, 16);
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(&wfx, FALSE));
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(1u, pin->m_nId);
    EXPECT_STREQ("Failed to instantiate Render Pin", filter->m_pszLastError);
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(filter->m_listPins.m_pHead->pData->m_handle));
}

TEST_F(KsAudFilter, FormatNoSavedRangeCoversCanStillBeCreated) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    // The driver's range answer is too short to be kept, but the driver takes the format.
    SimKs_AddPropertyFault(device, 0, &KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES,
                           SIMKS_PROP_RANGE_SMALL, 72);
    ASSERT_EQ(S_OK, Enumerate());
    WAVEFORMATEX wfx = Pcm(44100, 2, 16);
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(&wfx, FALSE));
    ASSERT_NE(nullptr, pin);
    EXPECT_STREQ("Could not find a Render pin that supports the given wave format",
                 filter->m_pszLastError);
    EXPECT_FALSE(Traced("Successfully instantiated Render Pin"));
}

TEST_F(KsAudFilter, RefusedFormatLeavesTheListsAlone) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    SimKsQuirks quirks = {};
    quirks.Flags = SIMKS_QUIRK_NO_EXTENSIBLE;
    SimKs_SetQuirks(device, &quirks);
    ASSERT_EQ(S_OK, Enumerate());
    WAVEFORMATEXTENSIBLE wfx = Extensible(44100, 2, 16);
    EXPECT_EQ(nullptr, filter->CreateRenderPin(&wfx.Format, FALSE));
    EXPECT_STREQ("Failed to instantiate Render Pin", filter->m_pszLastError);
    EXPECT_EQ(1, filter->m_listPins.m_lCount);
    EXPECT_EQ(1, filter->m_listRenderSinkPins.m_lCount);
}

TEST_F(KsAudFilter, HandedOverPinOfBothCommunicationsLeavesEveryList) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_BOTH);
    AddPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SOURCE);
    ASSERT_EQ(S_OK, Enumerate());
    ASSERT_EQ(1, filter->m_listRenderSourcePins.m_lCount);
    WAVEFORMATEX wfx = Pcm(44100, 2, 16);
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(&wfx, FALSE));
    ASSERT_NE(nullptr, pin);
    EXPECT_EQ(0, filter->m_listRenderSinkPins.m_lCount);
    EXPECT_EQ(0, filter->m_listRenderSourcePins.m_lCount);
    EXPECT_EQ(1, filter->m_listPins.m_lCount);
}

} // namespace
