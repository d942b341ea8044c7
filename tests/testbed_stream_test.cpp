// Streaming on a simulated pin: completion order and captured bytes, PAUSE and STOP, how long the
// real-time clock plays each packet, and the unpaced clock's completion inside the request.
#include "ks/ksplatform.h"
#include "testbed/client.h"
#include "testbed/simfixture.h"
#include "tests/waits.h"

#include <algorithm>

using namespace bedtest;

namespace {

class BedStream : public SimKsFixture {
  protected:
    void SetUp() override {
        SimKsFixture::SetUp();
        filter = OpenFilter(SIMKS_DEFAULT_VERSATILE);
        ASSERT_EQ(0u, CreatePin(filter, Format(48000, 2, 16, true), &pin));
    }
    void TearDown() override {
        CloseHandle(pin);
        CloseHandle(filter);
        SimKsFixture::TearDown();
    }
    std::vector<unsigned char> Consumed() {
        SimKsStreamInfo info;
        SimKs_GetStream(0, &info);
        std::vector<unsigned char> out((size_t)info.ConsumedBytes);
        out.resize(SimKs_CopyConsumed(0, 0, out.data(), (ULONG)out.size()));
        return out;
    }
    HANDLE filter = INVALID_HANDLE_VALUE;
    HANDLE pin = NULL;
};

TEST_F(BedStream, PacketsCompleteInOrderAndTheCapturedBytesAreTheWrittenOnes) {
    ASSERT_EQ(0u, SetState(pin, KSSTATE_RUN));
    Packet a(4000, 1), b(4000, 2), c(1000, 3);
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, a.Submit(pin));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, b.Submit(pin));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, c.Submit(pin));
    EXPECT_FALSE(a.Done());
    EXPECT_EQ(1, SimKs_CompletePackets(0, 1));
    EXPECT_TRUE(a.Done());
    EXPECT_FALSE(b.Done());
    EXPECT_EQ(0u, a.ov.Internal);
    EXPECT_EQ(sizeof(KSSTREAM_HEADER), a.ov.InternalHigh);
    EXPECT_EQ(2, SimKs_CompletePackets(0, 5));
    EXPECT_TRUE(b.Done() && c.Done());

    std::vector<unsigned char> expected = a.data;
    expected.insert(expected.end(), b.data.begin(), b.data.end());
    expected.insert(expected.end(), c.data.begin(), c.data.end());
    EXPECT_EQ(expected, Consumed());
    SimKsPacketInfo p;
    ASSERT_TRUE(SimKs_GetPacket(0, 2, &p));
    EXPECT_EQ(1000u, p.DataUsed);
    EXPECT_EQ((ULONG)SIMKS_PACKET_CONSUMED, p.Outcome);
    EXPECT_EQ(8000u, p.StreamOffset);
    // Running with nothing queued after the first packet is starvation.
    ASSERT_EQ(1, SimKs_StarvationCount(0));
}

TEST_F(BedStream, PauseHoldsTheClockAndStopCompletesQueuedPacketsUnplayed) {
    ASSERT_EQ(0u, SetState(pin, KSSTATE_PAUSE));
    Packet a(2000, 1), b(2000, 2);
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, a.Submit(pin));
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, b.Submit(pin));
    EXPECT_EQ(0, SimKs_CompletePackets(0, 2));
    EXPECT_FALSE(a.Done() || b.Done());
    ASSERT_EQ(0u, SetState(pin, KSSTATE_STOP));
    EXPECT_TRUE(a.Done() && b.Done());
    EXPECT_EQ(0xC0000120u, b.ov.Internal);
    EXPECT_TRUE(Consumed().empty());
    // A stopped pin takes no writes; the states were recorded in order.
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, a.Submit(pin));
    ASSERT_EQ(2, SimKs_StateChangeCount(0));
    SimKsStateChange s0, s1;
    SimKs_GetStateChange(0, 0, &s0);
    SimKs_GetStateChange(0, 1, &s1);
    EXPECT_EQ((ULONG)KSSTATE_PAUSE, s0.State);
    EXPECT_EQ((ULONG)KSSTATE_STOP, s1.State);
    EXPECT_LE(s0.TimeUs, s1.TimeUs);
}

TEST_F(BedStream, StateFaultsFailOrDropTheRequestsTheyCount) {
    // The second PAUSE fails, the RUN after it is dropped: answered, but the pin stays paused.
    ASSERT_TRUE(SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, KSSTATE_PAUSE, SIMKS_STATE_FAIL, 2, 1,
                                    ERROR_GEN_FAILURE));
    ASSERT_EQ(0u, SetState(pin, KSSTATE_PAUSE));
    EXPECT_EQ((DWORD)ERROR_GEN_FAILURE, SetState(pin, KSSTATE_PAUSE));
    EXPECT_EQ(0u, SetState(pin, KSSTATE_PAUSE)) << "only the second one";
    ASSERT_TRUE(
        SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, SIMKS_ANY_STATE, SIMKS_STATE_IGNORE, 1, 0, 0));
    EXPECT_EQ(0u, SetState(pin, KSSTATE_RUN));
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSSTATE_PAUSE, info.State);
    EXPECT_EQ(1, SimKs_StateChangeCount(0));
    SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, SIMKS_ANY_STATE, SIMKS_STATE_OK, 0, 0, 0);
    EXPECT_EQ(0u, SetState(pin, KSSTATE_RUN));
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSSTATE_RUN, info.State);
}

