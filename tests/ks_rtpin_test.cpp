// CKsRtPin against the simulated WaveRT device: recognition, creation with looped streaming, the
// buffer with and without notifications, the event, the position register and property, the
// stepwise states, and the faults of WaveRT drivers ending in clean errors.
#include "ks_fixture.h"

#include "ks/rtpin.h"

#include <string>

namespace {

const ULONG kSize = 1600; // asked for: halves of 200 frames of 16-bit stereo
const ULONG kHalf = kSize / 2;

std::string Violations(int stream = 0) {
    std::string all;
    SimKsViolation v;
    for (int i = 0; SimKs_GetViolation(stream, i, &v); ++i)
        all += v.Text + std::string("\n");
    return all;
}

// The states the simulated pin went through, as digits: "123" is ACQUIRE, PAUSE, RUN.
std::string States(int stream = 0) {
    std::string all;
    SimKsStateChange c;
    for (int i = 0; SimKs_GetStateChange(stream, i, &c); ++i)
        all += (char)('0' + c.State);
    return all;
}

// One WaveRT device whose filter is open with its pins listed, as the enumerator leaves it.
struct KsRtPin : KsBareFixture {
    int device = -1;
    std::unique_ptr<CKsAudRenFilter> filter;
    HANDLE event = NULL;

