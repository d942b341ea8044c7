// The player's seek, its time, the end of a track, the stop and the latency an open reports, on a
// packet device, judged on the bytes the device played and the positions it reached (manual
// clock), never on the wall clock.
#include "tests/plugin_fixture.h"

#include <ks.h>
#include <algorithm>

namespace {

const int kDevice = SIMKS_DEFAULT_VERSATILE;
const ULONG kRate = 176400; // bytes per second of 44.1 kHz 16-bit stereo
const ULONG kPacket = 8192;

SimKsStreamInfo Info(int stream) {
    SimKsStreamInfo info{};
    SimKs_GetStream(stream, &info);
    return info;
}

int Newest() {
    return SimKs_StreamCount() - 1;
}

// Completes the newest stream's packets until it has consumed count bytes in all.
bool PlayUntil(ULONGLONG count) {
    return WaitUntil([&] {
        SimKs_CompletePackets(Newest(), 8);
        return Info(Newest()).ConsumedBytes >= count;
    });
}

struct SeekCase {
    const char* name;
    const char* setting; // one more setting, or ""
    bool paused;         // the seek comes while paused: the resume plays the new audio
    bool lost;           // the seek comes while the stream waits for its lost device
    DWORD quirks;        // the device's reset quirks
    ULONG lead;          // the first pin's pre-roll, bytes
};

struct Seek : PluginFixture, ::testing::WithParamInterface<SeekCase> {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = {"logging_enabled=1"};
        if (*GetParam().setting)
            s.push_back(GetParam().setting);
        return s;
    }
    void SetUp() override {
        PluginFixture::SetUp();
        SimKsQuirks quirks = {};
        quirks.Flags = GetParam().quirks;
        SimKs_SetQuirks(kDevice, &quirks);
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    }
};

// Four packets of the old position with the device, one and a part of the next played: the seek
// leaves nothing more of it to play, and the new audio follows whole, with no new pre-roll.
TEST_P(Seek, TheNextWriteIsTheNextThingHeard) {
    const SeekCase& c = GetParam();
    std::vector<char> old = Pcm16(4 * kPacket / 2, 1), next = Pcm16(2 * kPacket / 2, 2);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_EQ(0, mod->Write(old.data(), (int)old.size()));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    ASSERT_EQ(1, SimKs_CompletePackets(0, 1));
    ASSERT_EQ(1000u, SimKs_PlayPart(0, 1000));
    ULONGLONG heard = Info(0).ConsumedBytes;
    if (c.paused)
        mod->Pause(1);
    if (c.lost) {
        ASSERT_TRUE(SimKs_RemoveDevice(kDevice));
        ASSERT_TRUE(WaitUntil([&] { return Log().find("Waiting up to") != std::string::npos; }));
    }
    mod->Flush(20000);
    SimKs_CompletePackets(0, 8);
    EXPECT_EQ(heard, Info(0).ConsumedBytes) << "nothing of the old position after the seek";
    EXPECT_EQ(0u, Info(0).Queued);
    EXPECT_EQ(20000, mod->GetOutputTime());
    EXPECT_EQ(20000, mod->GetWrittenTime());
    if (c.lost) { // the ring takes nothing while the device is awaited
        ASSERT_TRUE(SimKs_RestoreDevice(kDevice));
        ASSERT_TRUE(WaitUntil([&] { return mod->CanWrite() >= (int)next.size(); }));
    }
    ASSERT_EQ(0, mod->Write(next.data(), (int)next.size()));
    EXPECT_EQ(20000 + (int)(next.size() * 1000 / kRate), mod->GetWrittenTime());
    if (c.paused) {
        EXPECT_EQ((ULONG)KSSTATE_PAUSE, Info(Newest()).State) << "the seek keeps the pause";
        EXPECT_EQ(0, SimKs_CompletePackets(Newest(), 8));
        mod->Pause(0);
    }
    std::vector<char> want(c.lead, 0);
    if (!c.lost) {
        want.insert(want.end(), old.begin(), old.begin() + (size_t)(heard - c.lead));
        want.insert(want.end(), next.begin(), next.end());
    } else {
        want = next;
    }
    ASSERT_TRUE(PlayUntil(want.size()));
    EXPECT_TRUE(SameBytes(Consumed(Newest()), want));
    EXPECT_TRUE(WaitUntil([&] { return mod->GetOutputTime() == mod->GetWrittenTime(); }))
        << "all heard: " << mod->GetOutputTime() << " of " << mod->GetWrittenTime();
    mod->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Seek,
    ::testing::Values(SeekCase{"Playing", "", false, false, 0, 0},
                      SeekCase{"KeptPosition", "", false, false, SIMKS_QUIRK_RESET_KEEPS_POSITION,
                               0},
                      SeekCase{"NoReset", "", false, false, SIMKS_QUIRK_NO_RESET, 0},
                      SeekCase{"Paused", "", true, false, 0, 0},
                      SeekCase{"Gapless", "gapless_enabled=1", false, false, 0, 0},
                      SeekCase{"DeviceVolume", "hardware_volume_enabled=1", false, false, 0, 0},
                      SeekCase{"Preroll", "preroll_ms=20", false, false, 0, 3528},
                      SeekCase{"Lost", "", false, true, 0, 0}),
    [](const ::testing::TestParamInfo<SeekCase>& info) { return std::string(info.param.name); });

