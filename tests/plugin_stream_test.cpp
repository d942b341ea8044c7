// Streams through the plug-in DLL to simulated devices: bit-exact delivery, 24-bit containers,
// volume scaling, the plain-format fallback, gapless hand-over, close, pause and seeking.
#include "tests/plugin_fixture.h"

#include <mmreg.h>
#include <ks.h>
#include <cstring>

namespace {

struct Stream : PluginFixture {
    std::vector<std::string> Settings() override { return {"logging_enabled=1"}; }
};

TEST_F(Stream, SixteenBitStereoArrivesBitExact) {
    std::vector<char> pcm = Pcm16(44100 * 2 / 2); // half a second
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_EQ(0, mod->Write(nullptr, 0));
    EXPECT_TRUE(EndTrack());
    ASSERT_EQ(1, SimKs_StreamCount());
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_FALSE(info.Open) << "without gapless mode Close ends the pin";
    EXPECT_EQ(WAVE_FORMAT_EXTENSIBLE, info.Format.Format.wFormatTag);
    EXPECT_TRUE(SameBytes(Consumed(0), pcm)) << "IsPlaying says 0 once every byte was consumed";
}

struct VolumeOn : PluginFixture {
    std::vector<std::string> Settings() override {
        return {"volume_enabled=1", "logarithmic_volume=0"};
    }
    std::vector<SHORT> PlaySamples(std::vector<SHORT> samples, int volume) {
        std::vector<char> pcm((char*)samples.data(), (char*)(samples.data() + samples.size()));
        mod->SetVolume(volume);
        EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
        EXPECT_TRUE(WriteAll(pcm));
        EXPECT_TRUE(EndTrack());
        std::vector<char> got = Consumed(SimKs_StreamCount() - 1);
        std::vector<SHORT> out(got.size() / 2);
        memcpy(out.data(), got.data(), out.size() * 2);
        return out;
    }
};

TEST_F(VolumeOn, FullVolumeIsBitExact) {
    std::vector<char> pcm = Pcm16(8192);
    mod->SetVolume(255);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

TEST_F(VolumeOn, HalfVolumeHalvesSixteenBitSamples) {
    std::vector<SHORT> in(4096);
    for (size_t i = 0; i < in.size(); i += 4) {
        in[i] = 1000;
        in[i + 1] = -1000;
        in[i + 2] = -1;
        in[i + 3] = 0;
    }
    std::vector<SHORT> out = PlaySamples(in, 128);
    ASSERT_EQ(in.size(), out.size());
    EXPECT_EQ(500, out[0]);
    EXPECT_EQ(-500, out[1]);
    EXPECT_EQ(-1, out[2]);
    EXPECT_EQ(0, out[3]);
}

TEST_F(VolumeOn, OutOfRangeVolumesAreIgnored) {
    mod->SetVolume(128);
    mod->SetVolume(256);
    mod->SetVolume(-1);
    std::vector<SHORT> out = PlaySamples(std::vector<SHORT>(4096, 1000), -666);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(500, out[0]);
}

struct LogVolume : VolumeOn {
    std::vector<std::string> Settings() override {
        return {"volume_enabled=1", "logarithmic_volume=1"};
    }
};

TEST_F(LogVolume, SquareLawMapsTheHostVolume) {
    std::vector<SHORT> ones(4096, 1000);
    EXPECT_EQ(250, PlaySamples(ones, 128)[0]); // 128 maps to 64: 1000 * 64 / 256
    EXPECT_EQ(0, PlaySamples(ones, 15)[0]);    // 15 maps to 0
    EXPECT_EQ(1000, PlaySamples(ones, 255)[0]);
}

TEST_F(Stream, TwentyFourBitSamplesTravelInThirtyTwoBitContainers) {
    std::vector<char> pcm = Pcm24(48000 / 4 * 2);
    ASSERT_GT(mod->Open(48000, 2, 24, -1, -1), 0);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ(32, info.Format.Format.wBitsPerSample);
    EXPECT_EQ(24, info.Format.Samples.wValidBitsPerSample);
    EXPECT_TRUE(SameBytes(Consumed(0), Widen24(pcm)));
}

// A 16-bit mono stream of an odd number of samples leaves the ring's positions off a 4-byte
// boundary; the widened 24-bit stream after it must still wrap on whole samples.
TEST_F(Stream, TwentyFourBitAfterAnOddLengthStreamWrapsOnWholeSamples) {
    ASSERT_GT(mod->Open(44100, 1, 16, -1, -1), 0);
    ASSERT_EQ(0, mod->Write(Pcm16(3).data(), 6));
    EXPECT_TRUE(EndTrack());
    std::vector<char> pcm = Pcm24(48000 * 2); // a second: the ring wraps several times
    ASSERT_GT(mod->Open(48000, 2, 24, -1, -1), 0);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(1), Widen24(pcm)));
}

struct LegacyDevice : PluginFixture {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1",
                std::string("output_device=") + SimKs_DevicePath(SIMKS_DEFAULT_LEGACY)};
    }
};

TEST_F(LegacyDevice, FallsBackToThePlainFormat) {
    std::vector<char> pcm = Pcm16(16384);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(SimKs_StreamCount() - 1, &info));
    EXPECT_EQ(SIMKS_DEFAULT_LEGACY, info.Device);
    EXPECT_EQ(WAVE_FORMAT_PCM, info.Format.Format.wFormatTag);
    EXPECT_EQ(0, info.Format.Format.cbSize);
    EXPECT_TRUE(SameBytes(Consumed(SimKs_StreamCount() - 1), pcm));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("Failed to create pin on first attempt!\n"));
    EXPECT_NE(std::string::npos, log.find("(2nd attempt):\nFormat.nChannels            = 2\n"));
}