TEST_F(BedStream, HeldClockConsumesNothingButStopGivesThePacketsBack) {
    ASSERT_TRUE(SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0));
    ASSERT_TRUE(SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_CLOCK));
    ASSERT_EQ(0u, SetState(pin, KSSTATE_RUN));
    Packet a(2000, 1);
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, a.Submit(pin));
    EXPECT_FALSE(a.Done()) << "an unpaced device that holds completes nothing";
    ASSERT_EQ(0u, SetState(pin, KSSTATE_STOP));
    EXPECT_TRUE(a.Done());
    EXPECT_EQ(0xC0000120u, a.ov.Internal);
    EXPECT_TRUE(Consumed().empty());
}

TEST_F(BedStream, DeviceThatHoldsAllKeepsPacketsPastStopAndClose) {
    ASSERT_TRUE(SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_ALL));
    ASSERT_EQ(0u, SetState(pin, KSSTATE_RUN));
    Packet a(2000, 1);
    ASSERT_EQ((DWORD)ERROR_IO_PENDING, a.Submit(pin));
    EXPECT_EQ(0, SimKs_CompletePackets(0, 1));
    ASSERT_EQ(0u, SetState(pin, KSSTATE_STOP));
    CloseHandle(pin);
    pin = NULL;
    EXPECT_FALSE(a.Done());
    ASSERT_TRUE(SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_NONE));
    EXPECT_TRUE(a.Done()) << "letting go gives back what a closed pin kept";
    EXPECT_EQ(0xC0000120u, a.ov.Internal);
}

// The real-time clock, at each factor, while four packets are kept in flight: it never plays
// ahead of the format's byte rate times the factor, that is no packet completes before every
// byte up to its end could have played since the RUN. Consumed are the played packets and what
// the stop's cancelled head packet had played of itself.
// A loaded machine completes packets late, never early, so this holds at any speed; the rate and
// factor actually reached here are printed by testbed_bench.
TEST_F(BedStream, RealTimeClockNeverPlaysAheadOfTheRateTimesTheFactor) {
    const ULONG kPacket = 1920;
    for (double factor : {1.0, 4.0}) {
        SCOPED_TRACE(factor);
        CloseHandle(pin);
        ASSERT_EQ(0u, CreatePin(filter, Format(48000, 2, 16, true), &pin));
        ASSERT_TRUE(SimKs_SetClock(SIMKS_CLOCK_REALTIME, factor));
        int stream = SimKs_StreamCount() - 1;
        DWORD start = GetTickCount();
        ASSERT_TRUE(KeepFourInFlight(pin, kPacket, [&] {
            return SimKs_PacketCount(stream) >= 16 || GetTickCount() - start > kHangMs;
        }));
        SimKsStateChange run;
        ASSERT_TRUE(SimKs_GetStateChange(stream, 1, &run));
        ASSERT_EQ((ULONG)KSSTATE_RUN, run.State);
        LONGLONG packetUs = (LONGLONG)(kPacket * 1e6 / (48000 * 4 * factor));
        LONGLONG earliestEnd = run.TimeUs;
        ULONGLONG played = 0;
        SimKsPacketInfo p;
        for (int i = 0; SimKs_GetPacket(stream, i, &p) && p.Outcome == SIMKS_PACKET_CONSUMED; ++i) {
            earliestEnd = std::max(earliestEnd, p.SubmitUs) + packetUs;
            EXPECT_GE(p.CompleteUs, earliestEnd) << "packet " << i << " played early";
            played += p.DataUsed;
        }
        EXPECT_GE(played, 8u * kPacket);
        SimKsStreamInfo info;
        ASSERT_TRUE(SimKs_GetStream(stream, &info));
        EXPECT_GE(info.ConsumedBytes, played);
        EXPECT_LT(info.ConsumedBytes, played + kPacket);
    }
}

// Unpaced, a packet completes inside the request that submits it: its event is set when
// DeviceIoControl returns, and it completed between the call's start and its return.
TEST_F(BedStream, UnpacedClockCompletesEachPacketInsideItsRequest) {
    ASSERT_TRUE(SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0));
    ASSERT_EQ(0u, SetState(pin, KSSTATE_RUN));
    Packet p(8192);
    for (int i = 0; i < 50; ++i) {
        LONGLONG before = SimKs_Now();
        p.Submit(pin);
        LONGLONG after = SimKs_Now();
        ASSERT_TRUE(p.Done()) << "packet " << i;
        SimKsPacketInfo info;
        ASSERT_TRUE(SimKs_GetPacket(0, i, &info));
        EXPECT_EQ((ULONG)SIMKS_PACKET_CONSUMED, info.Outcome);
        EXPECT_LE(before, info.SubmitUs);
        EXPECT_LE(info.SubmitUs, info.CompleteUs);
        EXPECT_LE(info.CompleteUs, after) << "packet " << i;
    }
    EXPECT_EQ(50u * 8192, Consumed().size());
}

} // namespace
