// The plug-in on WaveRT drivers as they behave: sizes rounded down to frames or up to pages, a
// size the notification count must divide, packed 24-bit stereo (6-byte frames), positions and
// events a few frames off the half, no position register, a published packet alignment, packet
// mode offered. Each plays bit for bit with no stale replay, or is refused with the sizes it
// tried in the log.
#include "tests/wavert_fixture.h"

namespace {

struct WaveRtDriver : WaveRtPlugin {
    // Plays half a second in the format on the device with the options; "" when it arrived
    // exactly. Packed 24-bit samples reach the device packed: the device takes no extensible
    // format.
    std::string Play(const SimKsWaveRtOptions& o, int rate, int bits) {
        SimKsQuirks q = {};
        q.Flags = bits == 24 ? SIMKS_QUIRK_NO_EXTENSIBLE : 0;
        if (!SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &o) ||
            !SimKs_SetQuirks(SIMKS_DEFAULT_WAVERT, &q))
            return "bad options";
        std::vector<char> pcm = Pcm(rate, 2, bits, 0.5);
        if (mod->Open(rate, 2, bits, -1, -1) <= 0)
            return "the open failed";
        if (!WriteAll(pcm) || !WaitPrimed())
            return "the track did not go in";
        stepper.Start();
        EXPECT_TRUE(EndTrack());
        stepper.Stop();
        return PlayedExactly(pcm, 0, 2 * bits / 8);
    }
    // The newest stream's buffer size.
    ULONG Size() {
        SimKsWaveRtInfo rt = {};
        SimKs_GetWaveRt(SimKs_StreamCount() - 1, &rt);
        return rt.ActualSize;
    }
};

SimKsWaveRtOptions Variant(DWORD flags, ULONG jitter = 0, ULONG events = 0, ULONG fixed = 0) {
    SimKsWaveRtOptions o = {};
    o.Flags = flags;
    o.JitterFrames = jitter;
    o.Events = events;
    o.FixedBufferSize = fixed;
    return o;
}

TEST_F(WaveRtDriver, EveryVariantPlaysBitExact) {
    const DWORD polled = SIMKS_RT_NO_NOTIFICATION, noRegister = SIMKS_RT_NO_POSITION_REGISTER;
    struct {
        const char* name;
        SimKsWaveRtOptions options;
        int rate, bits;
        ULONG size; // of the buffer played
    } cases[] = {
        {"rounds down to frames", Variant(SIMKS_RT_ROUND_DOWN_FRAMES), 44100, 24, 16128},
        {"rounds up to pages, 6-byte frames", Variant(SIMKS_RT_ROUND_UP_PAGES), 48000, 24, 12288},
        {"rounds up to pages, polled", Variant(SIMKS_RT_ROUND_UP_PAGES | polled), 44100, 24, 12288},
        {"the count divides the size", Variant(SIMKS_RT_COUNT_DIVIDES), 44100, 16, 16384},
        {"192 kHz: at least 10 ms a half", Variant(0), 192000, 24, 23040},
        {"early events, jittered position", Variant(0, 3, SIMKS_RT_EVENTS_EARLY), 44100, 16, 16384},
        {"late events", Variant(0, 3, SIMKS_RT_EVENTS_LATE), 48000, 24, 16128},
        {"doubled events", Variant(0, 3, SIMKS_RT_EVENTS_DOUBLED), 44100, 16, 16384},
        {"an event missed", Variant(0, 3, SIMKS_RT_EVENTS_MISSED_ONCE), 44100, 16, 16384},
        {"position property only", Variant(noRegister, 3, SIMKS_RT_EVENTS_EARLY), 44100, 24, 16128},
        {"polled by the property", Variant(noRegister | polled, 3), 48000, 24, 16128},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ("", Play(c.options, c.rate, c.bits));
        EXPECT_EQ(c.size, Size());
    }
}

// A device that publishes a 1024-byte packet alignment and offers packet mode: the halves are
// whole 6-byte frames on 1024-byte boundaries, and the position-driven path plays it exactly.
// The constraints are read when the devices are listed.
struct PublishingDriver : WaveRtDriver {
    void SetUp() override {
        options = Variant(SIMKS_RT_CONSTRAINTS | SIMKS_RT_PACKET_MODE);
        WaveRtDriver::SetUp();
    }
};

