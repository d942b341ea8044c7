// The plug-in when things go wrong: refused formats and their messages, missing devices and
// ksuser.dll, a device removed mid-stream, bad input from the host and odd call sequences.
// Allocation failures have a program of their own (plugin_sweep_test.cpp).
#include "tests/plugin_fixture.h"

#include <ks.h>

namespace {

struct Errors : PluginFixture {
    std::vector<std::string> Settings() override { return {"logging_enabled=1"}; }

    void ExpectOnlyBox(const char* text) {
        ASSERT_EQ(1, SimKs_MessageBoxCount());
        SimKsMessageBox box;
        ASSERT_TRUE(SimKs_GetMessageBox(0, &box));
        EXPECT_STREQ(text, box.Text);
        EXPECT_STREQ("Error!", box.Caption);
        EXPECT_EQ((UINT)MB_OK, box.Type & 0xF);
    }
};

TEST_F(Errors, TwentyBitAudioIsRefusedWithAMessage) {
    EXPECT_EQ(-1, mod->Open(44100, 2, 20, -1, -1));
    ExpectOnlyBox("20 bit audio is not currently supported");
    EXPECT_EQ(1, mod->Write(Pcm16(8).data(), 16));
    EXPECT_EQ(0, mod->CanWrite());
}

TEST_F(Errors, MultichannelTwentyFourBitIsRefusedWithAMessage) {
    EXPECT_EQ(-1, mod->Open(48000, 6, 24, -1, -1));
    ExpectOnlyBox("Only 1 or 2 channels is supported for 24 bit playback.");
}

TEST_F(Errors, AbsurdFormatsEndAsTheDevicesRefusal) {
    EXPECT_EQ(-1, mod->Open(44100, 0, 16, -1, -1));
    EXPECT_EQ(-1, mod->Open(0, 2, 16, -1, -1));
    EXPECT_EQ(-1, mod->Open(44100, 2, 1000, -1, -1));
    EXPECT_EQ(-1, mod->Open(-44100, -2, -16, -1, -1));
    EXPECT_EQ(0, mod->GetOutputTime());
    EXPECT_EQ(0, SimKs_MessageBoxCount());
    EXPECT_EQ(1000, mod->Open(44100, 2, 16, -1, -1)) << "a good format still opens";
    mod->Close();
}

TEST_F(Errors, BadWritesAreRefused) {
    ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ(1, mod->Write(nullptr, 16));
    EXPECT_EQ(1, mod->Write(Pcm16(8).data(), -16));
    EXPECT_EQ(0, mod->Write(nullptr, 0));
    EXPECT_EQ(65536, mod->CanWrite());
    std::vector<char> big = Pcm16(65536 / 2 + 1);
    EXPECT_EQ(1, mod->Write(big.data(), (int)big.size())) << "one byte more than fits";
    EXPECT_EQ(0, mod->Write(big.data(), 65536)) << "exactly what fits";
    mod->Close();
}

TEST_F(Errors, CloseWithoutOpenAndTwiceIsHarmless) {
    mod->Close();
    mod->Close();
    EXPECT_EQ(0, mod->Pause(1));
    EXPECT_EQ(0, mod->IsPlaying());
    ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    mod->Close();
    mod->Close();
}

struct NoDevices : Errors {
    void AddDevices() override {}
};

TEST_F(NoDevices, OpenSaysThereIsNoFilter) {
    // Init already reported the failed enumeration.
    ASSERT_EQ(1, SimKs_MessageBoxCount());
    EXPECT_EQ("CKsEnumFilters::EnumFilters failed", MessageBoxText(0));
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ("Could not find suitable output filter", MessageBoxText(1));
}

TEST_F(Errors, RemovedDeviceFailsWritesAndCloseStillReturns) {
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 1.0);
    ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    std::vector<char> pcm = Pcm16(44100);
    ASSERT_EQ(0, mod->Write(pcm.data(), 32768));
    ASSERT_TRUE(SimKs_WaitQueued(0, 2, 2000));
    SimKs_RemoveDevice(SIMKS_DEFAULT_VERSATILE);
    EXPECT_TRUE(WriteAll(std::vector<char>(pcm.begin(), pcm.begin() + 65536)));
    mod->Close();
    EXPECT_NE(std::string::npos, Log().find("KS Packet write failed (buffer "));
    EXPECT_NE(std::string::npos, Log().find("Output Closed"));
}

TEST_F(Errors, FailedWritesFreeTheirPackets) {
    SimKs_SetWriteFault(SIMKS_DEFAULT_VERSATILE, SIMKS_WRITE_IMMEDIATE, 1, 3, ERROR_GEN_FAILURE);
    ASSERT_EQ(1000, mod->Open(44100, 2, 16, -1, -1));
    std::vector<char> pcm = Pcm16(32768);
    EXPECT_TRUE(WriteAll(pcm));
    mod->Close();
    EXPECT_EQ(pcm.size() - 3 * 8192, Consumed(0).size());
}

} // namespace
