// The simulated WaveRT device on its own, driven by raw KS requests: the stepped DMA engine, its
// events, position register and position property, stale-half detection, the careful-client
// rules and the variants.
#include "testbed/client.h"
#include "testbed/simfixture.h"
#include "tests/waits.h"

#include "ks/wavert.h"

#include <cstdio>
#include <string>

using namespace bedtest;

namespace {

const ULONG kBlock = 4;   // 16-bit stereo
const ULONG kSize = 1600; // bytes of the buffer asked for: two halves of 200 frames
const ULONG kHalf = kSize / 2;
const ULONG kHalfFrames = kHalf / kBlock;

class BedWaveRt : public SimKsFixture {
  protected:
    void AddDevices() override { device = SimKs_AddWaveRtDevice(NULL, NULL, NULL); }
    void SetUp() override {
        SimKsFixture::SetUp();
        filter = OpenFilter(device);
        event = CreateEventA(NULL, FALSE, FALSE, NULL);
    }
    void TearDown() override {
        if (pin)
            CloseHandle(pin);
        CloseHandle(filter);
        CloseHandle(event);
        SimKsFixture::TearDown();
    }
    void Options(DWORD flags, ULONG fixedSize = 0, ULONG width = 0, ULONG eventLimit = 0) {
        SimKsWaveRtOptions o = {flags, fixedSize, width, eventLimit, 0, 0, {}};
        ASSERT_TRUE(SimKs_SetWaveRtOptions(device, &o));
    }
    DWORD Open() {
        return CreatePin(filter, Format(48000, 2, 16, true), &pin,
                         KSINTERFACE_STANDARD_LOOPED_STREAMING);
    }
    template <typename T> static T Request(ULONG id) {
        T r = {};
        r.Property.Set = KSPROPSETID_RtAudio;
        r.Property.Id = id;
        r.Property.Flags = KSPROPERTY_TYPE_GET;
        return r;
    }
    // notifications 0: KSPROPERTY_RTAUDIO_BUFFER; 1 or 2: with notifications.
    DWORD Buffer(ULONG size, ULONG notifications, KSRTAUDIO_BUFFER* out) {
        DWORD n = 0;
        if (!notifications) {
            auto r = Request<KSRTAUDIO_BUFFER_PROPERTY>(KSPROPERTY_RTAUDIO_BUFFER);
            r.RequestedBufferSize = size;
            return Ioctl(pin, IOCTL_KS_PROPERTY, &r, sizeof r, out, sizeof *out, &n);
        }
        auto r = Request<KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION>(
            KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION);
        r.RequestedBufferSize = size;
        r.NotificationCount = notifications;
        return Ioctl(pin, IOCTL_KS_PROPERTY, &r, sizeof r, out, sizeof *out, &n);
    }
    DWORD Event(ULONG id, HANDLE e) {
        auto r = Request<KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY>(id);
        r.NotificationEvent = e;
        DWORD n = 0;
        return Ioctl(pin, IOCTL_KS_PROPERTY, &r, sizeof r, NULL, 0, &n);
    }
    DWORD Register(KSRTAUDIO_HWREGISTER* out) {
        auto r = Request<KSRTAUDIO_HWREGISTER_PROPERTY>(KSPROPERTY_RTAUDIO_POSITIONREGISTER);
        DWORD n = 0;
        return Ioctl(pin, IOCTL_KS_PROPERTY, &r, sizeof r, out, sizeof *out, &n);
    }
    ULONGLONG Position() {
        KSPROPERTY p = {KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_GET};
        KSAUDIO_POSITION pos = {~0ull, ~0ull};
        DWORD n = 0;
        EXPECT_EQ(0u, Ioctl(pin, IOCTL_KS_PROPERTY, &p, sizeof p, &pos, sizeof pos, &n));
        EXPECT_EQ(pos.PlayOffset, pos.WriteOffset);
        return pos.PlayOffset;
    }
    // Sets each state in turn; returns the first error.
    DWORD Steps(std::initializer_list<KSSTATE> states) {
        for (KSSTATE s : states)
            if (DWORD e = SetState(pin, s))
                return e;
        return 0;
    }
    // A careful start: buffer with two notifications, event, register, whole buffer written,
    // then STOP, ACQUIRE, PAUSE, RUN.
    void Start() {
        ASSERT_EQ(0u, Open());
        ASSERT_EQ(0u, Buffer(kSize, 2, &buffer));
        ASSERT_EQ(0u, Event(KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT, event));
        ASSERT_EQ(0u, Register(&reg));
        Fill(0, kSize, 1);
        ASSERT_EQ(0u, Steps({KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}));
    }
    // A careful end: RUN, PAUSE, ACQUIRE, STOP, event unregistered, pin closed.
    void Stop() {
        EXPECT_EQ(0u, Steps({KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_STOP}));
        EXPECT_EQ(0u, Event(KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT, event));
        CloseHandle(pin);
        pin = NULL;
    }
    unsigned char* Bytes() { return static_cast<unsigned char*>(buffer.BufferAddress); }
    void Fill(ULONG offset, ULONG n, unsigned char seed) {
        for (ULONG i = 0; i < n; ++i)
            Bytes()[offset + i] = (unsigned char)(seed * 31 + (offset + i) * 7);
    }
    std::vector<unsigned char> Expected(ULONG offset, ULONG n, unsigned char seed) {
        std::vector<unsigned char> v(n);
        for (ULONG i = 0; i < n; ++i)
            v[i] = (unsigned char)(seed * 31 + (offset + i) * 7);
        return v;
    }
    std::vector<unsigned char> Consumed(ULONGLONG from, ULONG n) {
        std::vector<unsigned char> v(n);
        v.resize(SimKs_CopyConsumed(0, from, v.data(), n));
        return v;
    }
    ULONG RegisterValue() { return *static_cast<volatile ULONG*>(reg.Register); }
    bool Signalled() { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
    // The violations recorded, as text.
    std::string Violations() {
        std::string all;
        SimKsViolation v;
        for (int i = 0; SimKs_GetViolation(0, i, &v); ++i)
            all += std::to_string(v.Kind) + ": " + v.Text + "\n";
        return all;
    }
    int device = -1;
    HANDLE filter = INVALID_HANDLE_VALUE;
    HANDLE pin = NULL;
    HANDLE event = NULL;
    KSRTAUDIO_BUFFER buffer = {};
    KSRTAUDIO_HWREGISTER reg = {};
};

TEST_F(BedWaveRt, PinTakesOnlyLoopedStreamingAndNoWrites) {
    HANDLE standard = NULL;
    EXPECT_EQ((DWORD)ERROR_NO_MATCH, CreatePin(filter, Format(48000, 2, 16, true), &standard));
    ASSERT_EQ(0u, Open());
    Packet p(64);
    EXPECT_EQ((DWORD)ERROR_INVALID_FUNCTION, p.Submit(pin));
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSINTERFACE_STANDARD_LOOPED_STREAMING, info.InterfaceId);
}

TEST_F(BedWaveRt, SteppedEngineReadsTheBufferSignalsEachHalfAndKeepsThePosition) {
    Start();
    EXPECT_EQ(kSize, buffer.ActualBufferSize);
    EXPECT_FALSE(buffer.CallMemoryBarrier);
    EXPECT_EQ(32u, reg.Width);
    EXPECT_EQ(kHalfFrames / 2, SimKs_AdvanceWaveRt(0, kHalfFrames / 2));
    EXPECT_EQ(kHalf / 2, RegisterValue());
    EXPECT_EQ(kHalf / 2, Position());
    EXPECT_FALSE(Signalled());
    SimKs_AdvanceWaveRt(0, kHalfFrames / 2);
    EXPECT_TRUE(Signalled()) << "the end of the first half";
    Fill(0, kHalf, 2); // the half just played is rewritten
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_TRUE(Signalled()) << "the end of the second half";
    EXPECT_EQ(0u, RegisterValue());
    SimKs_AdvanceWaveRt(0, kHalfFrames);

    EXPECT_EQ(Expected(0, kSize, 1), Consumed(0, kSize));
    EXPECT_EQ(Expected(0, kHalf, 2), Consumed(kSize, kHalf));
    SimKsWaveRtInfo info;
    ASSERT_TRUE(SimKs_GetWaveRt(0, &info));
    EXPECT_EQ(3u, info.HalvesConsumed);
    EXPECT_EQ(3u, info.EventsSignalled);
    EXPECT_EQ(1u, info.PositionRequests);
    EXPECT_EQ(0, SimKs_StaleCount(0));
    Stop();
    EXPECT_EQ("", Violations());
}

TEST_F(BedWaveRt, HalfNotRewrittenIsReplayedAndFlagged) {
    Start();
    SimKs_AdvanceWaveRt(0, 2 * kHalfFrames); // one pass; nothing rewritten
    Fill(kHalf, kHalf / 2, 3);               // half of the second half only
    SimKs_AdvanceWaveRt(0, 2 * kHalfFrames);

    ASSERT_EQ(2, SimKs_StaleCount(0));
    SimKsStale whole, part;
    SimKs_GetStale(0, 0, &whole);
    SimKs_GetStale(0, 1, &part);
    EXPECT_EQ(0u, whole.Half);
    EXPECT_EQ(1u, whole.Pass);
    EXPECT_EQ(kSize, whole.StreamOffset);
    EXPECT_EQ(kHalf, whole.Bytes);
    EXPECT_EQ(1u, part.Half);
    EXPECT_EQ(kSize + kHalf + kHalf / 2, part.StreamOffset);
    EXPECT_EQ(kHalf / 2, part.Bytes);
    // The hardware played again what it had played there, not the marks.
    EXPECT_EQ(Expected(0, kHalf, 1), Consumed(kSize, kHalf));
    EXPECT_EQ(Expected(kHalf, kHalf / 2, 3), Consumed(kSize + kHalf, kHalf / 2));
    EXPECT_EQ(Expected(kHalf + kHalf / 2, kHalf / 2, 1),
              Consumed(kSize + kHalf + kHalf / 2, kHalf / 2));
}

// What a stepping test waits for: the half the engine is not in has been written since it was
// read, to its last word.
TEST_F(BedWaveRt, RewrittenSaysWhenTheEngineMayMoveOn) {
    Start();
    EXPECT_TRUE(SimKs_WaveRtRewritten(0)) << "nothing read yet";
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_FALSE(SimKs_WaveRtRewritten(0));
    Fill(0, kHalf - 8, 2);
    EXPECT_FALSE(SimKs_WaveRtRewritten(0)) << "its last word is still the engine's";
    Fill(kHalf - 8, 8, 2);
    EXPECT_TRUE(SimKs_WaitWaveRtRewritten(0, kHangMs));
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_FALSE(SimKs_WaitWaveRtRewritten(0, 20)) << "the second half was read, not rewritten";
    EXPECT_FALSE(SimKs_WaveRtRewritten(1)) << "no such stream";
    Stop();
}

TEST_F(BedWaveRt, BufferNeverWrittenPlaysSilenceAndItsRunIsAViolation) {
    ASSERT_EQ(0u, Open());
    ASSERT_EQ(0u, Buffer(kSize, 0, &buffer));
    ASSERT_EQ(0u, Steps({KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}));
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_EQ(std::vector<unsigned char>(kHalf, 0), Consumed(0, kHalf));
    EXPECT_EQ(1, SimKs_StaleCount(0));
    SimKsViolation v;
    ASSERT_TRUE(SimKs_GetViolation(0, 0, &v)) << Violations();
    EXPECT_EQ((ULONG)SIMKS_VIOLATION_RUN_UNFILLED, v.Kind);
}

TEST_F(BedWaveRt, CarelessRequestsAreRefusedAndRecorded) {
    ASSERT_EQ(0u, Open());
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, SetState(pin, KSSTATE_ACQUIRE)) << "no buffer yet";
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND,
              Event(KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT, event));
    ASSERT_EQ(0u, Buffer(kSize, 2, &buffer));
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, Buffer(kSize, 2, &buffer));
    Fill(0, kSize, 1);
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, SetState(pin, KSSTATE_RUN));
    ASSERT_EQ(0u, Event(KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT, event));
    ASSERT_EQ(0u, Steps({KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}));
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND,
              Event(KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT, event));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER,
              Event(KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT, filter));
    CloseHandle(pin);
    pin = NULL;

    const ULONG expected[] = {SIMKS_VIOLATION_OUT_OF_ORDER,      SIMKS_VIOLATION_OUT_OF_ORDER,
                              SIMKS_VIOLATION_REPEATED,          SIMKS_VIOLATION_STATE_JUMP,
                              SIMKS_VIOLATION_NOT_STOPPED,       SIMKS_VIOLATION_UNKNOWN_EVENT,
                              SIMKS_VIOLATION_CLOSED_REGISTERED, SIMKS_VIOLATION_NOT_STOPPED};
    ASSERT_EQ((int)(sizeof expected / sizeof expected[0]), SimKs_ViolationCount(0)) << Violations();
    for (int i = 0; i < SimKs_ViolationCount(0); ++i) {
        SimKsViolation v;
        SimKs_GetViolation(0, i, &v);
        EXPECT_EQ(expected[i], v.Kind) << i << ": " << v.Text;
    }
}

