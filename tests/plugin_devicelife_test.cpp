// A device's life under a stream, one group per event: a busy device, a device lost and back (and
// asleep), the pin released while paused, and the pre-roll. Each is judged on the bytes the
// devices received: what follows the loss whole and in order, nothing twice. The manual clock and
// the test's own removals, arrivals and sleeps drive every step.
#include "tests/plugin_fixture.h"
#include "tests/waits.h"
#include "tests/wavert_fixture.h"

#include <algorithm>

namespace {

const int kVersatile = SIMKS_DEFAULT_VERSATILE;
const char* const kBack = "Device back: Speakers (High Definition Audio Device) reopened with ";
const size_t kPacket = 8192;        // the default packet
const size_t kTrack = 12 * kPacket; // fits the ring and the packets: WriteAll needs no clock
const DWORD kRate = 44100 * 4;      // 16-bit stereo

struct DeviceLife : PluginFixture {
    std::vector<std::string> Settings() override { return {"logging_enabled=1"}; }
    void TearDown() override {
        if (initDone)
            MustReturn("Quit", [this] { mod->Quit(); });
        initDone = false;
        SimKs_SetNotifications(TRUE);
        PluginFixture::TearDown();
    }
    int LogCount(const char* text) {
        std::string log = Log();
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            n++;
        return n;
    }
    bool WaitLog(const char* text) {
        return WaitUntil([&] { return LogCount(text) > 0; });
    }
    // Opens, writes the track and lets the device play `played` of the eight packets it holds;
    // the player thread hands it new ones from the ring until `queued` are with it, and fills
    // the next one with what is left of the ring.
    void PlayInto(const std::vector<char>& pcm, int played, ULONG queued = 8) {
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
        ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
        int empty = mod->CanWrite();
        ASSERT_TRUE(WriteAll(pcm));
        ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
        ASSERT_EQ(played, SimKs_CompletePackets(0, played));
        ASSERT_TRUE(SimKs_WaitQueued(0, queued, kHangMs));
        ASSERT_TRUE(WaitUntil([&] { return mod->CanWrite() == empty || queued == 8; }));
    }
    // The rest plays at once, the host closes and waits for the end.
    void Finish() {
        SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
        MustReturn("Close", [this] { mod->Close(); });
    }
    bool StreamOpen(int stream) {
        SimKsStreamInfo info;
        return SimKs_GetStream(stream, &info) && info.Open;
    }
};

// ---- busy --------------------------------------------------------------------------------------

struct BusyCase {
    const char* what;
    DWORD createError; // KsCreatePin's answer, or 0
    ULONG held;        // instances another program holds, or 0
};

const BusyCase kBusy[] = {
    {"ERROR_BUSY", ERROR_BUSY, 0},
    {"STATUS_INSUFFICIENT_RESOURCES", ERROR_NO_SYSTEM_RESOURCES, 0},
    {"ERROR_DEVICE_IN_USE", ERROR_DEVICE_IN_USE, 0},
    {"instance counts all taken", 0, 4},
};

struct Busy : DeviceLife, ::testing::WithParamInterface<BusyCase> {};

// Two opens fail cleanly, the user is told once, the log each time; no other format is tried.
// Once the other program lets go, the device plays.
TEST_P(Busy, FailsCleanlyNamedOnceAndPlaysOnceFree) {
    const BusyCase& c = GetParam();
    SimKs_SetCreatePinError(kVersatile, c.createError);
    SimKs_SetHeldElsewhere(kVersatile, c.held);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(0, SimKs_StreamCount());
    ASSERT_EQ(1, SimKs_MessageBoxCount());
    EXPECT_EQ("Speakers (High Definition Audio Device) is in use by another program or by "
              "Windows' audio engine.\nStop other sound on this device and Quellor can play.",
              MessageBoxText(0));
    EXPECT_EQ(2, LogCount("Device busy: Speakers (High Definition Audio Device) is in use"));
    EXPECT_EQ(0, LogCount("adapted format"));
    EXPECT_EQ(0, LogCount("(2nd attempt)"));
    EXPECT_LE(SimKs_RequestCount(SIMKS_REQ_CREATE_PIN), 2 * 24) << "a bounded retry";
    SimKs_SetCreatePinError(kVersatile, 0);
    SimKs_SetHeldElsewhere(kVersatile, 0);
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    std::vector<char> pcm = Pcm16(kTrack / 2);
    ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    ASSERT_TRUE(WriteAll(pcm));
    mod->Close();
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, Busy, ::testing::ValuesIn(kBusy),
                         [](const ::testing::TestParamInfo<BusyCase>& i) {
                             return std::to_string(i.index);
                         });

// ---- loss and return ---------------------------------------------------------------------------

// How the device goes, and what comes meanwhile.
enum class Gone { kRemoved, kAsleep };
struct LossCase {
    const char* what;
    Gone gone;
    bool strangerFirst; // another device arrives before ours is back
    int flaps;          // removals and returns before the last return
    bool polled;        // the system gives no notifications: the engine looks for the device
};

const LossCase kLoss[] = {
    {"removed and back", Gone::kRemoved, false, 0, false},
    {"another device arrives first", Gone::kRemoved, true, 0, false},
    {"flapping", Gone::kRemoved, false, 40, false},
    {"asleep and awake", Gone::kAsleep, false, 0, false},
    {"no notifications", Gone::kRemoved, true, 0, true},
};

struct LossAndReturn : DeviceLife, ::testing::WithParamInterface<LossCase> {
    void AddDevices() override {
        SimKs_SetNotifications(!GetParam().polled);
        DeviceLife::AddDevices();
    }
};

// Three packets played, eight in flight when the device went (lost with it); the rest of the
// track plays on the device that came back, in order and once.
TEST_P(LossAndReturn, PlaysOnFromWhereTheDeviceStopped) {
    const LossCase& c = GetParam();
    std::vector<char> pcm = Pcm16(14 * kPacket / 2);
    PlayInto(pcm, 3);
    int backs = 0; // reopens before the device is back for good
    if (c.gone == Gone::kAsleep) {
        ASSERT_TRUE(SimKs_SleepDevice(kVersatile));
    } else {
        ASSERT_TRUE(SimKs_RemoveDevice(kVersatile));
        ASSERT_TRUE(WaitLog("Waiting up to 10000 ms for the device to come back"));
        EXPECT_EQ(1, mod->IsPlaying());
        EXPECT_EQ(0, mod->CanWrite());
        int time = mod->GetOutputTime();
        if (c.strangerFirst) {
            ASSERT_GE(AnnounceStranger(), 0);
        }
        for (int i = 0; i < c.flaps; i++) {
            SimKs_RestoreDevice(kVersatile);
            SimKs_RemoveDevice(kVersatile);
        }
        // A flapping device is really there for a moment, and may be opened meanwhile.
        if (c.flaps == 0) {
            EXPECT_EQ(time, mod->GetOutputTime()) << "held while waiting";
            EXPECT_EQ(1, SimKs_StreamCount()) << "nothing opened on a stranger or a gone device";
        }
        SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
        backs = LogCount(kBack);
        ASSERT_TRUE(SimKs_RestoreDevice(kVersatile));
    }
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_TRUE(WaitUntil([&] { return LogCount(kBack) > backs; }));
    Finish();
    EXPECT_EQ((int)(pcm.size() * 1000 / kRate), mod->GetOutputTime()) << "the lost audio counts";
    int last = SimKs_StreamCount() - 1;
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(last, &info));
    EXPECT_EQ(kVersatile, info.Device);
    EXPECT_TRUE(SameBytes(Consumed(0), std::vector<char>(pcm.begin(), pcm.begin() + 3 * kPacket)));
    // Each later pin played a slice of the track after the one before: in order, nothing twice.
    // A pin opened during a flap may lose what it held, the last one too.
    auto next = pcm.begin();
    for (int i = 1; i <= last; i++) {
        std::vector<char> slice = Consumed(i);
        auto at = std::search(next, pcm.end(), slice.begin(), slice.end());
        ASSERT_TRUE(at != pcm.end() || slice.empty()) << "pin " << i << " played out of order";
        next = slice.empty() ? next : at + slice.size();
    }
    if (c.flaps == 0) {
        EXPECT_TRUE(
            SameBytes(Consumed(last), std::vector<char>(pcm.begin() + 11 * kPacket, pcm.end())));
        EXPECT_EQ(1, LogCount(kBack));
    }
    EXPECT_EQ(0, LogCount("Device stopped:"));
}