    void SetUp() override {
        KsBareFixture::SetUp();
        device = SimKs_AddWaveRtDevice(NULL, NULL, NULL);
        OpenFilter();
        event = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    void OpenFilter() {
        filter = Open(device);
        filter->m_bRealtime = TRUE;
        ASSERT_EQ(S_OK, filter->EnumeratePins());
    }
    void TearDown() override {
        filter.reset();
        CloseHandle(event);
        KsBareFixture::TearDown();
    }
    void Options(DWORD flags, ULONG fixedSize = 0, ULONG width = 0) {
        SimKsWaveRtOptions o = {flags, fixedSize, width, 0, 0, 0, {}};
        ASSERT_TRUE(SimKs_SetWaveRtOptions(device, &o));
    }
    // The render pin created as the engine creates it, 16-bit stereo at 48000 Hz (on a filter
    // opened again when the last one has handed out its pin).
    std::unique_ptr<CKsRtPin> Create() {
        if (!filter->m_listRenderSinkPins.m_pHead)
            OpenFilter();
        WAVEFORMATEXTENSIBLE wfx = Extensible(48000, 2, 16);
        CKsAudPin* pin = filter->CreateRenderPin(&wfx.Format, FALSE);
        EXPECT_NE(nullptr, CKsRtPin::FromPin(pin));
        return std::unique_ptr<CKsRtPin>(CKsRtPin::FromPin(pin));
    }
    static void Fill(CKsRtPin* pin) {
        BYTE* bytes = static_cast<BYTE*>(pin->m_Buffer.BufferAddress);
        for (ULONG i = 0; i < pin->m_Buffer.ActualBufferSize; i++)
            bytes[i] = (BYTE)(i * 7 + 1);
    }
    static LONG Requests() { return SimKs_RequestCount(SIMKS_REQ_PROPERTY); }
    // A pin set up as a client plays: buffer with notifications, event, register, filled, RUN.
    void MakeRunning(std::unique_ptr<CKsRtPin>& pin) {
        pin = Create();
        KSRTAUDIO_BUFFER buffer = {};
        ASSERT_EQ(S_OK, pin->GetBufferWithNotification(kSize, 2, &buffer));
        ASSERT_EQ(S_OK, pin->RegisterNotificationEvent(event));
        KSRTAUDIO_HWREGISTER reg = {};
        ASSERT_EQ(S_OK, pin->GetPositionRegister(&reg));
        Fill(pin.get());
        ASSERT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
    }
};

TEST_F(KsRtPin, EnumerationRecognisesOnlyLoopedPinsOfRealtimeFilters) {
    SimKs_ClearDebugLines();
    SimKs_AddDefaultDevices();
    // A realtime filter whose pin also offers standard streaming keeps the packet path.
    SimKsPinDesc both = RenderPin();
    both.cInterfaces = 2;
    both.Interfaces[1] = {KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 0};
    int mixed = AddRenderDevice("\\\\?\\sim#mixed", both);
    SimKs_AddCategory(mixed, &KSCATEGORY_REALTIME, SPINT_ACTIVE);
    // A looped-only pin on a filter outside KSCATEGORY_REALTIME is refused as before.
    SimKsPinDesc looped = RenderPin();
    looped.Interfaces[0].Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
    AddRenderDevice("\\\\?\\sim#looped", looped);

    HRESULT hr = E_FAIL;
    CKsEnumFilters filters(hr);
    const GUID categories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    ASSERT_EQ(S_OK, filters.EnumFilters(kFilterTypeRender, categories, 2, TRUE, FALSE, TRUE));
    std::string kinds;
    for (auto* n = filters.m_listFilters.m_pHead; n; n = n->pNext) {
        CKsFilter* f = n->pData;
        CKsPin* pin = f->m_listRenderSinkPins.m_pHead->pData;
        kinds += std::string(f->m_bRealtime ? "R" : "-") + (CKsRtPin::FromPin(pin) ? "W " : "P ");
    }
    EXPECT_EQ("RW -P -P RW RP ", kinds) << "WaveRT, three default devices, mixed; looped left out";
    EXPECT_EQ(2, TraceCount("is a WaveRT render pin"));
    EXPECT_EQ(1, TraceCount("No standard streaming interfaces on the pin"));
    EXPECT_EQ(0, TraceCount("No looped streaming interfaces on the pin"));
}

TEST_F(KsRtPin, PinIsCreatedWithLoopedStreamingAndStartsStopped) {
    std::unique_ptr<CKsRtPin> pin = Create();
    ASSERT_TRUE(pin);
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSINTERFACE_STANDARD_LOOPED_STREAMING, info.InterfaceId);
    EXPECT_EQ((WORD)WAVE_FORMAT_EXTENSIBLE, info.Format.Format.wFormatTag);
    EXPECT_TRUE(pin->m_bLooped);
    EXPECT_EQ(KSSTATE_STOP, pin->m_State);
    EXPECT_EQ(kPinTypeWaveRt, pin->m_PinType);
    EXPECT_EQ(E_INVALIDARG, pin->SetState((KSSTATE)4));
}

// The whole careful sequence with notifications: every step of the states is its own request,
// the event is unregistered once the pin has stopped, and the device sees no violation.
TEST_F(KsRtPin, EventDrivenSessionFollowsTheCarefulOrder) {
    std::unique_ptr<CKsRtPin> pin = Create();
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(S_OK, pin->GetBufferWithNotification(kSize, 2, &buffer));
    EXPECT_EQ(kSize, buffer.ActualBufferSize);
    EXPECT_EQ(kHalf, pin->m_cbHalf);
    EXPECT_EQ(2u, pin->m_nNotifications);
    ASSERT_EQ(S_OK, pin->RegisterNotificationEvent(event));
    KSRTAUDIO_HWREGISTER reg = {};
    ASSERT_EQ(S_OK, pin->GetPositionRegister(&reg));
    Fill(pin.get());
    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
    EXPECT_EQ("123", States());

    EXPECT_EQ(kHalf / 4 / 2, SimKs_AdvanceWaveRt(0, kHalf / 4 / 2));
    ULONG offset = 0;
    EXPECT_EQ(S_OK, pin->ReadPositionRegister(&offset));
    EXPECT_EQ(kHalf / 2, offset);
    SimKs_AdvanceWaveRt(0, kHalf / 4 / 2);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    EXPECT_EQ(S_OK, pin->GetAudioPosition(&offset));
    EXPECT_EQ(kHalf, offset);

    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_STOP));
    EXPECT_EQ("123210", States());
    SimKsWaveRtInfo info;
    ASSERT_TRUE(SimKs_GetWaveRt(0, &info));
    EXPECT_EQ(0u, info.EventsRegistered);
    EXPECT_EQ(nullptr, pin->m_hNotificationEvent);
    pin->ClosePin();
    EXPECT_EQ("", Violations());
    EXPECT_EQ(0, SimKs_StaleCount(0));
    EXPECT_EQ(TraceCount(" Enter"), TraceCount(" Leave"));
}