TEST_F(BedWaveRt, VariantsAnswerAsTheirDriversWould) {
    Options(SIMKS_RT_NO_NOTIFICATION | SIMKS_RT_NO_POSITION_REGISTER | SIMKS_RT_MEMORY_BARRIER,
            1000);
    ASSERT_EQ(0u, Open());
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, Buffer(kSize, 2, &buffer));
    ASSERT_EQ(0u, Buffer(kSize, 0, &buffer));
    EXPECT_EQ(1000u, buffer.ActualBufferSize);
    EXPECT_TRUE(buffer.CallMemoryBarrier);
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, Register(&reg));
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED,
              Event(KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT, event));
    Options(SIMKS_RT_RUN_REFUSED | SIMKS_RT_POSITION_OUTSIDE);
    memset(buffer.BufferAddress, 0, 1000);
    EXPECT_EQ(0u, Steps({KSSTATE_ACQUIRE, KSSTATE_PAUSE}));
    EXPECT_EQ((DWORD)ERROR_NOT_READY, SetState(pin, KSSTATE_RUN));
    EXPECT_GE(Position(), 1000u);
    EXPECT_EQ(0u, Steps({KSSTATE_ACQUIRE, KSSTATE_STOP}));
    EXPECT_EQ("", Violations());
}

