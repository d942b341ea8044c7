// CKsIrpTarget: closing handles, and SyncIoctl's synchronous, pending and size-probe paths against
// a simulated filter handle.
#include "ks_fixture.h"

namespace {

TEST(KsHandles, SafeCloseClosesOnceAndLeavesNoHandle) {
    HANDLE hNull = NULL;
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(hNull));
    EXPECT_EQ(NULL, hNull);

    HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    ASSERT_NE((HANDLE)NULL, hEvent);
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(hEvent));
    EXPECT_EQ(INVALID_HANDLE_VALUE, hEvent);
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(hEvent));
    EXPECT_EQ(INVALID_HANDLE_VALUE, hEvent);
}

// Requests on the filter handle of the default render device 0.
struct KsSyncIoctl : KsFixture {
    std::unique_ptr<CKsAudRenFilter> filter;
    KSP_PIN request = {};

    void SetUp() override {
        KsFixture::SetUp();
        filter = Open(SIMKS_DEFAULT_VERSATILE);
        request.Property.Set = KSPROPSETID_Pin;
        request.Property.Flags = KSPROPERTY_TYPE_GET;
    }
    HRESULT Ask(ULONG nProperty, PVOID pvOut, ULONG cbOut, PULONG pcb) {
        request.Property.Id = nProperty;
        return CKsIrpTarget::SyncIoctl(filter->m_handle, IOCTL_KS_PROPERTY, &request,
                                       sizeof request, pvOut, cbOut, pcb);
    }
    void Fault(ULONG nProperty, int fault, ULONG param) {
        SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, -1, &KSPROPSETID_Pin, nProperty, fault,
                               param);
    }
};

TEST_F(KsSyncIoctl, InvalidHandleIssuesNothing) {
    ULONG cb = 77;
    LONG before = SimKs_RequestCount(SIMKS_REQ_PROPERTY);
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(INVALID_HANDLE_VALUE, IOCTL_KS_PROPERTY, &request,
                                              sizeof request, NULL, 0, &cb));
    EXPECT_EQ(E_FAIL, CKsIrpTarget::SyncIoctl(NULL, IOCTL_KS_PROPERTY, &request, sizeof request,
                                              NULL, 0, &cb));
    EXPECT_EQ(77u, cb);
    EXPECT_EQ(before, SimKs_RequestCount(SIMKS_REQ_PROPERTY));
    EXPECT_EQ(2, TraceCount("CKsIrpTarget::SyncIoctl Invalid Handle"));
}

TEST_F(KsSyncIoctl, SynchronousAnswerKeepsItsCount) {
    ULONG cPins = 0, cb = 0;
    EXPECT_EQ(S_OK, Ask(KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins, &cb));
    EXPECT_EQ(sizeof cPins, cb);
    EXPECT_GT(cPins, 0u);
    ULONG cPinsAgain = 0;
    EXPECT_EQ(S_OK, Ask(KSPROPERTY_PIN_CTYPES, &cPinsAgain, sizeof cPinsAgain, NULL));
    EXPECT_EQ(cPins, cPinsAgain);
    EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl() Enter"));
    EXPECT_TRUE(Traced("CKsIrpTarget::SyncIoctl Leave, returning 00000000"));
}

TEST_F(KsSyncIoctl, SizeProbeGivesTheNeededSize) {
    ULONG cb = 0;
    EXPECT_EQ(S_OK, Ask(KSPROPERTY_PIN_DATARANGES, NULL, 0, &cb));
    EXPECT_GT(cb, sizeof(KSMULTIPLE_ITEM));
    EXPECT_EQ(1, SimKs_RequestCount(SIMKS_REQ_SIZE_PROBE));
}

// A failure carries the platform's error, so that the log can name it.
TEST_F(KsSyncIoctl, SizeErrorsOutsideAProbeFailWithTheirError) {
    Fault(KSPROPERTY_PIN_CTYPES, SIMKS_PROP_FAIL, ERROR_MORE_DATA);
    Fault(KSPROPERTY_PIN_DATAFLOW, SIMKS_PROP_FAIL, ERROR_INSUFFICIENT_BUFFER);
    ULONG value = 0, cb = 77;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA),
              Ask(KSPROPERTY_PIN_CTYPES, &value, sizeof value, &cb));
    EXPECT_EQ(0u, cb);
    cb = 77;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              Ask(KSPROPERTY_PIN_DATAFLOW, &value, sizeof value, &cb));
    EXPECT_EQ(0u, cb);
}

TEST_F(KsSyncIoctl, OtherErrorsFailEvenAProbe) {
    Fault(KSPROPERTY_PIN_DATARANGES, SIMKS_PROP_FAIL, ERROR_NOT_FOUND);
    ULONG cb = 77;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), Ask(KSPROPERTY_PIN_DATARANGES, NULL, 0, &cb));
    EXPECT_EQ(0u, cb);
}

TEST_F(KsSyncIoctl, PendingAnswerIsWaitedForAndCountsZero) {
    Fault(KSPROPERTY_PIN_CTYPES, SIMKS_PROP_LATE, 20);
    ULONG cPins = 0, cb = 77;
    EXPECT_EQ(S_OK, Ask(KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins, &cb));
    EXPECT_EQ(0u, cb);
    EXPECT_GT(cPins, 0u);
}

TEST_F(KsSyncIoctl, PendingProbeLeavesTheMultiReadEmpty) {
    SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, -1, &KSPROPSETID_Topology, SIMKS_ANY_ID,
                           SIMKS_PROP_LATE, 0);
    PKSMULTIPLE_ITEM pmi = NULL;
    EXPECT_EQ(S_OK,
              filter->GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pmi));
    EXPECT_EQ(NULL, pmi);
}

TEST_F(KsSyncIoctl, FailedProbeLeavesTheOutPointer) {
    SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, -1, &KSPROPSETID_Topology, SIMKS_ANY_ID,
                           SIMKS_PROP_FAIL, ERROR_NOT_FOUND);
    PKSMULTIPLE_ITEM pmi = (PKSMULTIPLE_ITEM)(ULONG_PTR)0x1234;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
              filter->GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pmi));
    EXPECT_EQ((PKSMULTIPLE_ITEM)(ULONG_PTR)0x1234, pmi);
}

TEST_F(KsSyncIoctl, AnswerShorterThanItsHeaderIsRefused) {
    SimKs_AddPropertyFault(SIMKS_DEFAULT_VERSATILE, -1, &KSPROPSETID_Topology, SIMKS_ANY_ID,
                           SIMKS_PROP_SHORT, 4);
    PKSMULTIPLE_ITEM pmi = NULL;
    EXPECT_EQ(E_FAIL,
              filter->GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pmi));
    EXPECT_EQ(NULL, pmi);
}

} // namespace
