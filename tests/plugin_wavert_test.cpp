// Streams through the plug-in DLL to the simulated WaveRT device, event-driven and polled: bit for
// bit at four formats, a gapless pair, pause and resume, close while paused, the end of a stream,
// a slow host, the real-time clock; and the volume, against the packet path.
#include "tests/wavert_fixture.h"

#include "tools/common/hostenv.h"

#include <algorithm>
#include <cstring>

namespace {

// The parameter: true for the polled device (no notifications), false for the event-driven one.
struct WaveRtStream : WaveRtPlugin, ::testing::WithParamInterface<bool> {
    void SetUp() override {
        if (GetParam())
            options.Flags |= SIMKS_RT_NO_NOTIFICATION;
        WaveRtPlugin::SetUp();
    }
    const char* Kind() {
        return GetParam() ? "WaveRT stream, polled every" : "WaveRT stream, event-driven";
    }
    // Writes the track, lets the engine put its start in place, and steps the device from then.
    void WriteAndStep(const std::vector<char>& pcm, const std::vector<char>& asPlayed) {
        ASSERT_TRUE(WriteAll(pcm));
        ASSERT_TRUE(WaitPrimed(std::vector<char>(asPlayed.begin(), asPlayed.begin() + 16)));
        stepper.Start();
    }
};

TEST_P(WaveRtStream, FourFormatsArriveBitExact) {
    struct {
        int rate, channels, bits;
        ULONG block;
    } formats[] = {{44100, 2, 16, 4}, {48000, 2, 24, 8}, {96000, 2, 32, 8}, {22050, 1, 8, 1}};
    for (const auto& f : formats) {
        SCOPED_TRACE(std::to_string(f.rate) + " Hz, " + std::to_string(f.bits) + " bits");
        std::vector<char> pcm = Pcm(f.rate, f.channels, f.bits, 0.5);
        std::vector<char> asPlayed = f.bits == 24 ? Widen24(pcm) : pcm;
        Open(f.rate, f.channels, f.bits);
        WriteAndStep(pcm, asPlayed);
        EXPECT_TRUE(EndTrack());
        stepper.Stop();
        EXPECT_EQ("", PlayedExactly(asPlayed, f.bits == 8 ? 0x80 : 0, f.block));
    }
    EXPECT_EQ(4, LogCount(Kind()));
    EXPECT_EQ(4, LogCount("received (2 halves of"));
}

TEST_P(WaveRtStream, PauseHoldsThePositionAndResumeLosesNothing) {
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.5);
    Open(44100, 2, 16);
    WriteAndStep(pcm, pcm);
    ASSERT_TRUE(WaitConsumed(0, 40000));
    EXPECT_EQ(0, mod->Pause(1));
    SimKsWaveRtInfo before, after;
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetWaveRt(0, &before));
    EXPECT_EQ(0u, SimKs_AdvanceWaveRt(0, 2048)) << "a paused stream's DMA engine does not move";
    ASSERT_TRUE(SimKs_GetWaveRt(0, &after));
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSSTATE_PAUSE, info.State);
    EXPECT_EQ(before.PlayOffset, after.PlayOffset);
    EXPECT_EQ(before.Pass, after.Pass);
    EXPECT_EQ(1, mod->Pause(0));
    EXPECT_TRUE(EndTrack());
    stepper.Stop();
    EXPECT_EQ("", PlayedExactly(pcm, 0, 4));
}

TEST_P(WaveRtStream, CloseWhilePausedDiscardsTheBufferedAudio) {
    std::vector<char> pcm = Pcm(44100, 2, 16, 1.0);
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(pcm.begin(), pcm.begin() + 16)));
    ASSERT_TRUE(StepQuarters(20)); // 40960 bytes: most of the track is still buffered
    mod->Pause(1);
    EXPECT_EQ(0u, SimKs_AdvanceWaveRt(0, 2048)) << "a paused stream's DMA engine does not move";
    SimKsStreamInfo paused, closed;
    ASSERT_TRUE(SimKs_GetStream(0, &paused));
    mod->Close();
    ASSERT_TRUE(SimKs_GetStream(0, &closed));
    EXPECT_FALSE(closed.Open);
    EXPECT_EQ(paused.ConsumedBytes, closed.ConsumedBytes) << "nothing played after the pause";
    std::vector<char> got = Consumed(0);
    size_t lead = Lead(got, 0, 4);
    ASSERT_LT(got.size() - lead, pcm.size());
    EXPECT_TRUE(HoldsAt(pcm, 0, std::vector<char>(got.begin() + lead, got.end())))
        << "a start of the track";
    EXPECT_EQ("", Violations(0));
}