TEST_F(BedWaveRt, PinHeldByAnotherClientIsBusy) {
    Options(SIMKS_RT_IN_USE);
    auto p = PinRequest(0, KSPROPERTY_PIN_CINSTANCES);
    KSPIN_CINSTANCES counts = {};
    DWORD n = 0;
    ASSERT_EQ(0u, Ioctl(filter, IOCTL_KS_PROPERTY, &p, sizeof p, &counts, sizeof counts, &n));
    EXPECT_EQ(1u, counts.PossibleCount);
    EXPECT_EQ(1u, counts.CurrentCount);
    EXPECT_EQ((DWORD)ERROR_BUSY, Open());
}

TEST_F(BedWaveRt, ZeroByteBufferAndWideRegister) {
    Options(SIMKS_RT_ZERO_BUFFER, 0, 64);
    ASSERT_EQ(0u, Open());
    ASSERT_EQ(0u, Buffer(kSize, 2, &buffer));
    EXPECT_EQ(0u, buffer.ActualBufferSize);
    EXPECT_NE(nullptr, buffer.BufferAddress);
    ASSERT_EQ(0u, Register(&reg));
    EXPECT_EQ(64u, reg.Width);
    EXPECT_EQ(0u, *static_cast<volatile ULONGLONG*>(reg.Register));
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, Register(&reg)) << "mapped once per pin";
}