// One step of a time case, on the newest stream. heard and written: what GetOutputTime and
// GetWrittenTime say after it; kSkip, or kSoFar for the seek's time plus what the device played
// (or the host wrote) since.
enum TimeOp {
    kWrite,    // arg bytes more of the track (as the player writes them)
    kEnd,      // the host's end of its track
    kQueued,   // waits until arg packets are with the device
    kComplete, // the device plays arg whole packets
    kPart,     // the device plays arg bytes of the packet under way
    kHeld,     // the device plays nothing: no packet completes
    kPause,
    kResume,
    kFlush,   // a seek to arg ms
    kPlaying, // IsPlaying says arg
    kEnded,   // IsPlaying comes to say 0
    kPlayAll, // the device plays everything the host wrote, IsPlaying asked
    kClose,   // the host closes
    kStop,    // the host closes: the pin stops at once, nothing more plays
    kOpen,
};
const int kSkip = -1, kSoFar = -2;

struct TimeStep {
    TimeOp op;
    int arg, heard, written;
};

struct TimeCase {
    const char* name;
    const char* setting; // one more setting, or ""
    std::vector<TimeStep> steps;
};

struct Time : PluginFixture, ::testing::WithParamInterface<TimeCase> {
    std::vector<char> pcm = Pcm16(40 * kPacket / 2), sent; // the track; what the device may play
    size_t next = 0;                                       // the track's next byte to write
    bool open = false;
    int baseMs = 0;                      // the last seek's time
    ULONGLONG playedAt = 0, wroteAt = 0; // played and written at the last seek or open

    std::vector<std::string> Settings() override {
        if (*GetParam().setting)
            return {GetParam().setting};
        return {};
    }
    void SetUp() override {
        PluginFixture::SetUp();
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    }
    // Everything the streams so far consumed.
    ULONGLONG Played() {
        ULONGLONG n = 0;
        for (int i = 0; i < SimKs_StreamCount(); i++)
            n += Info(i).ConsumedBytes;
        return n;
    }
    int SoFar(ULONGLONG bytes) { return baseMs + (int)(bytes * 1000 / kRate); }
    void Run(const TimeStep& s);
};

