// Adapted streams beyond the matrix: the volume scales the widened sample with no bit lost, with
// adaptation off a refused format ends as it always did, and ranges that are empty, malformed or
// contradict the driver end in a playing stream or a clean refusal.
#include "tests/wavert_fixture.h"

#include <ksmedia.h>
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
    EXPECT_TRUE(EndTrack());
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

const int kOnboard = 4; // the zoo's 48 kHz 16-bit codec: one range, 48 kHz stereo 16-bit

void NoRanges(int device) {
    SimKsRange none = {};
    SimKs_SetRanges(device, 0, &none, 0);
}
void RangesFault(int device, int fault, ULONG param) {
    SimKs_AddPropertyFault(device, 0, &KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, fault, param);
}
// One range that promises 44.1 kHz too, which the driver's own list does not take.
void PromisesMore(int device) {
    SimKsRange r = {KSDATAFORMAT_TYPE_AUDIO,
                    KSDATAFORMAT_SUBTYPE_PCM,
                    KSDATAFORMAT_SPECIFIER_WAVEFORMATEX,
                    2,
                    16,
                    16,
                    44100,
                    48000};
    SimKs_SetRanges(device, 0, &r, 1);
}
// The driver takes 44.1 kHz too, which its one range does not list.
void TakesMore(int device) {
    SimKsAccept stereo = {SIMKS_ACCEPT_EXTENSIBLE | SIMKS_ACCEPT_PLAIN, 2, 16, 16, 0x3};
    const DWORD rates[] = {44100, 48000};
    SimKs_SetAccepted(device, &stereo, 1, rates, 2);
}

struct RangeCase {
    const char* name;
    void (*bend)(int device);
    bool plays;         // at 44.1 kHz 16-bit stereo
    const char* reason; // in the log when refused
};

// The render pin is left out of the device (and the open ends without one): the log says why.
const char* const kNoneRead = "left out, hr=0x80004005: 0 audio data ranges read";

const RangeCase kRangeCases[] = {
    {"no ranges", NoRanges, false, kNoneRead},
    {"a range shorter than a KSDATARANGE",
     [](int d) { RangesFault(d, SIMKS_PROP_RANGE_SMALL, 40); }, false, kNoneRead},
    {"a range reaching past the answer", [](int d) { RangesFault(d, SIMKS_PROP_RANGE_PAST, 8); },
     false, "0 audio data ranges read of 1"},
    {"a count beyond the answer", [](int d) { RangesFault(d, SIMKS_PROP_COUNT_PAST, 1); }, false,
     kNoneRead},
    {"a range promising a rate the pin refuses", PromisesMore, false,
     "No adapted format was taken"},
    {"a pin taking a rate no range lists", TakesMore, true, nullptr},
};

struct BadRanges : WaveRtPlugin, ::testing::WithParamInterface<RangeCase> {
    std::vector<std::string> Settings() override { return {"logging_enabled=1"}; }
    void AddDevices() override {
        ASSERT_EQ(0, SimKs_AddZooDevice(kOnboard));
        GetParam().bend(0);
    }
};

// Bounded (no more pin creations than an open allows), and either every byte played or -1 with
// no pin left open and the reason in the log.
TEST_P(BadRanges, OpenPlaysOrRefusesCleanly) {
    const RangeCase& c = GetParam();
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    int opened = mod->Open(44100, 2, 16, -1, -1);
    EXPECT_LE(SimKs_RequestCount(SIMKS_REQ_CREATE_PIN), 12);
    if (!c.plays) {
        EXPECT_EQ(-1, opened);
        EXPECT_EQ(0, SimKs_StreamCount()) << "no pin was left open";
        EXPECT_NE(std::string::npos, Log().find(c.reason)) << Log();
        return;
    }
    ASSERT_GT(opened, 0);
    std::vector<char> pcm = Pcm(44100, 2, 16, 0.1);
    ASSERT_TRUE(WriteAll(pcm));
    EXPECT_TRUE(EndTrack());
    EXPECT_TRUE(SameBytes(Consumed(0), pcm));
}

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Zoo, BadRanges, ::testing::ValuesIn(kRangeCases));

} // namespace