TEST_F(BedWaveRt, EventThatStopsFiringLeavesTheEngineRunning) {
    Options(0, 0, 0, 2);
    Start();
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_TRUE(Signalled());
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_TRUE(Signalled());
    SimKs_AdvanceWaveRt(0, kHalfFrames);
    EXPECT_FALSE(Signalled());
    EXPECT_EQ(kHalf, RegisterValue());
}

TEST_F(BedWaveRt, RemovalStopsTheEngineAndExcusesTheClose) {
    Start();
    SimKs_AdvanceWaveRt(0, kHalfFrames / 2);
    ASSERT_TRUE(SimKs_RemoveDevice(device));
    EXPECT_EQ(0u, SimKs_AdvanceWaveRt(0, kHalfFrames));
    EXPECT_EQ(kHalf / 2, RegisterValue());
    EXPECT_EQ((DWORD)ERROR_DEVICE_REMOVED, SetState(pin, KSSTATE_PAUSE));
    CloseHandle(pin);
    pin = NULL;
    EXPECT_EQ("", Violations());
}

// The real-time engine moves by itself and signals; PAUSE holds it where it is.
TEST_F(BedWaveRt, RealTimeEngineSignalsAndPauseHoldsThePosition) {
    ASSERT_TRUE(SimKs_SetClock(SIMKS_CLOCK_REALTIME, 4.0));
    Start();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, kHangMs));
    ASSERT_EQ(0u, SetState(pin, KSSTATE_PAUSE));
    ULONGLONG held = Position();
    SimKsWaveRtInfo before, after;
    SimKs_GetWaveRt(0, &before);
    Sleep(30);
    SimKs_GetWaveRt(0, &after);
    EXPECT_EQ(held, Position());
    EXPECT_EQ(before.HalvesConsumed, after.HalvesConsumed);
    EXPECT_GE(after.HalvesConsumed, 1u);
    SimKsStreamInfo stream;
    SimKs_GetStream(0, &stream);
    EXPECT_EQ(0u, stream.ConsumedBytes % kBlock);
    EXPECT_EQ(held, stream.ConsumedBytes % kSize);
    std::printf("real-time engine: %llu bytes played before the pause\n", stream.ConsumedBytes);
}