void Time::Run(const TimeStep& s) {
    int stream = Newest();
    switch (s.op) {
    case kWrite:
        ASSERT_TRUE(WriteAll(std::vector<char>(pcm.begin() + next, pcm.begin() + next + s.arg)));
        sent.insert(sent.end(), pcm.begin() + next, pcm.begin() + next + s.arg);
        next += s.arg;
        break;
    case kEnd:
        EXPECT_EQ(0, mod->Write(nullptr, 0));
        break;
    case kQueued:
        ASSERT_TRUE(SimKs_WaitQueued(stream, s.arg, kHangMs));
        break;
    case kComplete:
        ASSERT_TRUE(SimKs_WaitQueued(stream, s.arg, kHangMs));
        ASSERT_EQ(s.arg, SimKs_CompletePackets(stream, s.arg));
        break;
    case kPart:
        ASSERT_TRUE(SimKs_WaitQueued(stream, 1, kHangMs));
        ASSERT_EQ((ULONG)s.arg, SimKs_PlayPart(stream, s.arg));
        break;
    case kHeld:
        EXPECT_EQ(0, SimKs_CompletePackets(stream, 8));
        break;
    case kPause:
    case kResume:
        mod->Pause(s.op == kPause);
        break;
    case kFlush:
        mod->Flush(s.arg);
        baseMs = s.arg;
        playedAt = Played();
        wroteAt = next;
        sent.resize((size_t)playedAt);
        break;
    case kPlaying:
        EXPECT_EQ(s.arg, mod->IsPlaying());
        break;
    case kEnded:
        EXPECT_TRUE(WaitUntil([&] { return mod->IsPlaying() == 0; }));
        break;
    case kPlayAll:
        ASSERT_TRUE(WaitUntil([&] {
            mod->IsPlaying(); // as the player asks at the end: the last partial packet goes
            SimKs_CompletePackets(Newest(), 8);
            return Played() >= sent.size();
        }));
        break;
    case kClose:
        mod->Close();
        open = false;
        break;
    case kStop: {
        ULONGLONG played = Played();
        MustReturn("Close", [this] { mod->Close(); });
        EXPECT_FALSE(Info(stream).Open);
        EXPECT_EQ(0, mod->IsPlaying());
        sent.resize((size_t)played);
        open = false;
        break;
    }
    case kOpen:
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        open = true;
        baseMs = 0;
        playedAt = Played();
        wroteAt = next;
        break;
    }
    ULONGLONG played = Played() - playedAt, wrote = next - wroteAt;
    if (s.heard != kSkip) {
        EXPECT_EQ(s.heard == kSoFar ? SoFar(played) : s.heard, mod->GetOutputTime())
            << played << " bytes played";
    }
    if (s.written != kSkip) {
        EXPECT_EQ(s.written == kSoFar ? SoFar(wrote) : s.written, mod->GetWrittenTime())
            << wrote << " bytes written";
    }
}

// The time is what the device played, within the packet under way, and stands still while
// paused; the written time is the host's bytes to the millisecond; both start at the seek's time.
// Judged at each step, and at the end on the bytes the device played: what the host wrote, less
// what a seek or a stop dropped.
TEST_P(Time, IsWhatTheDevicePlayed) {
    const TimeCase& c = GetParam();
    Run(TimeStep{kOpen, 0, 0, 0});
    for (size_t i = 0; i < c.steps.size() && !HasFatalFailure(); i++) {
        SCOPED_TRACE("step " + std::to_string(i));
        Run(c.steps[i]);
    }
    ASSERT_FALSE(HasFatalFailure());
    if (open)
        mod->Close();
    std::vector<char> got;
    for (int i = 0; i < SimKs_StreamCount(); i++) {
        std::vector<char> one = Consumed(i);
        got.insert(got.end(), one.begin(), one.end());
    }
    EXPECT_TRUE(SameBytes(got, sent));
}

const int kFour = 4 * kPacket;

INSTANTIATE_TEST_SUITE_P(
    Cases, Time,
    ::testing::Values(TimeCase{"Heard",
                               "",
                               {{kWrite, 8820, 0, 50},
                                {kWrite, kFour - 8820, 0, kSoFar},
                                {kQueued, 4, 0, kSkip},
                                {kPart, 1764, kSoFar, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kPart, 3528, kSoFar, kSkip},
                                {kComplete, 2, kSoFar, kSkip},
                                {kPlayAll, 0, kSoFar, kSkip},
                                {kEnded, 0, kSoFar, kSoFar}}},
                      TimeCase{"Paused",
                               "",
                               {{kWrite, kFour, 0, kSkip},
                                {kPart, 4410, 25, kSkip},
                                {kPause, 0, 25, kSkip},
                                {kHeld, 0, 25, kSkip},
                                {kResume, 0, 25, kSkip},
                                {kPlayAll, 0, kSoFar, kSoFar}}},
                      TimeCase{"ReleasedOnPause",
                               "release_on_pause_enabled=1",
                               {{kWrite, kFour, 0, kSkip},
                                {kPart, 4410, 25, kSkip},
                                {kPause, 0, 25, kSkip},
                                {kResume, 0, 25, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kPart, 1764, kSoFar, kSkip},
                                {kPlayAll, 0, kSoFar, kSoFar}}},
                      TimeCase{"Flushed",
                               "",
                               {{kWrite, kFour, 0, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kPart, 1000, kSoFar, kSkip},
                                {kFlush, 20000, 20000, 20000},
                                {kWrite, 2 * kPacket, 20000, 20092},
                                {kComplete, 1, 20046, kSkip},
                                {kPart, 1764, 20056, kSkip},
                                {kPlayAll, 0, 20092, 20092}}},
                      TimeCase{"TailAsked",
                               "",
                               {{kWrite, 3 * kPacket / 2, 0, kSkip},
                                {kQueued, 1, 0, kSkip},
                                {kPlaying, 1, kSkip, kSkip},
                                {kQueued, 2, kSkip, kSkip}, // the partly filled packet goes
                                {kComplete, 1, kSoFar, kSkip},
                                {kPlaying, 1, kSkip, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kEnded, 0, kSoFar, kSoFar}}},
                      TimeCase{"TailWritten",
                               "",
                               {{kWrite, 3 * kPacket / 2, 0, kSkip},
                                {kQueued, 1, 0, kSkip},
                                {kEnd, 0, kSkip, kSkip},
                                {kPlaying, 1, kSkip, kSkip},
                                {kQueued, 2, kSkip, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kPlaying, 1, kSkip, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kEnded, 0, kSoFar, kSoFar}}},
                      TimeCase{"Stopped",
                               "",
                               {{kWrite, kFour, 0, kSkip},
                                {kComplete, 1, kSoFar, kSkip},
                                {kStop, 0, kSkip, kSkip},
                                {kHeld, 0, kSkip, kSkip}}},
                      // The first track keeps the ring from running dry until the second is in; the
                      // new track's time is 0 until its first byte plays, then counts from it.
                      TimeCase{"GaplessNewTrack",
                               "gapless_enabled=1",
                               {{kWrite, 10 * kPacket, kSkip, kSkip},
                                {kQueued, 8, kSkip, kSkip},
                                {kClose, 0, kSkip, kSkip},
                                {kOpen, 0, 0, 0},
                                {kWrite, 2 * kPacket, 0, 92},
                                {kComplete, 8, 0, kSkip},
                                {kComplete, 2, 0, kSkip},
                                {kPart, 1764, 10, kSkip},
                                {kPlayAll, 0, 92, 92}}}),
    [](const ::testing::TestParamInfo<TimeCase>& info) { return std::string(info.param.name); });

