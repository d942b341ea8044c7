// The simulated WaveRT device's variants and faults through the plug-in DLL: buffers that cannot
// be played, a size other than the one asked for, the memory barrier, polling by the position
// property, positions outside the buffer, an event that stops firing, removal mid-stream, a pin
// held by another program and a refused RUN. Each open fails cleanly with its reason in the log,
// or plays bit for bit; Close and Quit always return.
#include "tests/wavert_fixture.h"

namespace {

struct WaveRtFault : WaveRtPlugin {
    // Options of the WaveRT device from the next request on.
    void Options(DWORD flags, ULONG fixedSize = 0, ULONG eventLimit = 0) {
        options = {flags, fixedSize, 0, eventLimit, 0, 0, {}};
        ASSERT_TRUE(SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &options));
    }
    // Plays half a second of 44.1 kHz 16-bit stereo with the stepper; "" when it arrived exactly.
    std::string PlayTrack() {
        std::vector<char> pcm = Pcm(44100, 2, 16, 0.5);
        if (mod->Open(44100, 2, 16, -1, -1) <= 0)
            return "the open failed";
        if (!WriteAll(pcm) || !WaitPrimed(std::vector<char>(pcm.begin(), pcm.begin() + 16)))
            return "the track did not go in";
        stepper.Start();
        EXPECT_TRUE(EndTrack());
        stepper.Stop();
        return PlayedExactly(pcm, 0, 4);
    }
};

TEST_F(WaveRtFault, UnplayableBuffersAreRefusedWithTheReason) {
    Options(SIMKS_RT_ZERO_BUFFER);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    Options(0, 16386);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("WaveRT buffer refused: 16384 bytes asked, the driver "
                                          "gave 0 bytes (4-byte frames): 0 bytes"));
    EXPECT_NE(std::string::npos, log.find("the driver gave 16386 bytes (4-byte frames): halves "
                                          "that are not whole frames"));
    for (int s = 0; s < SimKs_StreamCount(); s++) {
        SimKsStreamInfo info;
        ASSERT_TRUE(SimKs_GetStream(s, &info));
        EXPECT_FALSE(info.Open) << "the pin is closed again";
        EXPECT_EQ("", Violations(s));
    }
    EXPECT_EQ(0, SimKs_MessageBoxCount());
    Options(0);
    EXPECT_EQ("", PlayTrack()) << "the next open plays";
}

TEST_F(WaveRtFault, TheDriversSizeCounts) {
    Options(0, 24000);
    EXPECT_EQ("", PlayTrack());
    EXPECT_EQ(1, LogCount("buffer of 16384 bytes asked, 24000 bytes received"));
}

TEST_F(WaveRtFault, PolledByThePropertyWithTheMemoryBarrier) {
    Options(SIMKS_RT_NO_NOTIFICATION | SIMKS_RT_NO_POSITION_REGISTER | SIMKS_RT_MEMORY_BARRIER);
    EXPECT_EQ("", PlayTrack());
    EXPECT_EQ(1, LogCount("play position from the audio position property; memory barrier after "
                          "each write"));
    SimKsWaveRtInfo rt;
    ASSERT_TRUE(SimKs_GetWaveRt(0, &rt));
    EXPECT_GT(rt.PositionRequests, 10u);
}

// A position outside the buffer is never used: a polled stream that has no other is refused; an
// event-driven stream goes on by its notifications, the position logged once.
TEST_F(WaveRtFault, PositionOutsideTheBufferIsIgnored) {
    Options(SIMKS_RT_NO_NOTIFICATION | SIMKS_RT_POSITION_OUTSIDE);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(1, LogCount("WaveRT stream refused: no notifications and no play position to poll"));

    Options(0);
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.5);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(pcm.begin(), pcm.begin() + 16)));
    ASSERT_TRUE(StepQuarters(15)); // 30720 bytes: the end of the track is still to come
    Options(SIMKS_RT_POSITION_OUTSIDE);
    stepper.Start();
    EXPECT_TRUE(EndTrack());
    stepper.Stop();
    EXPECT_EQ("", PlayedExactly(pcm, 0, 4));
    EXPECT_EQ(1, LogCount("WaveRT play position outside the 16384-byte buffer: ignored"));
}

TEST_F(WaveRtFault, EventThatStopsFiringIsReplacedByPolling) {
    Options(0, 0, 3);
    EXPECT_EQ("", PlayTrack());
    EXPECT_EQ(1, LogCount("WaveRT notification event silent for"));
}

// Without notifications and without a position nothing tells where the hardware is: Close
// returns at once, and the next stream plays.
TEST_F(WaveRtFault, SilentEventWithoutPositionStillLetsCloseReturn) {
    Options(SIMKS_RT_POSITION_OUTSIDE, 0, 2);
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.5);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    // Two halves with their notification, each rewritten before the next; a third without.
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(2048u, SimKs_AdvanceWaveRt(0, 2048));
        ASSERT_TRUE(SimKs_WaitWaveRtRewritten(0, kHangMs));
    }
    SimKs_AdvanceWaveRt(0, 2048);
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_EQ(1, LogCount("play position from the notifications, counted"));
    Options(0);
    EXPECT_EQ("", PlayTrack());
}

// The stream waits for the removed device; the host's close ends the wait at once.
TEST_F(WaveRtFault, RemovalMidStreamEndsCleanlyAndTheNextOpenPlaysElsewhere) {
    std::vector<char> pcm = Pcm(44100, 2, 16, 1.0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(pcm.begin(), pcm.begin() + 16)));
    ASSERT_TRUE(StepQuarters(20)); // removed mid-track
    ASSERT_TRUE(SimKs_RemoveDevice(SIMKS_DEFAULT_WAVERT));
    stepper.Start();
    MustReturn("Close", [this] { mod->Close(); });
    stepper.Stop();
    EXPECT_EQ(1, LogCount("Device removed: "));
    EXPECT_EQ(0, LogCount("Device stopped:")) << "ended at once, not by the stall watch";
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(1, &info));
    EXPECT_EQ(SIMKS_DEFAULT_VERSATILE, info.Device) << "the first device, the chosen one is gone";
    mod->Close();
}

TEST_F(WaveRtFault, PinHeldByAnotherProgramMeansBusy) {
    Options(SIMKS_RT_IN_USE);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(0, SimKs_StreamCount()) << "no pin is tried";
    EXPECT_LE(1, LogCount("WaveRT device busy: Speakers (Realtek(R) Audio) is in use by another "
                          "program (1 of 1 pins taken)"));
    EXPECT_EQ(1, SimKs_MessageBoxCount());
    Options(0);
    EXPECT_EQ("", PlayTrack());
}

// As on the packet path: a refused RUN fails the open and leaves the output open; the next open
// ends it, stepping the pin down and unregistering its event in the careful order.
TEST_F(WaveRtFault, RefusedRunFailsTheOpenAndTheNextOpenEndsIt) {
    Options(SIMKS_RT_RUN_REFUSED);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(1, LogCount("CKsPin::SetState(KSSTATE_RUN) failed, hr=0x80070015"));
    Options(0);
    EXPECT_EQ("", PlayTrack());
    EXPECT_EQ(1, LogCount("StartInternal - Forcing End"));
    SimKsStreamInfo first;
    ASSERT_TRUE(SimKs_GetStream(0, &first));
    EXPECT_FALSE(first.Open);
    EXPECT_EQ("", Violations(0));
}

} // namespace
