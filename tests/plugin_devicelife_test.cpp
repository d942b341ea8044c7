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
const int kQuickFails = 5;          // reopens of a device that fails after each, before it is gone
const DWORD kDeviceReturnMs = 10000;

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
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        int empty = mod->CanWrite();
        ASSERT_TRUE(WriteAll(pcm));
        ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
        ASSERT_EQ(played, SimKs_CompletePackets(0, played));
        ASSERT_TRUE(SimKs_WaitQueued(0, queued, kHangMs));
        ASSERT_TRUE(WaitUntil([&] { return mod->CanWrite() == empty || queued == 8; }));
    }
    // The rest plays at once, the host waits for the end and closes.
    void Finish() {
        SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
        MustReturn("the track's end", [this] { EndTrack(); });
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
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
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
    int backs = 0;   // reopens before the device is back for good
    int streams = 0; // pins opened before it
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
        streams = SimKs_StreamCount();
        ASSERT_TRUE(SimKs_RestoreDevice(kVersatile));
    }
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    // A device opened during a flap began the episode's quiet log: the last reopen is counted at
    // the episode's end, not logged, and shows as a new open pin.
    ASSERT_TRUE(WaitUntil([&] {
        int n = SimKs_StreamCount();
        return LogCount(kBack) > backs || (c.flaps && n > streams && StreamOpen(n - 1));
    }));
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
        ASSERT_TRUE(WaitLog("Audio dropped from now on"));
    }
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_EQ(1, LogCount(c.logged));
    EXPECT_EQ(1, SimKs_StreamCount());
    SimKs_SetCreatePinError(kVersatile, 0);
    SimKs_RestoreDevice(kVersatile);
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
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
    ULONG part;   // bytes the device played of the packet under way before the pause
};

const PauseCase kPauses[] = {
    {"released and back", 0, false, false, 0},
    {"with a pre-roll", 100, false, false, 0},
    {"gone while paused", 0, true, false, 0},
    {"a packet partly filled", 0, false, true, 0},
    {"a packet partly played", 0, false, false, 2552},
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
    ASSERT_EQ(c.part, SimKs_PlayPart(0, c.part));
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
        EXPECT_EQ(1, mod->IsPlaying()) << "waited for";
        EXPECT_EQ(1, LogCount("cannot be opened again (the device is gone)"));
        EXPECT_EQ(1, LogCount("Waiting up to 10000 ms"));
        MustReturn("Close", [this] { mod->Close(); });
        return;
    }
    MustReturn("the track's end", [this] { EndTrack(); });
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
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        ASSERT_TRUE(WriteAll(*track));
        mod->Close();
        want.insert(want.end(), track->begin(), track->end());
    }
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    ASSERT_TRUE(WaitConsumed(0, want.size()));
    EXPECT_TRUE(SameBytes(Consumed(0), want));
    EXPECT_EQ(1, SimKs_StreamCount());
}

// ---- every state times every event -------------------------------------------------------------

enum class State { kPlaying, kPaused, kReleased, kPlayingOut, kWaiting };
enum class Event { kFailsOnce, kFailsAfterReopen, kGoneForGood, kAnotherArrives, kComesBack };
const char* const kStateNames[] = {"Playing", "Paused", "Released", "PlayingOut", "Waiting"};
const char* const kEventNames[] = {"FailsOnce", "FailsAfterReopen", "GoneForGood", "AnotherArrives",
                                   "ComesBack"};

// A host call returns within a second of the device's answers: the watchdog is ten times that.
const DWORD kPromptMs = 10000;

DWORD WINAPI RunHostCall(LPVOID call) {
    (*static_cast<std::function<void()>*>(call))();
    return 0;
}

// A host call on a thread of its own, judged by the watchdog once it must have returned.
struct HostCall {
    std::function<void()> call;
    HANDLE thread = nullptr;
    void Start(std::function<void()> f) {
        call = std::move(f);
        thread = CreateThread(NULL, 0, RunHostCall, &call, 0, NULL);
    }
    void MustEnd(const char* what) {
        ASSERT_NE(nullptr, thread);
        bool prompt = WaitForSingleObject(thread, kPromptMs) == WAIT_OBJECT_0;
        EXPECT_TRUE(prompt) << what << " did not return within " << kPromptMs << " ms";
        if (!prompt)
            MustReturn(what, [this] { WaitForSingleObject(thread, INFINITE); });
        CloseHandle(thread);
        thread = nullptr;
    }
};

struct LifeCase {
    State state;
    Event event;
};