struct RealTime : PluginFixture {};

// On the real-time clock the time follows the position the device reports, sampled every 20 ms
// while a second plays: the median error is printed; a time ahead of the device by more than the
// packet under way, or behind it by more than a packet, fails.
TEST_F(RealTime, TimeFollowsTheDevicesPosition) {
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 1.0);
    std::vector<char> pcm = Pcm16(kRate / 2);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(pcm));
    std::vector<int> errors;
    while (mod->IsPlaying() && errors.size() < 100) {
        ULONGLONG before = SimKs_PlayedBytes(0);
        int heard = mod->GetOutputTime();
        ULONGLONG after = SimKs_PlayedBytes(0);
        int low = (int)(before * 1000 / kRate), high = (int)(after * 1000 / kRate);
        errors.push_back(heard < low ? heard - low : heard > high ? heard - high : 0);
        Sleep(20);
    }
    ASSERT_FALSE(errors.empty());
    std::vector<int> sorted = errors;
    std::sort(sorted.begin(), sorted.end());
    printf("time against the device's position: median %d ms, from %d to %d ms, %u samples\n",
           sorted[sorted.size() / 2], sorted.front(), sorted.back(), (unsigned)sorted.size());
    EXPECT_GE(sorted.front(), -(int)(kPacket * 1000 / kRate));
    EXPECT_LE(sorted.back(), (int)(kPacket * 1000 / kRate));
    mod->Close();
}

struct LatencyCase {
    const char* name;
    const char* settings[2];
    int rate, channels, bits;
    int want; // ms, rounded up
};

struct OpenLatency : PluginFixture, ::testing::WithParamInterface<LatencyCase> {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s;
        for (const char* one : GetParam().settings) {
            if (*one)
                s.push_back(one);
        }
        return s;
    }
};

// The ring and the packets, each at the format it holds: 24-bit audio travels in 32-bit
// containers.
TEST_P(OpenLatency, IsWhatTheRingAndThePacketsHold) {
    const LatencyCase& c = GetParam();
    EXPECT_EQ(c.want, mod->Open(c.rate, c.channels, c.bits, -1, -1));
    mod->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenLatency,
    ::testing::Values(
        LatencyCase{"Default", {"", ""}, 44100, 2, 16, 744},
        LatencyCase{
            "Large", {"input_buffer_size=1048576", "output_buffer_size=65536"}, 44100, 2, 16, 8917},
        LatencyCase{"Wide", {"", ""}, 48000, 2, 24, 342},
        LatencyCase{"TwoPackets", {"output_buffer_cnt=2", ""}, 48000, 1, 16, 854}),
    [](const ::testing::TestParamInfo<LatencyCase>& info) { return std::string(info.param.name); });

} // namespace