struct Gapless : PluginFixture {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "gapless_enabled=1"};
    }
    ULONG Queued(int stream) {
        SimKsStreamInfo info;
        return SimKs_GetStream(stream, &info) ? info.Queued : 0;
    }
};

// The device (manual clock) plays nothing until both tracks are in: the first track is still
// with it when the second opens, so nothing drained between them, whatever the machine's speed.
// Then it plays everything, the two tracks back to back on the one pin.
TEST_F(Gapless, SameFormatKeepsThePinAndPlaysBackToBack) {
    SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    // The first track fills the eight packets and part of the ring, as with a real player.
    std::vector<char> one = Pcm16(40000, 1), two = Pcm16(20000, 2);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(WriteAll(one));
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    mod->Close();
    size_t closedAt = Log().size();
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(8u, Queued(0)) << "the first track is still with the device";
    EXPECT_TRUE(WriteAll(two));
    mod->Close();
    std::string between = Log().substr(closedAt);
    EXPECT_EQ(1, SimKs_StreamCount());
    EXPECT_EQ(std::string::npos, between.find("Output Opened"));

    EXPECT_TRUE(WaitUntil([&] {
        SimKs_CompletePackets(0, 1);
        SimKsStreamInfo info;
        return SimKs_GetStream(0, &info) && !info.Open;
    })) << "the player thread ends the stream on underrun";
    std::vector<char> both = one;
    both.insert(both.end(), two.begin(), two.end());
    EXPECT_TRUE(SameBytes(Consumed(0), both));
    EXPECT_NE(std::string::npos, Log().find("Gapless mode buffer underrun - Player Thread is "
                                            "stopping KS player"));
}

TEST_F(Gapless, RateChangeForcesAnEnd) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_TRUE(WriteAll(Pcm16(8192)));
    mod->Close();
    ASSERT_GT(mod->Open(48000, 2, 16, -1, -1), 0);
    EXPECT_EQ(2, SimKs_StreamCount());
    // The ring had run dry at the close: the woken player thread may end the stream before the
    // new format forces the end.
    std::string log = Log();
    EXPECT_TRUE(log.find("StartInternal - Forcing End") != std::string::npos ||
                log.find("Gapless mode buffer underrun") != std::string::npos);
    SimKsStreamInfo first;
    ASSERT_TRUE(SimKs_GetStream(0, &first));
    EXPECT_FALSE(first.Open);
    EXPECT_EQ(16384u, first.ConsumedBytes) << "the old stream played out before it closed";
    mod->Close();
}

struct Manual : PluginFixture {
    void SetUp() override {
        PluginFixture::SetUp();
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
    }
};

TEST_F(Manual, PacketsStayInFlightUntilTheDeviceCompletesThem) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(65536 / 2);
    ASSERT_EQ(0, mod->Write(pcm.data(), 32768));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    EXPECT_EQ(1, mod->IsPlaying()) << "packets with the device";
    EXPECT_EQ(0, mod->GetOutputTime()) << "nothing played yet";
    EXPECT_EQ(32768 * 1000 / 176400, mod->GetWrittenTime());
    EXPECT_EQ(4, SimKs_CompletePackets(0, 4));
    EXPECT_TRUE(WaitUntil([&] { return mod->IsPlaying() == 0; }))
        << "everything played, output open";
    EXPECT_EQ(mod->GetWrittenTime(), mod->GetOutputTime());
    mod->Close();
    EXPECT_EQ(0, mod->IsPlaying());
}

TEST_F(Manual, PauseHoldsTheDeviceAndResumeContinues) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(16384);
    ASSERT_EQ(0, mod->Write(pcm.data(), (int)pcm.size()));
    ASSERT_TRUE(SimKs_WaitQueued(0, 4, kHangMs));
    EXPECT_EQ(0, mod->Pause(1));
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSSTATE_PAUSE, info.State);
    EXPECT_EQ(0, SimKs_CompletePackets(0, 4)) << "a paused pin consumes nothing";
    EXPECT_EQ(1, mod->Pause(0));
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_EQ((ULONG)KSSTATE_RUN, info.State);
    EXPECT_EQ(4, SimKs_CompletePackets(0, 4));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

TEST_F(Manual, CloseWhilePausedDiscardsTheBufferedAudio) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(32768);
    ASSERT_EQ(0, mod->Write(pcm.data(), (int)pcm.size()));
    ASSERT_TRUE(SimKs_WaitQueued(0, 8, kHangMs));
    mod->Pause(1);
    ASSERT_EQ(0, mod->Write(pcm.data(), 16384));
    mod->Close();
    SimKsStreamInfo info;
    ASSERT_TRUE(SimKs_GetStream(0, &info));
    EXPECT_FALSE(info.Open);
    EXPECT_EQ(0u, info.ConsumedBytes);
}

TEST_F(Stream, FlushOfAnEmptyStreamSetsTheTime) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Flush(5000);
    EXPECT_EQ(5000, mod->GetOutputTime());
    EXPECT_EQ(5000, mod->GetWrittenTime());
    EXPECT_TRUE(EndTrack());
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(0, mod->GetOutputTime());
    EXPECT_TRUE(EndTrack());
}

} // namespace