INSTANTIATE_TEST_SUITE_P(EachWay, LossAndReturn, ::testing::ValuesIn(kLoss),
                         [](const ::testing::TestParamInfo<LossCase>& i) {
                             return std::to_string(i.index);
                         });

// What may end the wait: the host's close (at once), a device that is back and refuses the
// stream, or one that is back and busy. The stream then ends cleanly and the next one plays.
struct EndCase {
    const char* what;
    DWORD createError; // the device's answer when it is back; 0: it stays away, the host closes
    const char* logged;
};

const EndCase kEnds[] = {
    {"the host closes", 0, "The stream ends without its device"},
    {"back refusing the format", ERROR_NO_MATCH, "came back and cannot play the stream"},
    {"back and busy", ERROR_BUSY, "came back and cannot play the stream"},
};

struct WaitEnds : DeviceLife, ::testing::WithParamInterface<EndCase> {};

TEST_P(WaitEnds, TheStreamEndsCleanly) {
    const EndCase& c = GetParam();
    std::vector<char> pcm = Pcm16(kTrack / 2);
    PlayInto(pcm, 1);
    ASSERT_TRUE(SimKs_RemoveDevice(kVersatile));
    ASSERT_TRUE(WaitLog("Waiting up to"));
    if (c.createError) {
        SimKs_SetCreatePinError(kVersatile, c.createError);
        ASSERT_TRUE(SimKs_RestoreDevice(kVersatile));
        ASSERT_TRUE(WaitUntil([this] { return mod->IsPlaying() == 0; }));
    }
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_EQ(1, LogCount(c.logged));
    EXPECT_EQ(1, SimKs_StreamCount());
    SimKs_SetCreatePinError(kVersatile, 0);
    SimKs_RestoreDevice(kVersatile);
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    ASSERT_TRUE(WriteAll(pcm));
    mod->Close();
    EXPECT_TRUE(SameBytes(Consumed(1), pcm));
}

