// CKsFilter: names and paths, opening, pin classification and topology nodes.
#include "ks_fixture.h"

#include <cstring>

namespace {

using KsFilterNames = KsBareFixture;

TEST_F(KsFilterNames, NullPathIsRefusedButTheNameKept) {
    HRESULT hr = S_OK;
    CKsFilter filter(NULL, hr, "Speakers");
    EXPECT_EQ(E_INVALIDARG, hr);
    EXPECT_TRUE(Traced("pszName cannot be NULL"));
    EXPECT_STREQ("Speakers", filter.m_szFriendlyName);
    char zeros[MAX_PATH] = {};
    EXPECT_EQ(0, memcmp(zeros, filter.m_szFilterName, MAX_PATH));
}

TEST_F(KsFilterNames, PathThatCannotBeTerminatedIsRefused) {
    std::string path(MAX_PATH, 'p');
    HRESULT hr = S_OK;
    CKsFilter tooLong(path.c_str(), hr, "x");
    EXPECT_EQ(E_INVALIDARG, hr);
    EXPECT_STREQ("", tooLong.m_szFilterName);

    path.resize(MAX_PATH - 1);
    CKsFilter longest(path.c_str(), hr, "x");
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(path, longest.m_szFilterName);
}

TEST_F(KsFilterNames, LongFriendlyNameIsCutToFit) {
    std::string name(300, 'n');
    HRESULT hr = E_FAIL;
    CKsFilter filter("\\\\?\\x", hr, name.c_str());
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(name.substr(0, MAX_PATH - 1), filter.m_szFriendlyName);
}

TEST_F(KsFilterNames, UnopenableDeviceFailsWithItsPath) {
    int device = AddRenderDevice("\\\\?\\sim#locked");
    SimKs_SetOpenError(device, ERROR_ACCESS_DENIED);
    HRESULT hr = E_FAIL;
    CKsFilter filter(SimKs_DevicePath(device), hr, "x");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), filter.Instantiate())
        << "the cause, not E_FAIL";
    EXPECT_FALSE(CKsIrpTarget::IsValidHandle(filter.m_handle));
    EXPECT_TRUE(Traced("CKsFilter::Instantiate: CreateFile failed for device \\\\?\\sim#locked."));
}

// A device whose pins are given by each test; the plain filter lists them.
struct KsFilterPins : KsBareFixture {
    int device = -1;
    void SetUp() override {
        KsBareFixture::SetUp();
        device = AddAudioDevice("\\\\?\\sim#pins", "pins");
    }
    void AddPin(ULONG dataFlow, ULONG communication) {
        SimKsPinDesc desc = RenderPin();
        desc.DataFlow = dataFlow;
        desc.Communication = communication;
        SimKs_AddPin(device, &desc);
    }
};

TEST_F(KsFilterPins, EveryPinIsSortedByFlowAndCommunication) {
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_BOTH);
    AddPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK);
    AddPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SOURCE);
    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_NONE);
    AddPin(KSPIN_DATAFLOW_IN, 5);
    AddPin(0, KSPIN_COMMUNICATION_SINK); // neither IN nor OUT: counts as OUT
    auto filter = Open<CKsFilter>(device);
    EXPECT_EQ(S_OK, filter->EnumeratePins());
    EXPECT_EQ(6, filter->m_listPins.m_lCount);
    EXPECT_EQ(1, filter->m_listRenderSinkPins.m_lCount);
    EXPECT_EQ(1, filter->m_listRenderSourcePins.m_lCount);
    EXPECT_EQ(filter->m_listRenderSinkPins.m_pHead->pData,
              filter->m_listRenderSourcePins.m_pHead->pData);
    EXPECT_EQ(2, filter->m_listCaptureSinkPins.m_lCount);
    EXPECT_EQ(1, filter->m_listCaptureSourcePins.m_lCount);
    EXPECT_EQ(1, filter->m_listNoCommPins.m_lCount);
    EXPECT_EQ(1, TraceCount("Pin communication type not recognized"));
    // Deleting the filter deletes the BOTH pin once although it stands in two lists.
    filter.reset();
    EXPECT_TRUE(Traced("CKsFilter::~CKsFilter Leave, returning 00000000"));
}