// The end: everything written plays, then silence; the stream counts as played only once the
// hardware has passed its last real sample, and the pin stops after that.
TEST_P(WaveRtStream, LastRealSamplePlaysAndOnlySilenceFollows) {
    std::vector<char> pcm = Pcm16(1500); // 3000 bytes, less than a half
    Open(44100, 2, 16);
    ASSERT_EQ(0, mod->Write(pcm.data(), (int)pcm.size()));
    EXPECT_EQ(1, mod->IsPlaying());
    stepper.Start();
    ASSERT_TRUE(WaitUntil([&] { return mod->IsPlaying() == 0; }));
    EXPECT_EQ("", PlayedExactly(pcm, 0, 4)) << "all of it played once IsPlaying says so";
    EXPECT_TRUE(EndTrack());
    stepper.Stop();
    EXPECT_EQ("", PlayedExactly(pcm, 0, 4));
    EXPECT_EQ(1, LogCount("bytes of silence for lack of audio in 0 gaps"));
}

struct WaveRtGapless : WaveRtStream {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = WaveRtPlugin::Settings();
        s.push_back("gapless_enabled=1");
        return s;
    }
};

TEST_P(WaveRtGapless, PairPlaysWithNoFrameLostOrInserted) {
    std::vector<char> one = Pcm(44100, 2, 16, 0.4, 1), two = Pcm(44100, 2, 16, 0.3, 2);
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(one));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(one.begin(), one.begin() + 16)));
    mod->Close();
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(two));
    mod->Close();
    stepper.Start();
    ASSERT_TRUE(WaitClosed()) << "the player thread ends the stream when the ring runs dry";
    stepper.Stop();
    EXPECT_EQ(1, SimKs_StreamCount());
    std::vector<char> both = one;
    both.insert(both.end(), two.begin(), two.end());
    EXPECT_EQ("", PlayedExactly(both, 0, 4));
    EXPECT_EQ(1, LogCount("Gapless mode buffer underrun - Player Thread is stopping KS player"));
    EXPECT_EQ(1, LogCount("bytes of silence for lack of audio in 0 gaps"));
}

// A host that writes less than the device plays: the engine writes silence where audio is
// missing and counts it; the hardware never meets a half that was not rewritten. Stepped by
// hand, a quarter of a half at a time.
TEST_P(WaveRtStream, SlowHostGivesCountedSilenceNeverAReplay) {
    const size_t half = 8192, quarterFrames = half / 4 / 4;
    std::vector<char> a = Pcm16(half / 2, 1), b = Pcm16(half / 2, 2);
    Open(44100, 2, 16);
    auto step = [&](int quarters) {
        for (int i = 0; i < quarters; i++) {
            ASSERT_TRUE(WaitUntil([] { return SimKs_WaveRtNextReady(0) != FALSE; }));
            ASSERT_EQ(quarterFrames, SimKs_AdvanceWaveRt(0, quarterFrames));
        }
    };
    ASSERT_EQ(0, mod->Write(a.data(), (int)a.size()));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(a.begin(), a.begin() + 16)));
    step(8); // silence plays, then the host's half; nothing came after it
    ASSERT_EQ(0, mod->Write(b.data(), (int)b.size()));
    step(1); // into the silence written for lack of audio: the engine writes the next half
    ASSERT_TRUE(WaitPrimed(std::vector<char>(b.begin(), b.begin() + 16)));
    step(7);
    EXPECT_TRUE(EndTrack());
    std::vector<char> want(half, 0);
    want.insert(want.end(), a.begin(), a.end());
    want.insert(want.end(), half, 0);
    want.insert(want.end(), b.begin(), b.end());
    EXPECT_TRUE(SameBytes(Consumed(0), want));
    EXPECT_EQ(0, SimKs_StaleCount(0));
    EXPECT_EQ(1, LogCount("8192 bytes of silence for lack of audio in 1 gaps"));
}

// On the real-time clock a loaded machine may make the thread late for a half, which the
// hardware replays stale (engine_bench counts those); what the engine wrote still plays whole and
// in order.
TEST_P(WaveRtStream, RealTimeClockPlaysEveryByteInOrder) {
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 2.0);
    std::vector<char> pcm = Pcm(48000, 2, 16, 1.0);
    Open(48000, 2, 16);
    ASSERT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_EQ("", PlayedExactly(pcm, 0, 4, true));
}