struct EveryLife : DeviceLife, ::testing::WithParamInterface<LifeCase> {
    std::vector<std::string> Settings() override {
        if (GetParam().state == State::kReleased)
            return {"logging_enabled=1", "release_on_pause_enabled=1"};
        return DeviceLife::Settings();
    }
    void Prompt(const char* what, std::function<void()> f) {
        HostCall c;
        c.Start(std::move(f));
        c.MustEnd(what);
    }
    // The device goes, as the event says; a waiting stream's device has gone already.
    void Leave(Event e) {
        if (e == Event::kFailsOnce || e == Event::kFailsAfterReopen) {
            SimKs_SetWriteFault(kVersatile, SIMKS_WRITE_IMMEDIATE, 1,
                                e == Event::kFailsOnce ? 1 : 0, ERROR_DEVICE_NOT_CONNECTED);
            if (GetParam().state == State::kWaiting) {
                ASSERT_TRUE(SimKs_RestoreDevice(kVersatile));
            }
            return;
        }
        if (GetParam().state != State::kWaiting) {
            ASSERT_TRUE(SimKs_RemoveDevice(kVersatile));
        }
        if (e == Event::kAnotherArrives) {
            ASSERT_GE(AnnounceStranger(), 0);
        }
        if (e == Event::kComesBack) {
            ASSERT_TRUE(SimKs_RestoreDevice(kVersatile));
        }
    }
    bool PlayedToEnd(const std::vector<char>& pcm) {
        std::vector<char> last = Consumed(SimKs_StreamCount() - 1);
        return last.size() >= 16 && !memcmp(&last[last.size() - 16], &pcm[pcm.size() - 16], 16);
    }
    // Every pin played a slice of the track after the one before: in order, nothing twice.
    void JudgeOrder(const std::vector<char>& pcm, bool whole) {
        auto next = pcm.begin();
        int last = SimKs_StreamCount() - 1;
        for (int i = 0; i <= last; i++) {
            std::vector<char> slice = Consumed(i);
            auto at = std::search(next, pcm.end(), slice.begin(), slice.end());
            ASSERT_TRUE(at != pcm.end() || slice.empty()) << "pin " << i << " out of order";
            next = slice.empty() ? next : at + slice.size();
        }
        if (whole) {
            EXPECT_TRUE(next == pcm.end()) << "the track played to its end";
        }
    }
};

// The device's life from each state through each event: every host call returns under the
// watchdog; a device that is back plays the rest in order and once; a device gone for good (or
// failing after every reopen) leaves the stream open without it, taking and dropping the audio
// until the host writes its end.
TEST_P(EveryLife, HostCallsReturnAndNothingPlaysTwice) {
    const LifeCase& c = GetParam();
    bool back = c.event == Event::kFailsOnce || c.event == Event::kComesBack;
    std::vector<char> pcm = Pcm16(14 * kPacket / 2);
    PlayInto(pcm, 3);
    if (c.state == State::kPaused || c.state == State::kReleased)
        Prompt("Pause", [this] { mod->Pause(1); });
    if (c.state == State::kWaiting) {
        ASSERT_TRUE(SimKs_RemoveDevice(kVersatile));
        ASSERT_TRUE(WaitLog("Waiting up to 10000 ms"));
    }
    HostCall close;
    if (c.state == State::kPlayingOut) {
        close.Start([this] { mod->Close(); });
        ASSERT_TRUE(WaitLog("EndInternal() - mode=1"));
    }
    Leave(c.event);
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    if (c.state == State::kPaused || c.state == State::kReleased)
        Prompt("Pause", [this] { mod->Pause(0); });
    if (c.state == State::kPlayingOut) {
        close.MustEnd("Close");
        JudgeOrder(pcm, false);
        EXPECT_LE(SimKs_StreamCount(), 2 + kQuickFails) << "reopened only as the episode allows";
        return;
    }
    if (!back && c.event != Event::kFailsAfterReopen) {
        ASSERT_TRUE(WaitLog("Waiting up to 10000 ms"));
        SimKs_AdvanceTicks(kDeviceReturnMs);
    }
    if (back) {
        ASSERT_TRUE(WaitUntil([&] { return PlayedToEnd(pcm); }));
        Prompt("Close", [this] { mod->Close(); });
        JudgeOrder(pcm, true);
        return;
    }
    ASSERT_TRUE(WaitLog("Audio dropped from now on"));
    std::vector<char> more = Pcm16(kPacket / 2);
    ASSERT_TRUE(WaitUntil([&] { return mod->CanWrite() >= (int)more.size(); }));
    EXPECT_EQ(0, mod->Write(more.data(), (int)more.size())) << "taken, and dropped";
    EXPECT_EQ(1, mod->IsPlaying());
    EXPECT_EQ(0, mod->Write(nullptr, 0));
    int time = mod->GetOutputTime();
    ASSERT_TRUE(WaitUntil([&] { return mod->GetOutputTime() > time; })) << "the time moves on";
    EXPECT_TRUE(WaitUntil([&] { return mod->IsPlaying() == 0; })) << "once the audio is dropped";
    Prompt("Close", [this] { mod->Close(); });
    JudgeOrder(pcm, false);
    if (c.event == Event::kFailsAfterReopen) {
        // The resume's reopen of a released pin comes before the episode.
        int resumed = c.state == State::kReleased ? 1 : 0;
        EXPECT_EQ(1, LogCount("Device failed again after reopening, 5 times"));
        EXPECT_EQ(1 + resumed, LogCount(kBack)) << "one line for the episode's reopens";
        EXPECT_EQ(c.state == State::kWaiting ? 0 : 1, LogCount("KS Packet write failed"));
        EXPECT_EQ(1 + resumed + kQuickFails, SimKs_StreamCount());
    } else {
        EXPECT_EQ(1, SimKs_StreamCount()) << "nothing opened on another device";
    }
    SimKs_SetWriteFault(kVersatile, SIMKS_WRITE_OK, 0, 0, 0);
    SimKs_RestoreDevice(kVersatile);
    EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0) << "the device is there again";
    Prompt("Close", [this] { mod->Close(); });
}

std::vector<LifeCase> AllLives() {
    std::vector<LifeCase> all;
    for (int s = 0; s < 5; s++)
        for (int e = 0; e < 5; e++)
            all.push_back(LifeCase{(State)s, (Event)e});
    return all;
}

INSTANTIATE_TEST_SUITE_P(EachStateAndEvent, EveryLife, ::testing::ValuesIn(AllLives()),
                         [](const ::testing::TestParamInfo<LifeCase>& i) {
                             return std::string(kStateNames[(int)i.param.state]) +
                                    kEventNames[(int)i.param.event];
                         });

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
    MustReturn("the track's end", [this] { EndTrack(); });
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
