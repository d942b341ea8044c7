// Devices that stop making progress: a pin that fails or drops a state request at each point of a
// stream, a device that stops giving packets back, and one that keeps them even when its pin is
// closed. Close, Pause and Quit must return, and the log must say what happened.
#include "tests/plugin_fixture.h"
#include "tests/waits.h"

#include <ks.h>

namespace {

struct DeviceFaults : PluginFixture {
    std::vector<std::string> Settings() override { return {"logging_enabled=1"}; }
    void TearDown() override {
        if (initDone)
            MustReturn("Quit", [this] { mod->Quit(); });
        initDone = false;
        PluginFixture::TearDown();
    }
    bool LogHas(const char* text) { return Log().find(text) != std::string::npos; }
    bool StreamOpen(int stream) {
        SimKsStreamInfo info;
        return SimKs_GetStream(stream, &info) && info.Open;
    }
    void Play(size_t bytes) { EXPECT_TRUE(WriteAll(Pcm16(bytes / 2))); }
};

// One fault: which state requests it hits (the nth request for that state in the session below)
// and how. The stop that closing a pin makes first is not the engine's request: the close ends
// the pin whatever it answers, and only the trace notes a refusal.
struct StatePoint {
    ULONG state;
    ULONG nth;
    int mode;
    const char* where;
    bool enginesRequest = true;
    const char* logged = nullptr; // a line the end must have logged
};

const StatePoint kStatePoints[] = {
    {KSSTATE_RUN, 1, SIMKS_STATE_IGNORE, "run at open, dropped"},
    {KSSTATE_RUN, 1, SIMKS_STATE_FAIL, "run at open, failed"},
    {KSSTATE_PAUSE, 1, SIMKS_STATE_IGNORE, "pause, dropped"},
    {KSSTATE_PAUSE, 1, SIMKS_STATE_FAIL, "pause, failed"},
    // The case that hung: the pin stayed paused while the engine streamed into it.
    {KSSTATE_RUN, 2, SIMKS_STATE_IGNORE, "resume, dropped"},
    {KSSTATE_RUN, 2, SIMKS_STATE_FAIL, "resume, failed"},
    {KSSTATE_PAUSE, 2, SIMKS_STATE_IGNORE, "pause at close, dropped"},
    {KSSTATE_PAUSE, 2, SIMKS_STATE_FAIL, "pause at close, failed"},
    {KSSTATE_STOP, 1, SIMKS_STATE_IGNORE, "stop at close, dropped"},
    {KSSTATE_STOP, 1, SIMKS_STATE_FAIL, "stop at close, failed"},
    {KSSTATE_STOP, 2, SIMKS_STATE_IGNORE, "stop of the pin's close, dropped", false},
    {KSSTATE_STOP, 2, SIMKS_STATE_FAIL, "stop of the pin's close, failed", false},
};

struct StateFaults : DeviceFaults, ::testing::WithParamInterface<StatePoint> {};

// Open, play, pause, resume, play, close; then a second stream on a well-behaved device.
TEST_P(StateFaults, CloseAndQuitReturnAndTheNextStreamPlays) {
    const StatePoint& p = GetParam();
    ASSERT_TRUE(
        SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, p.state, p.mode, p.nth, 1, ERROR_GEN_FAILURE));
    int opened = mod->Open(44100, 2, 16, -1, -1);
    if (opened > 0) {
        Play(32768);
        MustReturn("Pause(1)", [this] { mod->Pause(1); });
        MustReturn("Pause(0)", [this] { mod->Pause(0); });
        // Fits beside all of the first part, should a refused resume leave the stream paused
        // before the player thread took any of it.
        Play(16384);
    }
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_FALSE(StreamOpen(0)) << "the pin is closed";
    if (p.mode == SIMKS_STATE_FAIL && p.enginesRequest) {
        EXPECT_TRUE(LogHas("failed, hr=0x8007001f")) << "the refusal and its cause are logged";
    }
    if (p.logged) {
        EXPECT_TRUE(LogHas(p.logged)) << p.logged;
    }

    SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, SIMKS_ANY_STATE, SIMKS_STATE_OK, 0, 0, 0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(16384);
    EXPECT_TRUE(WriteAll(pcm));
    MustReturn("Close", [this] { EXPECT_TRUE(EndTrack()); });
    EXPECT_TRUE(SameBytes(Consumed(SimKs_StreamCount() - 1), pcm));
}

INSTANTIATE_TEST_SUITE_P(EachPoint, StateFaults, ::testing::ValuesIn(kStatePoints),
                         [](const ::testing::TestParamInfo<StatePoint>& info) {
                             std::string name = info.param.where;
                             for (char& c : name)
                                 if (!isalnum((unsigned char)c))
                                     c = '_';
                             return name;
                         });

TEST_F(DeviceFaults, FailedResumeKeepsTheStreamPaused) {
    ASSERT_TRUE(SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, KSSTATE_RUN, SIMKS_STATE_FAIL, 2, 1,
                                    ERROR_GEN_FAILURE));
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    Play(16384);
    EXPECT_EQ(0, mod->Pause(1));
    EXPECT_EQ(1, mod->Pause(0));
    EXPECT_TRUE(LogHas("CKsPin::SetState(KSSTATE_RUN) failed, hr=0x8007001f"));
    EXPECT_TRUE(LogHas("Resume refused by the device: playback stays paused"));
    EXPECT_EQ(1, mod->Pause(0)) << "still paused, as the pin is; a second resume succeeds";
    EXPECT_EQ(0, mod->Pause(1));
    MustReturn("Close", [this] { mod->Close(); });
}

TEST_F(DeviceFaults, DeviceThatStopsGivingPacketsBackEndsTheStream) {
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 4.0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    Play(65536);
    ASSERT_TRUE(WaitConsumed(0, 16384));
    SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_CLOCK);
    Play(65536);
    MustReturn("the track's end", [this] { EXPECT_TRUE(EndTrack()); });
    EXPECT_TRUE(LogHas("Device stopped: no packet came back for "));
    EXPECT_FALSE(StreamOpen(0));
    SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_NONE);
    EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0) << "the engine goes on with a new pin";
    MustReturn("Close", [this] { mod->Close(); });
}

TEST_F(DeviceFaults, QuitDuringAStallReturns) {
    SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_CLOCK);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    Play(65536);
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    MustReturn("Quit", [this] { mod->Quit(); });
    initDone = false;
    EXPECT_FALSE(StreamOpen(0));
    EXPECT_TRUE(LogHas("Destructed KSCore"));
}

// A paused pin keeps its packets until it is stopped; one that ignores the stop gives them back
// when it is closed.
TEST_F(DeviceFaults, PacketsKeptPastTheStopComeBackWhenThePinCloses) {
    SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    ASSERT_TRUE(
        SimKs_SetStateFault(SIMKS_DEFAULT_VERSATILE, KSSTATE_STOP, SIMKS_STATE_IGNORE, 1, 1, 0));
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    Play(65536);
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    MustReturn("Pause(1)", [this] { mod->Pause(1); });
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_TRUE(LogHas("Device kept 8 of 8 packets after KSSTATE_STOP; closing its pin"));
    EXPECT_FALSE(LogHas("still holds"));
    EXPECT_FALSE(StreamOpen(0));
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0) << "every packet is the engine's again";
    MustReturn("Close", [this] { mod->Close(); });
}

// Packets that the device keeps even after its pin was closed may still be written to by it: the
// engine opens nothing more and its memory is never freed.
TEST_F(DeviceFaults, PacketsKeptPastTheCloseAreGivenUpForGood) {
    SimKs_SetHold(SIMKS_DEFAULT_VERSATILE, SIMKS_HOLD_ALL);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    Play(65536);
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    MustReturn("Pause(1)", [this] { mod->Pause(1); });
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_TRUE(LogHas("Device still holds 8 packets after its pin was closed; they are given up"));
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_TRUE(LogHas("Start refused: 8 packets are still with the device"));
    MustReturn("Quit", [this] { mod->Quit(); });
    initDone = false;
    EXPECT_TRUE(LogHas("The engine stays in memory"));
    EXPECT_FALSE(LogHas("Destructed KSCore"));
}

} // namespace
