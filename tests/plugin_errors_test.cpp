// The plug-in when things go wrong: refused formats and their messages, missing devices and
// ksuser.dll, a device removed mid-stream, bad input from the host and odd call sequences.
// Allocation failures have a program of their own (plugin_sweep_test.cpp).
#include "tests/plugin_fixture.h"
#include "tests/resource_counts.h"

#include <commctrl.h>
#include <cstdio>

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

// With formats not adapted, the refusals of the plug-in itself stand as they always did.
struct Unadapted : Errors {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "adapt_formats_enabled=0"};
    }
};

TEST_F(Unadapted, TwentyBitAudioIsRefusedWithAMessage) {
    EXPECT_EQ(-1, mod->Open(44100, 2, 20, -1, -1));
    ExpectOnlyBox("20 bit audio is not currently supported");
    EXPECT_EQ(1, mod->Write(Pcm16(8).data(), 16));
    EXPECT_EQ(0, mod->CanWrite());
}

TEST_F(Unadapted, MultichannelTwentyFourBitIsRefusedWithAMessage) {
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
    EXPECT_GT(mod->Open(44100, 2, 16, -1, -1), 0) << "a good format still opens";
    mod->Close();
}

TEST_F(Errors, BadWritesAreRefused) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
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
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    mod->Close();
    mod->Close();
}

// Init and Quit without a stream used to leave the device list and its filters' handles behind.
TEST_F(Errors, RepeatedInitAndQuitLeaveNothingBehind) {
    auto cycle = [this] {
        mod->Quit();
        EXPECT_EQ(SimKs_RequestCount(SIMKS_REQ_OPEN), SimKs_RequestCount(SIMKS_REQ_CLOSE))
            << "every filter opened was closed";
        // The bed keeps a record of every device set handed out: start it afresh.
        SimKs_Reset();
        SimKs_AddDefaultDevices();
        SimKs_SetProcessPath((folder + "\\player.exe").c_str());
        mod->Init();
    };
    for (int i = 0; i < 2; i++)
        cycle();
    ResourceCounts before;
    for (int i = 0; i < 5; i++)
        cycle();
    ResourceCounts after;
    // Wine's tooltip control keeps a heap block of each tooltip window it destroyed; Init makes
    // one. What the control keeps of five windows is all the five cycles may leave.
    size_t tooltips = HeapBlocks();
    for (int i = 0; i < 5; i++)
        DestroyWindow(CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP, 0, 0, 0, 0,
                                      NULL, NULL, NULL, NULL));
    tooltips = HeapBlocks() - tooltips;
    printf("5 x Init and Quit: handles %lu -> %lu, heap blocks %u -> %u (tooltip windows: %u)\n",
           before.handles, after.handles, (unsigned)before.blocks, (unsigned)after.blocks,
           (unsigned)tooltips);
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.blocks + tooltips, after.blocks);
}

struct NoDevices : Errors {
    void AddDevices() override {}
};

TEST_F(NoDevices, OpenSaysThereIsNoFilter) {
    // Init already reported the failed enumeration.
    ASSERT_EQ(1, SimKs_MessageBoxCount());
    EXPECT_EQ("CKsEnumFilters::EnumFilters failed", MessageBoxText(0));
    EXPECT_NE(std::string::npos, Log().find("CKsEnumFilters::EnumFilters failed, hr=0x80004005"));
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    EXPECT_EQ("Could not find suitable output filter", MessageBoxText(1));
}

// A USB DAC switched on after the player started: the next open enumerates again.
TEST_F(NoDevices, DeviceAddedAfterInitIsFoundByTheNextOpen) {
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    SimKs_AddDefaultDevices();
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(8192);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

// While the device is away the host finds the ring full; its close ends the wait.
TEST_F(Errors, RemovedDeviceRefusesWritesAndCloseStillReturns) {
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 1.0);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(44100);
    ASSERT_EQ(0, mod->Write(pcm.data(), 32768));
    ASSERT_TRUE(SimKs_WaitQueued(0, 2, kHangMs));
    SimKs_RemoveDevice(SIMKS_DEFAULT_VERSATILE);
    ASSERT_TRUE(WaitUntil([this] { return mod->CanWrite() == 0 && mod->IsPlaying() == 1; }));
    EXPECT_EQ(1, mod->Write(pcm.data(), 4096));
    mod->Close();
    EXPECT_NE(std::string::npos, Log().find("Device removed: "));
    EXPECT_NE(std::string::npos, Log().find("Output Closed"));
}

// A write the device fails is a lost pin: the engine opens the device again and plays what the
// failed packet held, so nothing is lost.
TEST_F(Errors, FailedWritesReopenThePinAndLoseNothing) {
    SimKs_SetWriteFault(SIMKS_DEFAULT_VERSATILE, SIMKS_WRITE_IMMEDIATE, 1, 3, ERROR_GEN_FAILURE);
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    std::vector<char> pcm = Pcm16(32768);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    std::vector<char> all;
    for (int i = 0; i < SimKs_StreamCount(); i++) {
        std::vector<char> got = Consumed(i);
        all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_TRUE(SameBytes(all, pcm));
    EXPECT_EQ(4, SimKs_StreamCount());
    EXPECT_NE(std::string::npos, Log().find("KS Packet write failed (buffer 0)\r\n"
                                            "CKsPin::WriteData failed, hr=0x8007001f\r\n"));
}

TEST_F(Errors, RefusedPinCreationLogsItsCause) {
    SimKs_SetCreatePinError(SIMKS_DEFAULT_VERSATILE, ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_EQ(-1, mod->Open(44100, 2, 16, -1, -1));
    std::string log = Log();
    size_t first = log.find("Failed to create pin on first attempt!\n\r\n"
                            "CKsAudRenFilter::CreateRenderPin failed, hr=0x800705aa: "
                            "Failed to instantiate Render Pin\r\n");
    ASSERT_NE(std::string::npos, first);
    EXPECT_NE(std::string::npos,
              log.find("CKsAudRenFilter::CreateRenderPin failed, hr=0x800705aa", first + 60))
        << "the second attempt's cause too";
}

// Sizes at and beyond the limits reach the engine clamped: the largest ring and packets open.
struct LargestSizes : Errors {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "input_buffer_size=2147483647",
                "output_buffer_size=1073741824", "output_buffer_cnt=4"};
    }
};

TEST_F(LargestSizes, ClampedAtLoadAndTheStreamPlays) {
    ASSERT_GT(mod->Open(48000, 2, 16, -1, -1), 0);
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("input buffer configured to 67108864 bytes"));
    EXPECT_NE(std::string::npos, log.find("output buffer configured to 8388608 bytes per packet"));
    std::vector<char> pcm = Pcm16(3 * 8388608 / 2);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

// A hand-edited file with a ring smaller than a packet: the open used to accept no write at all.
struct RingSmallerThanPacket : Errors {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "input_buffer_size=8192", "output_buffer_size=16384"};
    }
};

TEST_F(RingSmallerThanPacket, TheRingIsTwoPacketsAndWritesGoIn) {
    ASSERT_GT(mod->Open(44100, 2, 16, -1, -1), 0);
    EXPECT_EQ(32768, mod->CanWrite());
    std::vector<char> pcm = Pcm16(32768);
    EXPECT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

} // namespace
