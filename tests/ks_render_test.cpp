// The KS layer end to end, as the engine drives it: enumerate the render devices, create a render
// pin (extensible format first, the plain form where it is refused), run it, write one packet,
// close it.
#include "ks_fixture.h"

#include "ks/rtpin.h"

#include <vector>

namespace {

struct KsRender : KsFixture {
    // Creates a render pin on filter as the engine's output opening does: the extensible format,
    // then its plain form.
    static CKsAudPin* CreateAsEngine(CKsAudRenFilter* filter, WAVEFORMATEXTENSIBLE* wfx) {
        CKsAudPin* pin = filter->CreateRenderPin(&wfx->Format, FALSE);
        if (pin)
            return pin;
        WORD bits = wfx->Format.wBitsPerSample;
        *wfx = {};
        wfx->Format = Pcm(44100, 2, bits);
        return filter->CreateRenderPin(&wfx->Format, FALSE);
    }

    // Runs the pin, plays one packet through the manual clock and closes the pin.
    static void PlayOnePacket(CKsAudPin* pin, int stream) {
        ASSERT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
        std::vector<BYTE> data(1764);
        for (size_t i = 0; i < data.size(); i++)
            data[i] = (BYTE)(i * 7);
        KSSTREAM_HEADER header = {};
        header.Size = sizeof header;
        header.Data = data.data();
        header.FrameExtent = header.DataUsed = (ULONG)data.size();
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        EXPECT_EQ(S_OK, pin->WriteData(&header, &overlapped));
        EXPECT_EQ(1, SimKs_CompletePackets(stream, 1));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, kHangMs));
        std::vector<BYTE> played(data.size());
        EXPECT_EQ(data.size(), SimKs_CopyConsumed(stream, 0, played.data(), (ULONG)played.size()));
        EXPECT_EQ(data, played);
        CloseHandle(overlapped.hEvent);
        pin->SetState(KSSTATE_PAUSE);
        pin->ClosePin();
        SimKsStreamInfo info;
        ASSERT_TRUE(SimKs_GetStream(stream, &info));
        EXPECT_FALSE(info.Open);
        EXPECT_EQ((ULONG)KSSTATE_STOP, info.State);
    }
};

// The WaveRT device of the default set takes no packets; its pin is only recognised here.
TEST_F(KsRender, EachDefaultPacketDevicePlaysOnePacket) {
    HRESULT hr = E_FAIL;
    std::unique_ptr<CKsEnumFilters> filters(new CKsEnumFilters(hr));
    ASSERT_EQ(S_OK, hr);
    const GUID categories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    ASSERT_EQ(S_OK, filters->EnumFilters(kFilterTypeRender, categories, 2, TRUE, FALSE, TRUE));
    ASSERT_EQ(3, filters->m_listFilters.m_lCount);
    CKsFilter* wavert = filters->m_listFilters.m_pTail->pData;
    EXPECT_TRUE(wavert->m_bRealtime);
    EXPECT_NE(nullptr, CKsRtPin::FromPin(wavert->m_listRenderSinkPins.m_pHead->pData));

    int stream = 0;
    for (auto* n = filters->m_listFilters.m_pHead; n->pData != wavert; n = n->pNext, stream++) {
        CKsAudRenFilter* filter = static_cast<CKsAudRenFilter*>(n->pData);
        WAVEFORMATEXTENSIBLE wfx = Extensible(44100, 2, 16);
        std::unique_ptr<CKsAudPin> pin(CreateAsEngine(filter, &wfx));
        ASSERT_NE(nullptr, pin) << filter->m_szFriendlyName;
        SimKsStreamInfo info;
        ASSERT_EQ(stream + 1, SimKs_StreamCount());
        ASSERT_TRUE(SimKs_GetStream(stream, &info));
        WORD expectedTag = stream == 0 ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
        EXPECT_EQ(expectedTag, info.Format.Format.wFormatTag);
        EXPECT_EQ(44100u, info.Format.Format.nSamplesPerSec);
        EXPECT_EQ(4u, info.SampleSize);
        EXPECT_EQ(stream == 0 ? 104u : 82u, info.FormatSize);
        PlayOnePacket(pin.get(), stream);
    }
    filters.reset();
    EXPECT_EQ(0, SimKs_MessageBoxCount());
}

// Every method brackets its work with one Enter and one Leave line, on every way out; below
// level 6 none of them is written.
TEST_F(KsRender, TraceIsBalancedAtSixAndSilentAtZero) {
    auto run = [] {
        HRESULT hr = E_FAIL;
        CKsEnumFilters filters(hr);
        const GUID categories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
        filters.EnumFilters(kFilterTypeRender, categories, 2, TRUE, TRUE, TRUE);
        CKsAudRenFilter* legacy =
            static_cast<CKsAudRenFilter*>(filters.m_listFilters.m_pHead->pNext->pData);
        WAVEFORMATEXTENSIBLE wfx = Extensible(44100, 2, 16);
        delete CreateAsEngine(legacy, &wfx);
    };
    run();
    int enters = TraceCount(" Enter"), leaves = TraceCount(" Leave");
    EXPECT_GT(enters, 100);
    EXPECT_EQ(enters, leaves);
    EXPECT_TRUE(Traced("CKsEnumFilters::EnumFilters Leave, returning 00000000"));
    EXPECT_TRUE(Traced("CKsAudPin::IsFormatSupported() Leave"));

    g_nTraceLevel = 0;
    SimKs_ClearDebugLines();
    run();
    EXPECT_EQ(0, SimKs_DebugLineCount());
}

} // namespace
