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

struct Time : PluginFixture {
    void SetUp() override {
        PluginFixture::SetUp();
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    }
};

// The time follows what the device played, within the packet under way, stands still while
// paused, and the written time is the host's bytes to the millisecond.
TEST_F(Time, HeardIsWhatTheDevicePlayedWrittenIsWhatTheHostWrote) {
    std::vector<char> pcm = Pcm16(4 * kPacket / 2);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_EQ(0, mod->Write(pcm.data(), 8820));
    EXPECT_EQ(50, mod->GetWrittenTime());
    ASSERT_EQ(0, mod->Write(pcm.data() + 8820, (int)pcm.size() - 8820));
    EXPECT_EQ((int)(pcm.size() * 1000 / kRate), mod->GetWrittenTime());
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    struct Step {
        int packets;
        ULONG part;
    } steps[] = {{0, 0}, {0, 1764}, {1, 0}, {0, 3528}, {2, 0}};
    for (const Step& s : steps) {
        SimKs_CompletePackets(0, s.packets);
        SimKs_PlayPart(0, s.part);
        ULONGLONG played = Info(0).ConsumedBytes;
        EXPECT_EQ((int)(played * 1000 / kRate), mod->GetOutputTime()) << played << " bytes played";
    }
    SimKs_CompletePackets(0, 8);
    EXPECT_TRUE(WaitUntil([&] { return mod->IsPlaying() == 0; }));
    EXPECT_EQ(mod->GetWrittenTime(), mod->GetOutputTime());
    mod->Close();
}

TEST_F(Time, StandsStillWhilePaused) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(4 * kPacket / 2);
    ASSERT_EQ(0, mod->Write(pcm.data(), (int)pcm.size()));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    SimKs_PlayPart(0, 4410);
    mod->Pause(1);
    EXPECT_EQ(25, mod->GetOutputTime());
    EXPECT_EQ(0, SimKs_CompletePackets(0, 1));
    EXPECT_EQ(25, mod->GetOutputTime());
    mod->Pause(0);
    mod->Close();
}

// On the real-time clock the time follows the position the device reports, sampled every 20 ms
// while a second plays: the median error is printed; a time ahead of the device by more than the
// packet under way, or behind it by more than a packet, fails.
TEST_F(Time, FollowsTheDevicesPositionOnTheRealTimeClock) {
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

struct GaplessTime : Time {
    std::vector<std::string> Settings() override { return {"gapless_enabled=1"}; }
};

// The first track keeps the ring from running dry until the second is in. The new track's time
// is 0 until its first byte plays, then counts from it.
TEST_F(GaplessTime, NewTrackCountsFromItsFirstByte) {
    std::vector<char> one = Pcm16(10 * kPacket / 2, 1), two = Pcm16(2 * kPacket / 2, 2);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_TRUE(WriteAll(one));
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    mod->Close();
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(0, mod->GetOutputTime());
    ASSERT_EQ(0, mod->Write(two.data(), (int)two.size()));
    EXPECT_EQ((int)(two.size() * 1000 / kRate), mod->GetWrittenTime());
    ASSERT_EQ(8, SimKs_CompletePackets(0, 8));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    ASSERT_EQ(2, SimKs_CompletePackets(0, 2));
    EXPECT_EQ(0, mod->GetOutputTime()) << "the first track has played, none of the second";
    ASSERT_EQ(1764u, SimKs_PlayPart(0, 1764));
    EXPECT_EQ(10, mod->GetOutputTime());
    ASSERT_TRUE(PlayUntil(one.size() + two.size()));
    EXPECT_EQ(mod->GetWrittenTime(), mod->GetOutputTime());
    mod->Close();
}

// The host asks IsPlaying, or writes the end, after its last write: the part of a packet left
// goes at once, IsPlaying says 1 until the device has played it, and the close loses nothing.
TEST_F(Time, TheTailPlaysWithoutWaitingForTheClose) {
    for (bool writeEnd : {false, true}) {
        SCOPED_TRACE(writeEnd ? "the end written" : "IsPlaying asked");
        std::vector<char> pcm = Pcm16(3 * kPacket / 4, writeEnd ? 2 : 1);
        ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        int stream = Newest();
        ASSERT_EQ(0, mod->Write(pcm.data(), (int)pcm.size()));
        ASSERT_TRUE(SimKs_WaitQueued(stream, 1, kHangMs));
        if (writeEnd) {
            EXPECT_EQ(0, mod->Write(nullptr, 0));
        }
        EXPECT_EQ(1, mod->IsPlaying());
        ASSERT_TRUE(SimKs_WaitQueued(stream, 2, kHangMs)) << "the partly filled packet goes";
        ASSERT_EQ(1, SimKs_CompletePackets(stream, 1));
        EXPECT_EQ(1, mod->IsPlaying()) << "half a packet still with the device";
        ASSERT_EQ(1, SimKs_CompletePackets(stream, 1));
        EXPECT_TRUE(WaitUntil([&] { return mod->IsPlaying() == 0; }));
        mod->Close();
        EXPECT_TRUE(SameBytes(Consumed(stream), pcm));
    }
}

// The user's stop: the close cancels what the device holds and ends the pin at once.
TEST_F(Time, CloseStopsAtOnce) {
    std::vector<char> pcm = Pcm16(4 * kPacket / 2);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    ASSERT_EQ(0, mod->Write(pcm.data(), (int)pcm.size()));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    ASSERT_EQ(1, SimKs_CompletePackets(0, 1));
    MustReturn("Close", [this] { mod->Close(); });
    EXPECT_FALSE(Info(0).Open);
    EXPECT_EQ(kPacket, Info(0).ConsumedBytes) << "nothing played after the close";
    EXPECT_EQ(0, mod->IsPlaying());
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