// Buffer sizes as each driver variant rounds or refuses them; each request on a pin of its own.
TEST_F(BedWaveRt, SizesAreRoundedOrRefusedAsEachDriverDoes) {
    struct {
        DWORD flags;
        ULONG asked, notifications;
        DWORD error;
        ULONG size;
    } cases[] = {
        {0, 1602, 2, 0, 1602},
        {SIMKS_RT_ROUND_DOWN_FRAMES, 1602, 2, 0, 1600},
        {SIMKS_RT_ROUND_DOWN_FRAMES, 3, 0, ERROR_GEN_FAILURE, 0},
        {SIMKS_RT_COUNT_DIVIDES, 1601, 2, ERROR_INVALID_PARAMETER, 0},
        {SIMKS_RT_COUNT_DIVIDES, 1601, 0, 0, 1601},
        {SIMKS_RT_ROUND_UP_PAGES, 1600, 2, 0, 4096},
        {SIMKS_RT_ROUND_UP_PAGES, 8192, 1, 0, 8192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.flags) + ": " + std::to_string(c.asked));
        Options(c.flags);
        ASSERT_EQ(0u, Open());
        KSRTAUDIO_BUFFER b = {};
        EXPECT_EQ(c.error, Buffer(c.asked, c.notifications, &b));
        EXPECT_EQ(c.size, c.error ? 0 : b.ActualBufferSize);
        CloseHandle(pin);
        pin = NULL;
    }
    EXPECT_EQ("", Violations());
}

// Event jitter: the notifications given after the engine reached 3 frames before the first half's
// end, its end, 3 frames after it, and 3 frames after the second half's end; the position 3 frames
// ahead in the first pass and behind in the second.
TEST_F(BedWaveRt, JitteredEventsAndPositions) {
    struct {
        ULONG events;
        ULONG given[4];
    } cases[] = {
        {SIMKS_RT_EVENTS_EXACT, {0, 1, 1, 2}},       {SIMKS_RT_EVENTS_EARLY, {1, 1, 1, 2}},
        {SIMKS_RT_EVENTS_LATE, {0, 0, 1, 2}},        {SIMKS_RT_EVENTS_DOUBLED, {0, 2, 2, 4}},
        {SIMKS_RT_EVENTS_MISSED_ONCE, {0, 1, 1, 1}},
    };
    const ULONG steps[4] = {kHalfFrames - 3, 3, 3, kHalfFrames};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.events);
        SimKsWaveRtOptions o = {0, 0, 0, 0, 3, c.events, {}};
        ASSERT_TRUE(SimKs_SetWaveRtOptions(device, &o));
        Start();
        ULONG before = 0;
        SimKsWaveRtInfo info;
        ASSERT_TRUE(SimKs_GetWaveRt(SimKs_StreamCount() - 1, &info));
        before = info.EventsSignalled;
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(steps[i], SimKs_AdvanceWaveRt(SimKs_StreamCount() - 1, steps[i]));
            ASSERT_TRUE(SimKs_GetWaveRt(SimKs_StreamCount() - 1, &info));
            EXPECT_EQ(c.given[i], info.EventsSignalled - before) << "after step " << i;
            if (i == 0) {
                EXPECT_EQ(kHalf, Position()) << "3 frames ahead";
            }
        }
        EXPECT_EQ(0u, Position()) << "3 frames behind, in the second pass";
        Stop();
    }
}