INSTANTIATE_TEST_SUITE_P(EachEnd, WaitEnds, ::testing::ValuesIn(kEnds),
                         [](const ::testing::TestParamInfo<EndCase>& i) {
                             return std::to_string(i.index);
                         });

// ---- release on pause and pre-roll -------------------------------------------------------------

struct PauseCase {
    const char* what;
    int prerollMs;
    bool gone;    // the device leaves while paused
    bool partial; // the pin is filling a packet with the ring's last half packet
};

const PauseCase kPauses[] = {
    {"released and back", 0, false, false},
    {"with a pre-roll", 100, false, false},
    {"gone while paused", 0, true, false},
    {"a packet partly filled", 0, false, true},
};

struct ReleaseOnPause : DeviceLife, ::testing::WithParamInterface<PauseCase> {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "release_on_pause_enabled=1",
                "preroll_ms=" + std::to_string(GetParam().prerollMs)};
    }
};

// Paused, the pin closes (another program may take the device); resumed, a new pin plays the
// pre-roll and then exactly what the old one had not played.
TEST_P(ReleaseOnPause, NothingLostOrRepeated) {
    const PauseCase& c = GetParam();
    std::vector<char> pcm = Pcm16((c.partial ? kTrack - kPacket / 2 : kTrack) / 2);
    size_t preroll = (size_t)c.prerollMs * kRate / 1000;
    if (c.partial)
        PlayInto(pcm, 4, 7);
    else
        PlayInto(pcm, 3);
    int time = mod->GetOutputTime();
    EXPECT_EQ(0, mod->Pause(1));
    EXPECT_EQ(time, mod->GetOutputTime()) << "held while released";
    EXPECT_FALSE(StreamOpen(0)) << "released";
    EXPECT_EQ(1, LogCount("Device released while paused"));
    EXPECT_EQ(1, mod->IsPlaying());
    if (c.gone)
        SimKs_RemoveDevice(kVersatile);
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    EXPECT_EQ(1, mod->Pause(0));
    if (c.gone) {
        EXPECT_EQ(0, mod->IsPlaying());
        EXPECT_EQ(1, LogCount("cannot be opened again (the device is gone); the stream ends"));
        MustReturn("Close", [this] { mod->Close(); });
        return;
    }
    MustReturn("Close", [this] { mod->Close(); });
    std::vector<char> first = Consumed(0), second = Consumed(1);
    std::vector<char> silence(preroll, 0);
    ASSERT_TRUE(HoldsAt(first, 0, silence));
    first.erase(first.begin(), first.begin() + (ptrdiff_t)preroll);
    ASSERT_TRUE(HoldsAt(second, 0, silence));
    second.erase(second.begin(), second.begin() + (ptrdiff_t)preroll);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_TRUE(SameBytes(first, pcm));
    EXPECT_EQ((int)(pcm.size() * 1000 / kRate), mod->GetOutputTime()) << "the pre-roll not counted";
}