// Without notifications the buffer is asked for plainly and the position polled; the wrappers
// refuse, without a request, what does not fit that buffer.
TEST_F(KsRtPin, PolledSessionFallsBackToThePlainBuffer) {
    Options(SIMKS_RT_NO_NOTIFICATION);
    std::unique_ptr<CKsRtPin> pin = Create();
    KSRTAUDIO_BUFFER buffer = {};
    EXPECT_TRUE(FAILED(pin->GetBufferWithNotification(kSize, 2, &buffer)));
    ASSERT_EQ(S_OK, pin->GetBuffer(kSize, &buffer));
    EXPECT_EQ(0u, pin->m_nNotifications);
    LONG before = Requests();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->RegisterNotificationEvent(event));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->GetBuffer(kSize, &buffer));
    EXPECT_EQ(S_FALSE, pin->UnregisterNotificationEvent());
    EXPECT_EQ(before, Requests());
    EXPECT_EQ(E_INVALIDARG, pin->GetBufferWithNotification(kSize, 3, &buffer));

    KSRTAUDIO_HWREGISTER reg = {};
    ASSERT_EQ(S_OK, pin->GetPositionRegister(&reg));
    EXPECT_EQ(S_OK, pin->GetPositionRegister(&reg)) << "the mapping is kept, not asked again";
    Fill(pin.get());
    ASSERT_EQ(S_OK, pin->SetState(KSSTATE_RUN));
    SimKs_AdvanceWaveRt(0, 3 * kHalf / 4 / 2);
    ULONG fromRegister = 0, fromProperty = 0;
    EXPECT_EQ(S_OK, pin->ReadPositionRegister(&fromRegister));
    EXPECT_EQ(S_OK, pin->GetAudioPosition(&fromProperty));
    EXPECT_EQ(3 * kHalf / 2, fromRegister);
    EXPECT_EQ(fromRegister, fromProperty);
    pin.reset();
    EXPECT_EQ("", Violations());
}

TEST_F(KsRtPin, ActualSizeCountsAndUnplayableBuffersAreRefused) {
    Options(0, 2000);
    std::unique_ptr<CKsRtPin> pin = Create();
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(S_OK, pin->GetBufferWithNotification(kSize, 2, &buffer));
    EXPECT_EQ(2000u, buffer.ActualBufferSize);
    EXPECT_EQ(1000u, pin->m_cbHalf);
    pin.reset();

    struct {
        DWORD flags;
        ULONG size;
        const char* why;
    } cases[] = {{0, 1602, "its halves are not whole frames"},
                 {SIMKS_RT_ZERO_BUFFER, 0, "it has 0 bytes"}};
    for (auto& c : cases) {
        Options(c.flags, c.size);
        SimKs_ClearDebugLines();
        pin = Create();
        buffer = {};
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                  pin->GetBufferWithNotification(kSize, 2, &buffer));
        EXPECT_EQ(c.size, buffer.ActualBufferSize) << "the driver's answer is handed out";
        EXPECT_EQ(0u, pin->m_cbHalf);
        EXPECT_TRUE(Traced(c.why)) << c.why;
        ULONG offset = 7;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->GetAudioPosition(&offset));
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->RegisterNotificationEvent(event));
        EXPECT_EQ(7u, offset);
        pin.reset();
    }
}

TEST_F(KsRtPin, PositionsOutsideTheBufferAreNeverHandedOut) {
    Options(SIMKS_RT_POSITION_OUTSIDE, 0, 64);
    std::unique_ptr<CKsRtPin> pin = Create();
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(S_OK, pin->GetBufferWithNotification(kSize, 2, &buffer));
    KSRTAUDIO_HWREGISTER reg = {};
    ASSERT_EQ(S_OK, pin->GetPositionRegister(&reg));
    EXPECT_EQ(64u, reg.Width);
    ULONG offset = 7;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), pin->ReadPositionRegister(&offset));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), pin->GetAudioPosition(&offset));
    EXPECT_EQ(7u, offset);
    EXPECT_TRUE(Traced("lies outside the 1600-byte buffer"));
    Options(0, 0, 64);
    EXPECT_EQ(S_OK, pin->GetAudioPosition(&offset));
    EXPECT_EQ(0u, offset);
}

