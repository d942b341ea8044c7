// The matrix: every stream of 8, 16, 20, 24 and 32 bits, 1, 2 and 6 channels, 44.1, 48 and
// 96 kHz, on every class of the zoo. Each cell either plays bit-transparently (every sample the
// device got, shifted back down, is the one sent; added channels silent) or is refused cleanly
// (no pin left open) with its reason: the message for a missing rate, the log otherwise.
#include "tests/wavert_fixture.h"

#include "tools/common/asdevice.h"

#include <cstdio>
#include <cstring>

namespace {

const int kBits[] = {8, 16, 20, 24, 32};
const int kChannels[] = {1, 2, 6};
const int kRates[] = {44100, 48000, 96000};

// What each class does with the 45 streams in the order bits, channels, rates (innermost):
// P plays, M is refused for its rate (the message shown once per rate), L is refused with the
// reason in the log (channels or bits the device cannot take without loss).
const char* const kExpected[SIMKS_ZOO_COUNT] = {
    // HDA codec: stereo 16 or 24-in-32; 20 valid bits and 32-bit audio do not fit.
    "PPPPPPLLL"
    "PPPPPPLLL"
    "LLLLLLLLL"
    "PPPPPPLLL"
    "LLLLLLLLL",
    // HDA six-channel line-out: every count raised to six.
    "PPPPPPPPP"
    "PPPPPPPPP"
    "LLLLLLLLL"
    "PPPPPPPPP"
    "LLLLLLLLL",
    // USB Audio 1.0: 44.1 and 48 kHz stereo, 16 or packed 24 (extensible).
    "PPMPPMLLM"
    "PPMPPMLLM"
    "LLMLLMLLM"
    "PPMPPMLLM"
    "LLMLLMLLM",
    // USB Audio 2.0: 32-bit containers only, 20 bits as 24 valid.
    "PPPPPPLLL"
    "PPPPPPLLL"
    "PPPPPPLLL"
    "PPPPPPLLL"
    "PPPPPPLLL",
    // Onboard codec: 48 kHz 16-bit stereo.
    "MPMMPMMLM"
    "MPMMPMMLM"
    "MLMMLMMLM"
    "MLMMLMMLM"
    "MLMMLMMLM",
    // Extensible only: 2 or 6 channels of 16, 24-in-32 or 32; 20 valid bits refused.
    "PPPPPPPPP"
    "PPPPPPPPP"
    "LLLLLLLLL"
    "PPPPPPPPP"
    "PPPPPPPPP",
    // Plain only: 1 or 2 channels of 8 or 16 bits up to 48 kHz.
    "PPMPPMLLM"
    "PPMPPMLLM"
    "LLMLLMLLM"
    "LLMLLMLLM"
    "LLMLLMLLM",
};

// Samples as the player sends them: 8-bit unsigned, 20-bit at the top of three bytes.
std::vector<char> Track(int rate, int channels, int bits) {
    int bytes = (bits + 7) / 8;
    std::vector<char> pcm = Pcm(rate, channels, bytes * 8, 0.1);
    if (bits == 20)
        for (size_t i = 0; i < pcm.size(); i += 3)
            pcm[i] = (char)(pcm[i] & 0xF0);
    return pcm;
}

struct Matrix : WaveRtPlugin, ::testing::WithParamInterface<int> {
    std::vector<std::string> Settings() override {
        return {"logging_enabled=1", "input_buffer_size=1048576"};
    }
    void AddDevices() override { ASSERT_EQ(0, SimKs_AddZooDevice(GetParam())); }

    std::string boxedRates = ","; // rates refused with a message so far

    bool NoPinOpen() {
        for (int i = 0; i < SimKs_StreamCount(); i++) {
            SimKsStreamInfo info;
            if (SimKs_GetStream(i, &info) && info.Open)
                return false;
        }
        return true;
    }

    // Plays the stream and judges every byte; "" when it arrived bit-transparently.
    std::string Played(const std::vector<char>& pcm, int channels, int bits) {
        int stream = SimKs_StreamCount() - 1;
        SimKsStreamInfo info;
        SimKs_GetStream(stream, &info);
        const WAVEFORMATEX& f = info.Format.Format;
        std::vector<char> want = asdevice::Bytes(pcm.data(), pcm.size(), channels, bits, f);
        SimKsWaveRtInfo rt;
        bool wavert = SimKs_GetWaveRt(stream, &rt) != FALSE;
        // The DMA engine is stepped by hand; packets play as fast as they come.
        SimKs_SetClock(wavert ? SIMKS_CLOCK_MANUAL : SIMKS_CLOCK_UNPACED, 1.0);
        if (!WriteAll(pcm))
            return "writes refused";
        if (wavert) {
            if (!WaitPrimed(std::vector<char>(want.begin(), want.begin() + 8)))
                return "never primed";
            stepper.Start();
        }
        EXPECT_TRUE(EndTrack());
        stepper.Stop();
        BYTE silence = f.wBitsPerSample == 8 ? 0x80 : 0;
        if (wavert)
            return PlayedExactly(want, silence, f.nBlockAlign);
        ::testing::AssertionResult same = SameBytes(Consumed(stream), want);
        return same ? "" : same.message();
    }

    // The cell's letter, after judging it.
    char Cell(int rate, int channels, int bits) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch, " +
                     std::to_string(rate) + " Hz");
        std::vector<char> pcm = Track(rate, channels, bits);
        int boxes = SimKs_MessageBoxCount();
        size_t logSize = Log().size();
        bool firstForRate = boxedRates.find("," + std::to_string(rate) + ",") == std::string::npos;
        if (mod->Open(rate, channels, bits, -1, -1) > 0) {
            std::string played = Played(pcm, channels, bits);
            EXPECT_EQ("", played);
            return played.empty() ? 'P' : 'X';
        }
        EXPECT_TRUE(NoPinOpen());
        std::string log = Log().substr(logSize);
        if (log.find("Rate refused") != std::string::npos) {
            // Shown the first time for the rate, logged only after that.
            EXPECT_EQ(firstForRate ? boxes + 1 : boxes, SimKs_MessageBoxCount());
            if (firstForRate) {
                EXPECT_NE(std::string::npos, MessageBoxText(boxes).find(" Hz audio. It takes "));
            }
            boxedRates += std::to_string(rate) + ",";
            return 'M';
        }
        EXPECT_EQ(boxes, SimKs_MessageBoxCount());
        bool explained = log.find("No adapted format was taken") != std::string::npos;
        EXPECT_TRUE(explained) << log;
        return explained ? 'L' : 'X';
    }
};

TEST_P(Matrix, EveryStreamPlaysBitTransparentlyOrIsRefusedWithItsReason) {
    std::string got;
    for (int bits : kBits)
        for (int channels : kChannels)
            for (int rate : kRates)
                got += Cell(rate, channels, bits);
    EXPECT_EQ(kExpected[GetParam()], got) << SimKs_ZooName(GetParam());
    printf("matrix: %-40s %s\n", SimKs_ZooName(GetParam()), got.c_str());
}

INSTANTIATE_TEST_SUITE_P(Zoo, Matrix, ::testing::Range(0, SIMKS_ZOO_COUNT));

} // namespace