INSTANTIATE_TEST_SUITE_P(EachCase, ReleaseOnPause, ::testing::ValuesIn(kPauses),
                         [](const ::testing::TestParamInfo<PauseCase>& i) {
                             return std::to_string(i.index);
                         });

struct Preroll : DeviceLife {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "preroll_ms=50", "gapless_enabled=1"};
    }
};

// A new pin plays the pre-roll first; the next track on the running pin (gapless) adds none. The
// first track outlasts what the packets hold, so the ring is not dry when the second one opens.
TEST_F(Preroll, OnlyNewPinsPlayIt) {
    SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    std::vector<char> a = Pcm16(kTrack / 2, 1), b = Pcm16(kPacket / 2, 2);
    std::vector<char> want(50 * kRate / 1000, 0);
    for (const std::vector<char>* track : {&a, &b}) {
        ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
        ASSERT_TRUE(WriteAll(*track));
        mod->Close();
        want.insert(want.end(), track->begin(), track->end());
    }
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_TRUE(WaitConsumed(0, want.size()));
    EXPECT_TRUE(SameBytes(Consumed(0), want));
    EXPECT_EQ(1, SimKs_StreamCount());
}

// ---- WaveRT -------------------------------------------------------------------------------------

struct RtLifeCase {
    const char* what;
    bool asleep; // the DMA engine stops in a sleep; else the pin is released while paused
};

const RtLifeCase kRtLife[] = {
    {"asleep: the play position stands still", true},
    {"released while paused", false},
};

struct WaveRtLife : WaveRtPlugin, ::testing::WithParamInterface<RtLifeCase> {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = WaveRtPlugin::Settings();
        s.push_back("release_on_pause_enabled=1");
        return s;
    }
    // What the stream played without the silence before and after its audio.
    std::vector<char> Audio(int stream) {
        std::vector<char> got = Consumed(stream);
        size_t lead = Lead(got, 0, 4), end = got.size() / 4 * 4;
        while (end > lead && !memcmp(&got[end - 4], "\0\0\0\0", 4))
            end -= 4;
        return std::vector<char>(got.begin() + (ptrdiff_t)lead, got.begin() + (ptrdiff_t)end);
    }
};

// Two halves played, then the pin goes; the new pin plays the rest to the end, nothing twice (and,
// released while paused, nothing lost). The DMA engine moves only by the test's steps.
TEST_P(WaveRtLife, PlaysOnWithNothingRepeated) {
    const RtLifeCase& c = GetParam();
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.5);
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(pcm.begin(), pcm.begin() + 16)));
    ASSERT_TRUE(StepQuarters(8));
    if (c.asleep) {
        ASSERT_TRUE(SimKs_SleepDevice(SIMKS_DEFAULT_WAVERT));
        ASSERT_TRUE(WaitUntil([] { return SimKs_StreamCount() >= 2; }));
        EXPECT_EQ(1, LogCount("stood still for"));
    } else {
        EXPECT_EQ(0, mod->Pause(1));
        EXPECT_EQ(1, mod->Pause(0));
    }
    stepper.Start();
    MustReturn("Close", [this] { mod->Close(); });
    stepper.Stop();
    ASSERT_EQ(2, SimKs_StreamCount());
    std::vector<char> first = Audio(0), second = Audio(1);
    EXPECT_TRUE(HoldsAt(pcm, 0, first));
    EXPECT_TRUE(HoldsAt(pcm, pcm.size() - second.size(), second)) << "the rest, to the end";
    EXPECT_LE(first.size() + second.size(), pcm.size()) << "nothing played twice";
    if (!c.asleep) {
        EXPECT_EQ(pcm.size(), first.size() + second.size()) << "nothing lost";
    }
}

INSTANTIATE_TEST_SUITE_P(EachWay, WaveRtLife, ::testing::ValuesIn(kRtLife),
                         [](const ::testing::TestParamInfo<RtLifeCase>& i) {
                             return std::to_string(i.index);
                         });

} // namespace
