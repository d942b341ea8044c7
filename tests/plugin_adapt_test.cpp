// Adapted streams beyond the matrix: the volume scales the widened sample with no bit lost, and
// with adaptation off a refused format ends as it always did.
#include "tests/wavert_fixture.h"

#include <cstring>

namespace {

const int kUsb2 = 3; // the zoo's 32-bit-only DAC

struct Adapt : WaveRtPlugin {
    std::string extra;
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "input_buffer_size=1048576", "volume_enabled=1",
                "logarithmic_volume=0", extra};
    }
    void AddDevices() override { ASSERT_EQ(0, SimKs_AddZooDevice(kUsb2)); }
};

// A 16-bit stream at volume v in the 24-of-32-bit container: v x sample, shifted up by 8, exact.
TEST_F(Adapt, VolumeScalesAfterWideningWithNoBitLost) {
    const int volume = 101;
    mod->SetVolume(volume);
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.2);
    std::vector<char> want(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size() / 2; i++) {
        SHORT s;
        memcpy(&s, &pcm[2 * i], 2);
        LONG v = (LONG)((DWORD)(s * volume) << 8);
        memcpy(&want[4 * i], &v, 4);
    }
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(want.begin(), want.begin() + 16)));
    stepper.Start();
    mod->Close();
    stepper.Stop();
    EXPECT_EQ("", PlayedExactly(want, 0, 8));
    EXPECT_EQ(1, LogCount("Adapted format: stream 16-bit 2 ch 44100 Hz extensible plays as "
                          "24-bit in 32-bit 2 ch 44100 Hz extensible, scaled by the volume"));
}

struct Unadapted : Adapt {
    void SetUp() override {
        extra = "adapt_formats_enabled=0";
        Adapt::SetUp();
    }
};

// Refused by the device after the two attempts of old, or by the plug-in itself: no candidate,
// no new message, no new log line.
TEST_F(Unadapted, RefusalsStandAsTheyWere) {
    struct {
        int bits, channels;
        const char* box;
    } cases[] = {{16, 2, nullptr},
                 {20, 2, "20 bit audio is not currently supported"},
                 {24, 6, "Only 1 or 2 channels is supported for 24 bit playback."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        int boxes = SimKs_MessageBoxCount();
        EXPECT_EQ(-1, mod->Open(44100, c.channels, c.bits, -1, -1));
        EXPECT_EQ(boxes + (c.box ? 1 : 0), SimKs_MessageBoxCount());
        if (c.box) {
            EXPECT_EQ(c.box, MessageBoxText(boxes));
        }
    }
    EXPECT_EQ(1, LogCount("Failed to create pin on first attempt!"));
    EXPECT_EQ(0, LogCount("adapted"));
    EXPECT_EQ(0, LogCount("Rate refused"));
    EXPECT_EQ(0, SimKs_StreamCount());
}

} // namespace