TEST_F(BedWaveRt, LatencyIsAnsweredOnlyWhereTheDriverHasIt) {
    ASSERT_EQ(0u, Open());
    ASSERT_EQ(0u, Buffer(kSize, 2, &buffer));
    KSPROPERTY p = {KSPROPSETID_RtAudio, 2, KSPROPERTY_TYPE_GET};
    ULONG latency[3] = {};
    DWORD n = 0;
    EXPECT_EQ((DWORD)ERROR_NOT_FOUND,
              Ioctl(pin, IOCTL_KS_PROPERTY, &p, sizeof p, latency, sizeof latency, &n));
    SimKsWaveRtOptions o = {SIMKS_RT_LATENCY, 0, 0, 0, 0, 0, {256, 10000, 25000}};
    ASSERT_TRUE(SimKs_SetWaveRtOptions(device, &o));
    EXPECT_EQ(0u, Ioctl(pin, IOCTL_KS_PROPERTY, &p, sizeof p, latency, sizeof latency, &n));
    EXPECT_EQ(256u, latency[0]);
    EXPECT_EQ(10000u, latency[1]);
    EXPECT_EQ(25000u, latency[2]);
}

} // namespace

// Packet mode: the count of packets read, only the next packet taken (behind and ahead refused
// and counted), silence after the end-of-stream packet's audio instead of a stale replay.
TEST_F(BedWaveRt, PacketModeTakesTheNextPacketAndEndsInSilence) {
    KSPROPERTY count = {KSPROPSETID_RtAudio, 9, KSPROPERTY_TYPE_GET};
    ULONG packets = 0;
    DWORD n = 0;
    Start();
    EXPECT_EQ((DWORD)ERROR_NOT_FOUND,
              Ioctl(pin, IOCTL_KS_PROPERTY, &count, sizeof count, &packets, sizeof packets, &n))
        << "not offered";
    Options(SIMKS_RT_PACKET_MODE);
    struct {
        ULONG frames;    // the engine moves first
        ULONG packet;    // then the client says it wrote this one
        DWORD flags;     // 0x200: the last
        ULONG eosLength; // bytes of audio in the last
        ULONG wantCount; // PACKETCOUNT before the write
        DWORD wantError; // of the write
    } steps[] = {
        {kHalfFrames, 0, 0, 0, 1, ERROR_IO_DEVICE}, // packet 1 plays: 0 is behind
        {0, 3, 0, 0, 1, ERROR_IO_DEVICE},           // ahead
        {0, 2, 0, 0, 1, 0},                         // the next
        {kHalfFrames, 3, 0x200, kHalf / 2, 2, 0},   // the last, half of it audio
    };
    for (const auto& st : steps) {
        SimKs_AdvanceWaveRt(0, st.frames);
        if (!st.wantError)
            Fill(st.packet % 2 * kHalf, kHalf, (unsigned char)(st.packet + 1));
        EXPECT_EQ(
            0u, Ioctl(pin, IOCTL_KS_PROPERTY, &count, sizeof count, &packets, sizeof packets, &n));
        EXPECT_EQ(st.wantCount, packets) << st.packet;
        KSPROPERTY set = {KSPROPSETID_RtAudio, 12, KSPROPERTY_TYPE_SET};
        ULONG info[3] = {st.packet, st.flags, st.eosLength};
        EXPECT_EQ(st.wantError,
                  Ioctl(pin, IOCTL_KS_PROPERTY, &set, sizeof set, info, sizeof info, &n))
            << st.packet;
    }
    SimKs_AdvanceWaveRt(0, 3 * kHalfFrames); // packets 2 and 3, then one more
    EXPECT_EQ(Expected(0, kHalf, 3), Consumed(2 * kHalf, kHalf));
    EXPECT_EQ(Expected(kHalf, kHalf / 2, 4), Consumed(3 * kHalf, kHalf / 2));
    EXPECT_EQ(std::vector<unsigned char>(kHalf + kHalf / 2, 0),
              Consumed(3 * kHalf + kHalf / 2, kHalf + kHalf / 2));
    EXPECT_EQ(0, SimKs_StaleCount(0)) << "nothing after the end is judged";
    SimKsWaveRtInfo info;
    ASSERT_TRUE(SimKs_GetWaveRt(0, &info));
    EXPECT_EQ(2u, info.PacketsWritten);
    EXPECT_EQ(1u, info.PacketsLate);
    EXPECT_EQ(1u, info.PacketsOverrun);
    EXPECT_TRUE(info.EndOfStream);
    Stop();
}
