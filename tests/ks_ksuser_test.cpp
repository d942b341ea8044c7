// The run-time binding of ksuser.dll's KsCreatePin. Its own executable: once bound, the binding
// lasts for the process, so these cases must run before any pin was created.
#include "ks_fixture.h"

namespace {

struct KsUserBinding : KsBareFixture {
    int device = -1;
    std::unique_ptr<CKsAudRenFilter> filter;
    std::unique_ptr<CKsAudRenPin> pin;
    void SetUp() override {
        KsBareFixture::SetUp();
        device = AddRenderDevice("\\\\?\\sim#render");
        filter = Open(device);
        HRESULT hr = E_FAIL;
        pin.reset(new CKsAudRenPin(filter.get(), 0, hr));
        WAVEFORMATEX wfx = Pcm(44100, 2, 16);
        ASSERT_EQ(S_OK, pin->SetFormat(&wfx));
    }
    void TearDown() override {
        pin.reset();
        filter.reset();
        KsBareFixture::TearDown();
    }
};

TEST_F(KsUserBinding, MissingLibraryOrExportFailsUntilFoundThenStaysBound) {
    SimKs_SetKsUser(SIMKS_KSUSER_NO_LIBRARY);
    EXPECT_EQ((HRESULT)0x80070002, pin->Instantiate(FALSE));
    EXPECT_EQ((HRESULT)0x80070002, pin->Instantiate(FALSE));
    EXPECT_EQ(2, SimKs_RequestCount(SIMKS_REQ_LOAD_KSUSER));
    EXPECT_EQ(2, TraceCount("Failed to instantiate pin. hr=0x80070002"));

    // The library is kept once loaded; the export is looked up again while it is missing.
    SimKs_SetKsUser(SIMKS_KSUSER_NO_EXPORT);
    EXPECT_EQ((HRESULT)0x80070002, pin->Instantiate(FALSE));
    EXPECT_EQ((HRESULT)0x80070002, pin->Instantiate(FALSE));
    EXPECT_EQ(3, SimKs_RequestCount(SIMKS_REQ_LOAD_KSUSER));
    EXPECT_EQ(0, SimKs_RequestCount(SIMKS_REQ_CREATE_PIN));

    SimKs_SetKsUser(SIMKS_KSUSER_OK);
    EXPECT_EQ(S_OK, pin->Instantiate(FALSE));
    EXPECT_TRUE(CKsIrpTarget::IsValidHandle(pin->m_handle));
    pin->ClosePin();

    // Bound for good: a library that goes missing later is not asked for again.
    SimKs_SetKsUser(SIMKS_KSUSER_NO_LIBRARY);
    EXPECT_EQ(S_OK, pin->Instantiate(FALSE));
    EXPECT_EQ(3, SimKs_RequestCount(SIMKS_REQ_LOAD_KSUSER));
}

} // namespace
