// The engine's own arithmetic, on an engine built in-process over simulated devices: CanWrite's
// packet-sized threshold and 24-bit accounting, and GetOutputTime's integer rounding.
#include "engine/format.h"
#include "engine/kscore.h"
#include "host/settings.h"
#include "testbed/simfixture.h"

namespace {

struct Core : SimKsFixture {
    KSSettings settings;
    KSCore* core = nullptr;

    void SetUp() override {
        SimKsFixture::SetUp();
        settings.SetDefaults();
        core = new KSCore(NULL, NULL, &settings);
        ASSERT_TRUE(core->IsReady());
    }
    void TearDown() override {
        core->m_nMode = MODE_CLOSED; // nothing was opened for real
        core->m_nInputUsed = 0;
        delete core;
        SimKsFixture::TearDown();
    }
    // Pretends a stream of this format is open with used bytes in the ring.
    void Pretend(int rate, int channels, int bits, LONG used) {
        BuildWaveFormat(&core->m_wfxCurrent, rate, channels, bits);
        core->m_nInputUsed = used;
        core->m_nMode = MODE_OPEN;
    }
};

TEST_F(Core, CanWriteInvitesAtLeastAPacket) {
    EXPECT_EQ(0, core->CanWrite()) << "closed";
    Pretend(44100, 2, 16, 0);
    EXPECT_EQ(65536, core->CanWrite());
    core->m_nInputUsed = 65536 - 8192;
    EXPECT_EQ(8192, core->CanWrite());
    core->m_nInputUsed = 65536 - 8191;
    EXPECT_EQ(0, core->CanWrite()) << "less than a packet free";
}

TEST_F(Core, CanWriteCountsPackedBytesForTwentyFourBit) {
    Pretend(48000, 2, 24, 0);
    EXPECT_EQ(65536 / 4 * 3, core->CanWrite());
    core->m_nInputUsed = 65536 - 8192 / 3 * 4;
    EXPECT_EQ(8192 / 3 * 4 / 4 * 3, core->CanWrite());
    core->m_nInputUsed = 65536 - 8192 / 3 * 4 + 4;
    EXPECT_EQ(0, core->CanWrite());
}

TEST_F(Core, OutputTimeRoundsDown) {
    EXPECT_EQ(0, core->GetOutputTime()) << "no format yet";
    Pretend(44100, 2, 16, 0);
    core->m_dwBytesWritten = 176400;
    EXPECT_EQ(1000, core->GetOutputTime());
    core->m_dwBytesWritten = 88201;
    EXPECT_EQ(500, core->GetOutputTime());
    core->m_dwBytesWritten = 0xFFFFFFFF; // no overflow in the arithmetic
    EXPECT_EQ((int)(0xFFFFFFFFu / 176400 * 1000 + (0xFFFFFFFFu % 176400) * 1000 / 176400),
              core->GetOutputTime());
}

TEST_F(Core, SetVolumeClamps) {
    core->SetVolume(300);
    EXPECT_EQ(255u, core->m_nVolume);
    core->SetVolume(17);
    core->SetVolume(-1);
    EXPECT_EQ(17u, core->m_nVolume);
}

} // namespace
