// The WaveRT figures of the engine benchmark: the simulated WaveRT device of the default set is
// chosen through the settings record, event-driven or polled, and played in real time.
#include "bench/rt_bench.h"

#include "bench/benchutil.h"
#include "engine/kscore.h"
#include "engine/settings.h"
#include "testbed/redirect.h"

#include <cstdio>
#include <vector>

namespace {

const int kRate = 44100, kChannels = 2, kBits = 16, kBytesPerSec = 176400;

// The first write is one half of the buffer asked for: the engine puts it in place at once.
void OpenToFirstAudio(Out_Module* mod) {
    std::vector<char> half(8192, 1);
    LONGLONG before = SimKs_Now();
    int opened = mod->Open(kRate, kChannels, kBits, -1, -1);
    LONGLONG afterOpen = SimKs_Now();
    mod->Write(half.data(), (int)half.size());
    while (g_pEngine->Snapshot().bytesWritten == 0 && SimKs_Now() - before < 1000000)
        SwitchToThread();
    LONGLONG first = SimKs_Now();
    mod->Close();
    printf("Open: %d in %.2f ms; first audio in the cyclic buffer %.2f ms after Open was called "
           "(%.2f ms after the first Write)\n",
           opened, (afterOpen - before) / 1000.0, (first - before) / 1000.0,
           (first - afterOpen) / 1000.0);
}

void RealTimeStream(Out_Module* mod, double seconds) {
    std::vector<char> pcm((size_t)(kBytesPerSec * seconds), 3);
    StreamRun run = RunStream(mod, pcm, kRate, kChannels, kBits);
    printf("%.0f s of 44.1 kHz 16-bit stereo in real time: %ld passes (%.1f wake-ups per second); "
           "%ld gaps, %d stale replays; allocations while streaming: %lu\n",
           seconds, (long)run.passes, run.passes / seconds, (long)g_pEngine->Snapshot().gaps,
           SimKs_StaleCount(run.stream), run.allocations);
    printf("player thread CPU time in real time: %.2f ms per second of audio\n",
           run.cpuMs / seconds);
}

// Stale halves of 2 s of 192 kHz 24-bit stereo on the polled device, the log's timer named.
int StaleHalves(Out_Module* mod, bool refuse) {
    SimKs_RefuseTimerPeriod(refuse);
    std::vector<char> pcm(192000 * 6 * 2, 7);
    StreamRun run = RunStream(mod, pcm, 192000, 2, 24);
    SimKs_RefuseTimerPeriod(FALSE);
    return SimKs_StaleCount(run.stream);
}

} // namespace

void CoarseTimerFigures(Out_Module* mod) {
    SimKsWaveRtOptions options = {};
    options.Flags = SIMKS_RT_NO_NOTIFICATION;
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &options);
    lstrcpyA(g_pSettings->output_device, SimKs_DevicePath(SIMKS_DEFAULT_WAVERT));
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 1.0);
    SimKs_SetCoarseTimer(TRUE);
    int with = StaleHalves(mod, false);
    int without = StaleHalves(mod, true);
    SimKs_SetCoarseTimer(FALSE);
    printf("2 s of 192 kHz 24-bit stereo, polled, default settings, coarse timer: %d stale halves "
           "with the 1 ms timer request, %d with it refused\n",
           with, without);
    g_pSettings->output_device[0] = '\0';
}

void WaveRtFigures(Out_Module* mod, double seconds, bool polled) {
    SimKsWaveRtOptions options = {};
    options.Flags = polled ? (DWORD)SIMKS_RT_NO_NOTIFICATION : 0;
    SimKs_SetWaveRtOptions(SIMKS_DEFAULT_WAVERT, &options);
    lstrcpyA(g_pSettings->output_device, SimKs_DevicePath(SIMKS_DEFAULT_WAVERT));
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 1.0);
    OpenToFirstAudio(mod);
    RealTimeStream(mod, seconds);
    g_pSettings->output_device[0] = '\0';
}
