// The engine's own arithmetic, on an engine built in-process over simulated devices: CanWrite's
// packet-sized threshold and 24-bit accounting, GetOutputTime's integer rounding, buffer sizes
// that do not fit, what repeated rebuilds leave behind, and the player thread asleep on an empty
// ring: a pause then, and the partly filled packet that only the end submits.
#include "diag/log.h"
#include "engine/arith.h"
#include "engine/format.h"
#include "engine/kscore.h"
#include "testbed/simfixture.h"
#include "tests/bytes_match.h"
#include "tests/resource_counts.h"
#include "tests/test_host.h"
#include "tests/waits.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Core : SimKsFixture {
    TestHost host;
    KSSettings& settings = host.settings;
    KSCore* core = nullptr;

    void SetUp() override {
        SimKsFixture::SetUp();
        core = new KSCore(host);
        ASSERT_TRUE(core->IsReady());
    }
    void TearDown() override {
        delete core;
        SimKsFixture::TearDown();
    }
};

// The free ring bytes of a 65536-byte ring with 8192-byte packets.
TEST_F(Core, CanWriteInvitesAtLeastAPacket) {
    EXPECT_EQ(0, core->CanWrite()) << "closed";
    EXPECT_EQ(65536, CanWriteBytes(65536, 8192, false));
    EXPECT_EQ(8192, CanWriteBytes(8192, 8192, false));
    EXPECT_EQ(0, CanWriteBytes(8191, 8192, false)) << "less than a packet free";
}

TEST_F(Core, CanWriteCountsPackedBytesForTwentyFourBit) {
    EXPECT_EQ(65536 / 4 * 3, CanWriteBytes(65536, 8192, true));
    EXPECT_EQ(8192 / 3 * 4 / 4 * 3, CanWriteBytes(8192 / 3 * 4, 8192, true));
    EXPECT_EQ(0, CanWriteBytes(8192 / 3 * 4 - 4, 8192, true));
}

TEST_F(Core, OutputTimeRoundsDown) {
    EXPECT_EQ(0, core->GetOutputTime()) << "no format yet";
    EXPECT_EQ(1000, OutputTimeMs(176400, 176400));
    EXPECT_EQ(500, OutputTimeMs(88201, 176400));
    EXPECT_EQ((int)(0xFFFFFFFFu / 176400 * 1000 + (0xFFFFFFFFu % 176400) * 1000 / 176400),
              OutputTimeMs(0xFFFFFFFF, 176400))
        << "no overflow in the arithmetic";
}

// At more than 4,294,967 bytes a second the remainder's product no longer fits 32 bits.
TEST_F(Core, OutputTimeAtTheLargestFormat) {
    WAVEFORMATEXTENSIBLE wfx;
    BuildWaveFormat(&wfx, 192000, 8, 32);
    ASSERT_EQ(6144000u, wfx.Format.nAvgBytesPerSec);
    EXPECT_EQ(814, OutputTimeMs(5005312, wfx.Format.nAvgBytesPerSec)); // 814.7 ms
    EXPECT_EQ(699050, OutputTimeMs(0xFFFFFFFF, wfx.Format.nAvgBytesPerSec));
}