TEST_F(PublishingDriver, PublishedAlignmentAndPacketModeOffered) {
    EXPECT_EQ("", Play(options, 48000, 24));
    EXPECT_EQ(18432u, Size());
    EXPECT_EQ(1, LogCount("1536 frames each; 1024-byte alignment"));
    EXPECT_EQ(1, LogCount("packet mode offered by the driver, not used"));
    SimKsWaveRtInfo rt = {};
    SimKs_GetWaveRt(SimKs_StreamCount() - 1, &rt);
    EXPECT_EQ(0u, rt.PacketsWritten);
}

// A driver that answers every size with halves that are not whole frames is asked a bounded
// number of times, a new pin each time, and refused with the sizes in the log; then a driver
// that accepts plays.
TEST_F(WaveRtDriver, NoSizeOfWholeFramesIsRefusedWithTheSizesTried) {
    SimKsWaveRtOptions o = Variant(0, 0, 0, 6);
    ASSERT_TRUE(SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &o));
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(1, LogCount("WaveRT stream refused: no buffer with halves of whole 4-byte frames; "
                          "bytes asked: 16384 (6 received), 3584 (6 received), 3840 (6 "
                          "received), 4096 (6 received)"));
    EXPECT_EQ(4, SimKs_StreamCount());
    for (int s = 0; s < SimKs_StreamCount(); s++)
        EXPECT_EQ("", Violations(s));
    EXPECT_EQ("", Play(Variant(0), 44100, 16));
}

// The hardware's latency comes off the output time: two halves played, the first of them the
// silence before the track's first byte, so 46 ms of the track have left the buffer, and 15 ms of
// FIFO, chipset and codec lie before the listener. A latency of 20 s is not believed.
TEST_F(WaveRtDriver, LatencyComesOffTheOutputTimeAndAbsurdOnesAreIgnored) {
    SimKsWaveRtOptions o = Variant(SIMKS_RT_LATENCY);
    o.Latency = {1764, 10000, 40000};
    ASSERT_TRUE(SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &o));
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.5);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed());
    EXPECT_EQ(0, mod->GetOutputTime());
    ASSERT_TRUE(StepQuarters(8));
    EXPECT_EQ(46 - 15, mod->GetOutputTime());
    stepper.Start();
    EXPECT_TRUE(EndTrack());
    stepper.Stop();
    EXPECT_EQ("", PlayedExactly(pcm, 0, 4));
    EXPECT_EQ(1, LogCount("WaveRT hardware latency: 15 ms (FIFO 1764 bytes, chipset 1000 us, "
                          "codec 4000 us)"));
    o.Latency = {0, 200000000, 0};
    EXPECT_EQ("", Play(o, 44100, 16));
    EXPECT_EQ(1, LogCount("WaveRT hardware latency ignored"));
}

// With the timer modelled as Windows runs it by default (waits end on 15.6 ms ticks), a stream
// that waits on time asks for the 1 ms timer while it is open, and plays; at 192 kHz a half lasts
// 10 ms and a polled wait 2 ms.
TEST_F(WaveRtDriver, StreamsThatWaitOnTimeRunTheTimerAtOneMillisecond) {
    SimKs_SetCoarseTimer(TRUE);
    const DWORD kinds[] = {SIMKS_RT_NO_NOTIFICATION, 0};
    for (DWORD flags : kinds) {
        SCOPED_TRACE(flags);
        SimKsWaveRtOptions o = Variant(flags);
        ASSERT_TRUE(SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &o));
        std::vector<char> pcm = Pcm(192000, 2, 24, 0.2);
        ASSERT_GT(mod->Open(192000, 2, 24, -1, -1), 0);
        EXPECT_EQ(1, SimKs_TimerPeriods());
        ASSERT_TRUE(WriteAll(pcm));
        ASSERT_TRUE(WaitPrimed());
        stepper.Start();
        EXPECT_TRUE(EndTrack());
        stepper.Stop();
        EXPECT_EQ(0, SimKs_TimerPeriods()) << "ended with the stream";
        EXPECT_EQ("", PlayedExactly(Widen24(pcm), 0, 8));
    }
    EXPECT_EQ(2, LogCount("; timer at 1 ms"));
}

} // namespace