TEST_F(KsFilterPins, OnlyUnclassifiablePinsIsNotViable) {
    AddPin(KSPIN_DATAFLOW_IN, 4);
    auto filter = Open<CKsFilter>(device);
    EXPECT_EQ(E_FAIL, filter->EnumeratePins());
    EXPECT_EQ(1, filter->m_listPins.m_lCount);
    EXPECT_TRUE(Traced("Filter is not viable. It has no pins."));
}

TEST_F(KsFilterPins, PinsWithoutCommunicationAreViable) {
    AddPin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_NONE);
    auto filter = Open<CKsFilter>(device);
    EXPECT_EQ(S_OK, filter->EnumeratePins());
}

TEST_F(KsFilterPins, NoPinTypesOrNoCountIsNotViable) {
    auto empty = Open<CKsFilter>(device);
    EXPECT_EQ(E_FAIL, empty->EnumeratePins());

    AddPin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK);
    SimKs_AddPropertyFault(device, -1, &KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, SIMKS_PROP_FAIL,
                           ERROR_NOT_FOUND);
    auto unreadable = Open<CKsFilter>(device);
    EXPECT_EQ(E_FAIL, unreadable->EnumeratePins());
    EXPECT_EQ(0, unreadable->m_listPins.m_lCount);
    EXPECT_EQ(2, TraceCount("Filter is not viable. It has no pins."));
}

using KsFilterNodes = KsFixture;

TEST_F(KsFilterNodes, SecondReadReplacesTheFirst) {
    auto filter = Open(SIMKS_DEFAULT_VERSATILE);
    EXPECT_EQ(S_OK, filter->EnumerateNodes());
    EXPECT_EQ(S_OK, filter->EnumerateNodes());
    ASSERT_EQ(3, filter->m_listNodes.m_lCount);
    ULONG id = 0;
    for (TListNode<CKsNode>* n = filter->m_listNodes.m_pHead; n; n = n->pNext, id++) {
        EXPECT_EQ(id, n->pData->m_nId);
        EXPECT_EQ(0, memcmp("NONE", &n->pData->m_dwTag, 4));
    }
}

TEST_F(KsFilterNodes, NoNodesIsAnEmptyList) {
    auto filter = Open(SIMKS_DEFAULT_LEGACY);
    EXPECT_EQ(S_OK, filter->EnumerateNodes());
    EXPECT_EQ(0, filter->m_listNodes.m_lCount);
}

TEST_F(KsFilterNodes, CountBeyondTheBlockReadsNothing) {
    SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, -1, &KSPROPSETID_Topology, SIMKS_ANY_ID,
                           SIMKS_PROP_COUNT_PAST, 1000);
    auto filter = Open(SIMKS_DEFAULT_VERSATILE);
    EXPECT_EQ(E_FAIL, filter->EnumerateNodes());
    EXPECT_EQ(0, filter->m_listNodes.m_lCount);
    EXPECT_TRUE(Traced("Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES"));
}

TEST_F(KsFilterNodes, CountOverflowingTheItemSizeReadsNothing) {
    // 0x10000000 GUIDs of 16 bytes wrap a 32-bit byte count to 0.
    SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, -1, &KSPROPSETID_Topology, SIMKS_ANY_ID,
                           SIMKS_PROP_COUNT_PAST, 0x10000000 - 3);
    auto filter = Open(SIMKS_DEFAULT_VERSATILE);
    EXPECT_EQ(E_FAIL, filter->EnumerateNodes());
    EXPECT_EQ(0, filter->m_listNodes.m_lCount);
}

} // namespace