std::string ReadLog() {
    std::ifstream in(g_szLogFile, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A host may give any size: a product beyond 32 bits fails the open cleanly, with the size in the
// log, and a later open with a size that fits goes on.
TEST_F(Core, PacketMemoryBeyond32BitsFailsTheOpenWithItsSize) {
    LogInit();
    LogEnable(1);
    TestHost huge;
    huge.settings.output_buffer_size = 1 << 30;
    huge.settings.output_buffer_cnt = 4;
    KSCore* engine = new KSCore(huge);
    EXPECT_EQ(0u, engine->Snapshot().packetSize) << "no packet memory";
    EXPECT_EQ(-1, engine->Start(44100, 2, 16));
    huge.settings.output_buffer_size = 8192;
    EXPECT_GT(engine->Start(44100, 2, 16), 0);
    engine->End();
    delete engine;
    std::string log = ReadLog();
    LogShutdown();
    DeleteFileA(g_szLogFile);
    EXPECT_NE(std::string::npos,
              log.find("Cannot allocate the output buffer: 4 x 1073741824 bytes is out of range"));
}

// Each engine, built and destroyed without a stream (as a rebuild after a settings change),
// gives back its device list, its filters' handles and everything else it took. The bed is reset
// after each one: it keeps a record of every device set handed out.
TEST_F(Core, RebuildsLeaveNothingBehind) {
    auto rebuild = [this] {
        delete new KSCore(host);
        EXPECT_EQ(SimKs_RequestCount(SIMKS_REQ_OPEN), SimKs_RequestCount(SIMKS_REQ_CLOSE))
            << "every filter opened was closed";
        SimKs_Reset();
        SimKs_AddDefaultDevices();
    };
    SimKs_Reset(); // the fixture's engine has its filters open
    SimKs_AddDefaultDevices();
    for (int i = 0; i < 2; i++)
        rebuild();
    ResourceCounts before;
    for (int i = 0; i < 5; i++)
        rebuild();
    ResourceCounts after;
    printf("5 rebuilds: handles %lu -> %lu, heap blocks %u -> %u\n", before.handles, after.handles,
           (unsigned)before.blocks, (unsigned)after.blocks);
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.blocks, after.blocks);
}

TEST_F(Core, SetVolumeClamps) {
    core->SetVolume(300);
    EXPECT_EQ(255u, core->Snapshot().volume);
    core->SetVolume(17);
    core->SetVolume(-1);
    EXPECT_EQ(17u, core->Snapshot().volume);
}

// A stream plays with the settings of its open: the host's record changed meanwhile (as the
// settings dialog changes it) counts from the next open.
TEST_F(Core, SettingsChangedWhileAStreamPlaysCountFromTheNextOpen) {
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    core->SetVolume(128);
    std::vector<char> pcm(16384);
    for (size_t i = 0; i < pcm.size(); i += 2)
        pcm[i + 1] = 0x10; // 16-bit samples of 4096
    for (int stream = 0; stream < 2; stream++) {
        ASSERT_GT(core->Start(44100, 2, 16), 0);
        settings.volume_enabled = 1;
        ASSERT_EQ(0, core->Write(pcm.data(), (int)pcm.size()));
        ASSERT_TRUE(WaitUntil([&] { return core->IsPlaying() == 0; }));
        core->End();
        std::vector<char> got(pcm.size());
        got.resize(SimKs_CopyConsumed(stream, 0, got.data(), (ULONG)got.size()));
        ASSERT_EQ(pcm.size(), got.size());
        EXPECT_EQ(stream == 0, (bool)SameBytes(got, pcm)) << "stream " << stream;
    }
}

// A stream on the manual clock, where the test waits for the player thread to be asleep on the
// empty ring before it acts.
struct Asleep : Core {
    void SetUp() override {
        Core::SetUp();
        SimKs_SetClock(SIMKS_CLOCK_MANUAL, 1.0);
        ASSERT_GT(core->Start(44100, 2, 16), 0);
    }
    void TearDown() override {
        core->End();
        Core::TearDown();
    }
    // The ring first: once it is empty the thread has woken for the write, so a sleeping thread
    // seen in a later look has gone to sleep again.
    bool WaitAsleepOnEmptyRing() {
        return WaitUntil([&] { return core->Snapshot().inputUsed == 0; }) &&
               WaitUntil([&] { return core->Snapshot().sleeping; });
    }
};

TEST_F(Asleep, PauseAndResumeReturn) {
    std::vector<char> pcm(8192, 1);
    ASSERT_EQ(0, core->Write(pcm.data(), (int)pcm.size()));
    ASSERT_TRUE(SimKs_WaitQueued(0, 1, kHangMs));
    ASSERT_TRUE(WaitAsleepOnEmptyRing());
    EXPECT_EQ(0, core->Pause(1));
    EXPECT_EQ(1, core->Pause(0));
    SimKs_CompletePackets(0, 1);
}

TEST_F(Asleep, OnlyFullPacketsGoOutUntilTheHostWaitsForTheEnd) {
    std::vector<char> pcm(3000);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = (char)(i * 7 + 1);
    ASSERT_EQ(0, core->Write(pcm.data(), (int)pcm.size()));
    ASSERT_TRUE(WaitAsleepOnEmptyRing());
    EXPECT_EQ(0, SimKs_PacketCount(0)) << "an open stream submits only full packets";
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    EXPECT_TRUE(WaitUntil([&] { return core->IsPlaying() == 0; }));
    core->End();
    ASSERT_EQ(1, SimKs_PacketCount(0));
    SimKsPacketInfo p;
    ASSERT_TRUE(SimKs_GetPacket(0, 0, &p));
    EXPECT_EQ(3000u, p.FrameExtent);
    EXPECT_EQ(3000u, p.DataUsed);
    std::vector<char> got(4096);
    got.resize(SimKs_CopyConsumed(0, 0, got.data(), (ULONG)got.size()));
    EXPECT_TRUE(SameBytes(got, pcm));
}

} // namespace
