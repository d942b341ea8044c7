// The time heard on a WaveRT device, against the position its DMA engine reached less the hardware
// latency the device reports, at many points of a stream on the manual clock: event-driven and
// polled, small and large halves, a latency, a position that jitters.
#include "tests/wavert_fixture.h"

#include <algorithm>
#include <cstdlib>

namespace {

const ULONG kRate = 176400; // bytes per second of 44.1 kHz 16-bit stereo
const int kAimMs = 5;

struct RtTimeCase {
    const char* name;
    ULONG half;   // bytes per half asked
    DWORD flags;  // SIMKS_RT_*
    ULONG jitter; // frames
};

struct RtTime : WaveRtPlugin, ::testing::WithParamInterface<RtTimeCase> {
    std::vector<std::string> Settings() override {
        std::vector<std::string> s = WaveRtPlugin::Settings();
        s.push_back("output_buffer_size=" + std::to_string(GetParam().half));
        return s;
    }
    void AddDevices() override {
        options.Flags = GetParam().flags;
        options.JitterFrames = GetParam().jitter;
        options.Latency = {1764, 10000, 40000}; // FIFO bytes, chipset and codec delays (100 ns)
        WaveRtPlugin::AddDevices();
    }
    // What the device reports as its latency, in ms at the stream's rate.
    int LatencyMs() {
        if (!(options.Flags & SIMKS_RT_LATENCY))
            return 0;
        const SimKsRtLatency& l = options.Latency;
        return (int)(l.FifoSize * 1000 / kRate + (l.ChipsetDelay + l.CodecDelay) / 10000);
    }
};

// Each sample, a quarter of a half after the last (as the fixture steps the engine, never into a
// half not rewritten): the position the DMA engine reached, less the silence before the track's
// first byte (the second half: the engine puts the track there once the ring holds a half) and the
// latency, against GetOutputTime.
TEST_P(RtTime, IsThePositionHeardWithinTheAim) {
    std::vector<char> pcm = Pcm(44100, 2, 16, 2.0);
    Open(44100, 2, 16);
    ASSERT_TRUE(WriteAll(pcm));
    ASSERT_TRUE(WaitPrimed(std::vector<char>(pcm.begin(), pcm.begin() + 16)));
    SimKsWaveRtInfo rt;
    ASSERT_TRUE(SimKs_GetWaveRt(0, &rt));
    ULONGLONG lead = rt.ActualSize / 2, end = lead + pcm.size() * 3 / 4;
    while (SimKs_PlayedBytes(0) < end) {
        ASSERT_TRUE(StepQuarter(nullptr));
        ULONGLONG played = SimKs_PlayedBytes(0);
        int audio = played > lead ? (int)((played - lead) * 1000 / kRate) : 0;
        int want = std::max(audio - LatencyMs(), 0);
        EXPECT_LE(std::abs(mod->GetOutputTime() - want), kAimMs) << played << " bytes played";
    }
    mod->Close();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RtTime,
    ::testing::Values(RtTimeCase{"EventSmall", 8192, 0, 0}, RtTimeCase{"EventLarge", 65536, 0, 0},
                      RtTimeCase{"PolledSmall", 8192, SIMKS_RT_NO_NOTIFICATION, 0},
                      RtTimeCase{"PolledLarge", 65536, SIMKS_RT_NO_NOTIFICATION, 0},
                      RtTimeCase{"Latency", 8192, SIMKS_RT_LATENCY, 0},
                      RtTimeCase{"Jitter", 8192, 0, 88}),
    [](const ::testing::TestParamInfo<RtTimeCase>& info) { return std::string(info.param.name); });

} // namespace