TEST_F(KsRtPin, MissingRegisterLeavesThePositionProperty) {
    Options(SIMKS_RT_NO_POSITION_REGISTER);
    std::unique_ptr<CKsRtPin> pin = Create();
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(S_OK, pin->GetBuffer(kSize, &buffer));
    KSRTAUDIO_HWREGISTER reg = {};
    EXPECT_TRUE(FAILED(pin->GetPositionRegister(&reg)));
    ULONG offset = 7;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->ReadPositionRegister(&offset));
    EXPECT_EQ(S_OK, pin->GetAudioPosition(&offset));
    EXPECT_EQ(0u, offset);
}

TEST_F(KsRtPin, PinHeldElsewhereIsSeenBeforeAndAtCreation) {
    Options(SIMKS_RT_IN_USE);
    CKsRtPin* pin = CKsRtPin::FromPin(filter->m_listRenderSinkPins.m_pHead->pData);
    ASSERT_NE(nullptr, pin);
    KSPIN_CINSTANCES counts = {};
    ASSERT_EQ(S_OK, pin->GetInstances(&counts));
    EXPECT_EQ(counts.PossibleCount, counts.CurrentCount);
    WAVEFORMATEXTENSIBLE wfx = Extensible(48000, 2, 16);
    EXPECT_EQ(nullptr, filter->CreateRenderPin(&wfx.Format, FALSE));
    EXPECT_TRUE(Traced("Failed to instantiate pin. hr=0x800700aa"));
}

// RUN refused: the pin stays in PAUSE and steps back down to STOP cleanly.
TEST_F(KsRtPin, RefusedRunLeavesThePinPausedAndClosable) {
    Options(SIMKS_RT_RUN_REFUSED);
    std::unique_ptr<CKsRtPin> pin = Create();
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(S_OK, pin->GetBufferWithNotification(kSize, 2, &buffer));
    ASSERT_EQ(S_OK, pin->RegisterNotificationEvent(event));
    Fill(pin.get());
    EXPECT_TRUE(FAILED(pin->SetState(KSSTATE_RUN)));
    EXPECT_EQ(KSSTATE_PAUSE, pin->m_State);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->UnregisterNotificationEvent());
    pin->ClosePin();
    EXPECT_EQ("1210", States());
    EXPECT_EQ("", Violations());
}

// Deleting a running pin steps it down, unregisters its event and closes it; after removal of the
// device the same path ends without a hang and without reading the register again.
TEST_F(KsRtPin, DeletingARunningPinClosesItCarefullyAlsoAfterRemoval) {
    for (int removed = 0; removed < 2; removed++) {
        std::unique_ptr<CKsRtPin> pin;
        ASSERT_NO_FATAL_FAILURE(MakeRunning(pin));
        if (removed) {
            SimKs_RemoveDevice(device);
            ULONG offset = 0;
            EXPECT_TRUE(FAILED(pin->GetAudioPosition(&offset)));
        }
        pin.reset();
        SimKsStreamInfo info;
        ASSERT_TRUE(SimKs_GetStream(removed, &info));
        EXPECT_FALSE(info.Open);
        EXPECT_EQ(removed ? "123" : "123210", States(removed));
        EXPECT_EQ("", Violations(removed));
    }
}

// A second Instantiate closes the first pin carefully and starts afresh.
TEST_F(KsRtPin, InstantiatingAgainStartsWithNothingOfTheOldPin) {
    std::unique_ptr<CKsRtPin> pin;
    ASSERT_NO_FATAL_FAILURE(MakeRunning(pin));
    ASSERT_EQ(S_OK, pin->Instantiate(FALSE));
    EXPECT_FALSE(pin->m_bHaveBuffer || pin->m_bHaveRegister || pin->m_hNotificationEvent);
    ULONG offset = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), pin->ReadPositionRegister(&offset));
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(S_OK, pin->GetBuffer(kSize, &buffer));
    EXPECT_EQ(2, SimKs_StreamCount());
    EXPECT_EQ("", Violations(0));
    EXPECT_EQ("123210", States(0));
}

} // namespace