// A seek silences the buffer from just past the play position: after it the device plays at
// most the margin of the old position (30 ms at the most), silence, then the new audio whole.
TEST_P(WaveRtStream, SeekPlaysTheNewAudioNextAndNothingOld) {
    std::vector<char> old = Pcm(44100, 2, 16, 0.5, 1), next = Pcm(44100, 2, 16, 0.25, 2);
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(old));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(old.begin(), old.begin() + 16)));
    ASSERT_TRUE(StepQuarters(9));
    SimKsStreamInfo at;
    ASSERT_TRUE(SimKs_GetStream(0, &at));
    mod->Flush(5000);
    EXPECT_EQ(5000, mod->GetOutputTime());
    ASSERT_TRUE(WriteAll(next));
    stepper.Start();
    EXPECT_TRUE(EndTrack());
    stepper.Stop();
    EXPECT_EQ(5250, mod->GetOutputTime()) << "the new audio, all of it heard";
    std::vector<char> got = Consumed(0);
    ASSERT_GT(got.size(), (size_t)at.ConsumedBytes + next.size());
    std::vector<char> after(got.begin() + (ptrdiff_t)at.ConsumedBytes, got.end());
    auto start = std::search(after.begin(), after.end(), next.begin(), next.begin() + 64);
    ASSERT_NE(after.end(), start) << "the new audio plays";
    size_t lead = (size_t)(start - after.begin());
    size_t oldEnd = lead;
    while (oldEnd >= 4 && !after[oldEnd - 1] && !after[oldEnd - 2] && !after[oldEnd - 3] &&
           !after[oldEnd - 4])
        oldEnd -= 4;
    printf("WaveRT seek: %u bytes of the old position, then %u of silence\n", (unsigned)oldEnd,
           (unsigned)(lead - oldEnd));
    EXPECT_LE(oldEnd, 44100u * 4 * 30 / 1000);
    std::vector<char> heard(after.begin() + (ptrdiff_t)lead,
                            after.begin() + (ptrdiff_t)(lead + next.size()));
    EXPECT_TRUE(SameBytes(heard, next));
    EXPECT_EQ(
        after.size() - lead - next.size(),
        Lead(std::vector<char>(after.begin() + (ptrdiff_t)(lead + next.size()), after.end()), 0, 4))
        << "only silence follows";
}

INSTANTIATE_TEST_SUITE_P(Kinds, WaveRtStream, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Polled" : "EventDriven";
                         });
INSTANTIATE_TEST_SUITE_P(Kinds, WaveRtGapless, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Polled" : "EventDriven";
                         });

struct WaveRtVolume : WaveRtPlugin {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = WaveRtPlugin::Settings();
        s.push_back("volume_enabled=1");
        s.push_back("logarithmic_volume=0");
        return s;
    }
    // What the newest stream played after its leading silence, as long as the track.
    std::vector<char> Play(const std::vector<char>& pcm, int bits, bool wavert) {
        mod->SetVolume(128);
        EXPECT_GT(mod->Open(44100, 2, bits, -1, -1), 0);
        EXPECT_TRUE(WriteAll(pcm));
        if (wavert) {
            EXPECT_TRUE(WaitPrimed());
            stepper.Start();
        }
        EXPECT_TRUE(EndTrack());
        stepper.Stop();
        std::vector<char> got = Consumed(SimKs_StreamCount() - 1);
        size_t lead = wavert ? Lead(got, 0, 8) : 0;
        size_t n = bits == 24 ? pcm.size() / 3 * 4 : pcm.size();
        got.erase(got.begin(), got.begin() + lead);
        got.resize(n);
        return got;
    }
};

TEST_F(WaveRtVolume, ScalesExactlyAsThePacketPath) {
    std::vector<char> sixteen = Pcm(44100, 2, 16, 0.2), packed = Pcm(44100, 2, 24, 0.2);
    std::vector<char> rt16 = Play(sixteen, 16, true), rt24 = Play(packed, 24, true);
    // The same settings on the packet device of the default set.
    mod->Quit();
    hostenv::WriteSettings(folder + "\\player.ini", {"output_device="});
    mod->Init();
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    EXPECT_TRUE(SameBytes(Play(sixteen, 16, false), rt16));
    EXPECT_TRUE(SameBytes(Play(packed, 24, false), rt24));
    SHORT first;
    memcpy(&first, rt16.data(), 2);
    SHORT original;
    memcpy(&original, sixteen.data(), 2);
    EXPECT_EQ((SHORT)(original * 128 >> 8), first) << "scaled at all";
}

} // namespace
