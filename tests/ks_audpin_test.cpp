// CKsAudPin: the interface and medium checks, which data ranges are saved (malformed ones
// included), the format test's bounds, and the connect block that SetFormat resizes.
#include "ks_fixture.h"

namespace {

const GUID kOtherGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
// The wave-format tag 3 as a subtype: KSDATAFORMAT_SUBTYPE_IEEE_FLOAT.
const GUID kWaveTag3 = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// A device with one pin described by each test, and the audio pin made of it.
struct KsAudPin : KsBareFixture {
    int device = -1;
    SimKsPinDesc desc = RenderPin();
    std::unique_ptr<CKsAudRenFilter> filter;
    std::unique_ptr<CKsAudPin> pin;
    HRESULT hr = E_PENDING;

    void TearDown() override {
        pin.reset();
        filter.reset();
        KsBareFixture::TearDown();
    }
    // Adds the pin as described so far, with a property fault on its data ranges if given, and
    // constructs the audio pin on it.
    void Make(int rangeFault = 0, ULONG param = 0) {
        device = AddRenderDevice("\\\\?\\sim#audpin", desc);
        if (rangeFault)
            SimKs_AddPropertyFault(device, 0, &KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES,
                                   rangeFault, param);
        filter = Open(device);
        pin.reset(new CKsAudPin(filter.get(), 0, hr));
    }
    void SetRange(ULONG i, const GUID& major, const GUID& sub, ULONG maxChannels) {
        desc.Ranges[i] = desc.Ranges[0];
        desc.Ranges[i].MajorFormat = major;
        desc.Ranges[i].SubFormat = sub;
        desc.Ranges[i].MaximumChannels = maxChannels;
        if (desc.cRanges <= i)
            desc.cRanges = i + 1;
    }
    std::vector<ULONG> SavedChannels() {
        std::vector<ULONG> channels;
        for (auto* n = pin->m_listDataRanges.m_pHead; n; n = n->pNext)
            channels.push_back(n->pData->MaximumChannels);
        return channels;
    }
    bool Supports(const WAVEFORMATEX& wfx) { return pin->IsFormatSupported(&wfx); }
    bool Supports(const WAVEFORMATEXTENSIBLE& wfx) { return pin->IsFormatSupported(&wfx.Format); }
};

TEST_F(KsAudPin, NeedsTheStandardInterface) {
    desc.Interfaces[0].Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
    Make();
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_TRUE(Traced("No standard streaming interfaces on the pin"));
}

TEST_F(KsAudPin, NeedsTheStandardMedium) {
    desc.cMediums = 2;
    desc.Mediums[0].Set = kOtherGuid;
    desc.Mediums[1] = desc.Mediums[0];
    Make();
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_TRUE(Traced("No standard streaming mediums on the pin"));
}

TEST_F(KsAudPin, NeedsAnAcceptableDataRange) {
    desc.cRanges = 0;
    Make();
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_TRUE(Traced("No audio dataranges on the pin"));
}

TEST_F(KsAudPin, RangesAreSavedFromTheFirstAcceptableSubformatOn) {
    SetRange(0, KSDATAFORMAT_TYPE_AUDIO, kOtherGuid, 1);
    SetRange(1, KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM, 2);
    SetRange(2, KSDATAFORMAT_TYPE_AUDIO, kOtherGuid, 3);
    SetRange(3, kOtherGuid, KSDATAFORMAT_SUBTYPE_PCM, 4);
    Make();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ((std::vector<ULONG>{2, 3}), SavedChannels());
}

TEST_F(KsAudPin, AcceptableRangesOfAnotherMajorFormatLeaveNothingToMatch) {
    SetRange(0, kOtherGuid, kWaveTag3, 2);
    SetRange(1, kOtherGuid, GUID_NULL, 2);
    Make();
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(SavedChannels().empty());
    EXPECT_FALSE(Supports(Pcm(44100, 2, 16)));
}

TEST_F(KsAudPin, RangeTooSmallForAnAudioRangeIsNotSaved) {
    SetRange(1, KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM, 6);
    Make(SIMKS_PROP_RANGE_SMALL, 72);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ((std::vector<ULONG>{6}), SavedChannels());
}

TEST_F(KsAudPin, RangeSmallerThanAKsDataRangeEndsTheWalk) {
    SetRange(1, KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM, 6);
    Make(SIMKS_PROP_RANGE_SMALL, 40);
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_TRUE(Traced("No audio dataranges on the pin"));
}

TEST_F(KsAudPin, RangeRunningPastTheBlockEndsTheWalk) {
    SetRange(1, KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM, 6);
    Make(SIMKS_PROP_RANGE_PAST, 8);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ((std::vector<ULONG>{2}), SavedChannels());
}

// Every range starts on an 8-byte boundary, after the attribute list of the one before if it has
// one, whatever the records' sizes.
TEST_F(KsAudPin, RangesAreFoundInEveryLayout) {
    const DWORD layouts[] = {SIMKS_RANGES_ATTRIBUTES, SIMKS_RANGES_TIGHT,
                             SIMKS_RANGES_ATTRIBUTES | SIMKS_RANGES_TIGHT};
    SetRange(1, KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM, 4);
    SetRange(2, KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM, 6);
    for (DWORD layout : layouts) {
        std::string path = "\\\\?\\sim#layout" + std::to_string(layout);
        device = AddRenderDevice(path.c_str(), desc);
        ASSERT_TRUE(SimKs_SetRangeLayout(device, layout));
        pin.reset();
        filter = Open(device);
        pin.reset(new CKsAudPin(filter.get(), 0, hr));
        EXPECT_EQ(S_OK, hr) << layout;
        EXPECT_EQ((std::vector<ULONG>{2, 4, 6}), SavedChannels()) << layout;
        EXPECT_TRUE(Supports(Pcm(48000, 2, 16))) << layout << ": the zeroed tail";
    }
}

TEST_F(KsAudPin, FormatBoundsAreInclusive) {
    Make(); // stereo, 8..16 bits, 8000..48000 Hz
    EXPECT_TRUE(Supports(Pcm(44100, 2, 16)));
    EXPECT_TRUE(Supports(Pcm(48000, 2, 16)));
    EXPECT_TRUE(Supports(Pcm(8000, 1, 8)));
    EXPECT_FALSE(Supports(Pcm(44100, 6, 16)));
    EXPECT_FALSE(Supports(Pcm(48001, 2, 16)));
    EXPECT_FALSE(Supports(Pcm(7999, 2, 16)));
    EXPECT_FALSE(Supports(Pcm(44100, 2, 24)));
    EXPECT_FALSE(Supports(Pcm(44100, 2, 4)));
}

TEST_F(KsAudPin, ExtensibleFormatIsTestedByItsSubFormat) {
    Make();
    EXPECT_TRUE(Supports(Extensible(44100, 2, 16)));
    EXPECT_FALSE(Supports(Extensible(44100, 2, 16, kWaveTag3)));
    WAVEFORMATEXTENSIBLE truncated = Extensible(44100, 2, 16);
    truncated.Format.cbSize = 6; // too short to carry a SubFormat
    EXPECT_FALSE(Supports(truncated));
}

TEST_F(KsAudPin, WildcardRangeTakesAnyFormatTag) {
    SetRange(0, KSDATAFORMAT_TYPE_AUDIO, GUID_NULL, 2);
    desc.Ranges[0].Specifier = GUID_NULL;
    Make();
    WAVEFORMATEX floatFormat = Pcm(44100, 2, 16);
    floatFormat.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    EXPECT_TRUE(Supports(floatFormat));
    EXPECT_TRUE(Supports(Extensible(44100, 2, 16, kWaveTag3)));
    EXPECT_FALSE(Supports(Extensible(44100, 3, 16, kWaveTag3)));
}

// The connect block: the KSPIN_CONNECT (64 bytes on i686, 72 on x86_64), a 64-byte KSDATAFORMAT,
// then the wave format (18 bytes plain, 40 extensible).
const ULONG kPlainBlock = sizeof(KSPIN_CONNECT) + 64 + 18;
const ULONG kWideBlock = sizeof(KSPIN_CONNECT) + 64 + 40;

TEST_F(KsAudPin, SetFormatResizesTheConnectBlock) {
    Make();
    WAVEFORMATEXTENSIBLE wide = Extensible(44100, 2, 32);
    wide.Samples.wValidBitsPerSample = 24;
    ASSERT_EQ(S_OK, pin->SetFormat(&wide.Format));
    EXPECT_EQ(kWideBlock, pin->m_cbPinCreate);
    EXPECT_EQ(104u, pin->m_pksDataFormatWfx->DataFormat.FormatSize);
    EXPECT_EQ(8u, pin->m_pksDataFormatWfx->DataFormat.SampleSize);
    EXPECT_EQ((BYTE*)(pin->m_pksPinCreate + 1), (BYTE*)pin->m_pksDataFormatWfx);
    EXPECT_EQ(0, memcmp(&wide, &pin->m_pksDataFormatWfx->WaveFormatEx, sizeof wide));
    EXPECT_TRUE(IsEqualGUID(KSINTERFACESETID_Standard, pin->m_pksPinCreate->Interface.Set));
    EXPECT_TRUE(
        IsEqualGUID(KSDATAFORMAT_SUBTYPE_PCM, pin->m_pksDataFormatWfx->DataFormat.SubFormat));

    WAVEFORMATEX plain = Pcm(44100, 2, 16);
    ASSERT_EQ(S_OK, pin->SetFormat(&plain));
    EXPECT_EQ(kPlainBlock, pin->m_cbPinCreate);
    EXPECT_EQ(82u, pin->m_pksDataFormatWfx->DataFormat.FormatSize);
    EXPECT_EQ(4u, pin->m_pksDataFormatWfx->DataFormat.SampleSize);
    EXPECT_TRUE(IsEqualGUID(KSMEDIUMSETID_Standard, pin->m_pksPinCreate->Medium.Set));

    PKSPIN_CONNECT block = pin->m_pksPinCreate;
    plain.nSamplesPerSec = 48000;
    ASSERT_EQ(S_OK, pin->SetFormat(&plain));
    EXPECT_EQ(block, pin->m_pksPinCreate);
    EXPECT_EQ(48000u, pin->m_pksDataFormatWfx->WaveFormatEx.nSamplesPerSec);
}

TEST_F(KsAudPin, FailedGrowthKeepsTheOldBlock) {
    Make();
    PKSPIN_CONNECT block = pin->m_pksPinCreate;
    WAVEFORMATEXTENSIBLE wide = Extensible(44100, 2, 16);
    SimKs_ArmAllocations(1);
    EXPECT_EQ(E_OUTOFMEMORY, pin->SetFormat(&wide.Format));
    SimKs_DisarmAllocations();
    EXPECT_EQ(block, pin->m_pksPinCreate);
    EXPECT_EQ(kPlainBlock, pin->m_cbPinCreate);
    EXPECT_TRUE(Traced("Unable to allocate KSPIN_CONNECT structure"));
}

} // namespace
