// Figures of the playback engine on simulated devices, printed, never asserted: allocations
// while streaming, the player thread's CPU time per second of audio against a memcpy baseline,
// passes of the player loop per packet and per second, and the time from Open to the first
// packet; then the same run's figures of WaveRT streams (rt_bench.cpp).
#include "bench/benchutil.h"
#include "bench/rt_bench.h"
#include "engine/kscore.h"
#include "host/out_module.h"
#include "testbed/redirect.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int kRate = 44100, kChannels = 2, kBits = 16, kBytesPerSec = 176400;

double MemcpyMsPerSecondOfAudio() {
    std::vector<char> a(kBytesPerSec), b(kBytesPerSec);
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < 100; i++) {
        memcpy(b.data(), a.data(), a.size());
        a[i] = b[i + 1];
    }
    QueryPerformanceCounter(&t1);
    return (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart / 100;
}

void OpenToFirstPacket(Out_Module* mod) {
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    std::vector<char> packet(8192, 1);
    LONGLONG before = SimKs_Now();
    int opened = mod->Open(kRate, kChannels, kBits, -1, -1);
    LONGLONG afterOpen = SimKs_Now();
    mod->Write(packet.data(), (int)packet.size());
    int stream = SimKs_StreamCount() - 1;
    SimKsPacketInfo p = {};
    for (int i = 0; i < 500 && SimKs_PacketCount(stream) == 0; i++)
        Sleep(1);
    SimKs_GetPacket(stream, 0, &p);
    mod->Close();
    printf("Open: %d in %.2f ms; first packet submitted %.2f ms after Open was called "
           "(%.2f ms after the first Write)\n",
           opened, (afterOpen - before) / 1000.0, (p.SubmitUs - before) / 1000.0,
           (p.SubmitUs - afterOpen) / 1000.0);
}

void RealTimeStream(Out_Module* mod, double seconds) {
    SimKs_SetClock(SIMKS_CLOCK_REALTIME, 1.0);
    std::vector<char> pcm((size_t)(kBytesPerSec * seconds), 3);
    StreamRun run = RunStream(mod, pcm, kRate, kChannels, kBits);
    int packets = SimKs_PacketCount(run.stream);
    printf("%.0f s of 44.1 kHz 16-bit stereo in real time: %d packets, %ld passes "
           "(%.2f per packet, %.1f wake-ups per second)\n",
           seconds, packets, (long)run.passes, packets ? (double)run.passes / packets : 0.0,
           run.passes / seconds);
    printf("allocations while streaming: %lu; in Close: %lu\n", run.allocations, run.closing);
    printf("player thread CPU time in real time: %.2f ms per second of audio\n",
           run.cpuMs / seconds);
}

// As fast as the simulated device takes it: the player thread's cost per second of audio when
// nothing waits, against memcpy of the same bytes.
void UnpacedStream(Out_Module* mod, double seconds) {
    SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0);
    std::vector<char> pcm((size_t)(kBytesPerSec * seconds), 5);
    mod->Open(kRate, kChannels, kBits, -1, -1);
    double cpu0 = ThreadCpuMs(g_pEngine->PlayerThreadHandle());
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    Stream(mod, pcm);
    mod->Close();
    QueryPerformanceCounter(&t1);
    double wall = (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart;
    double cpu = ThreadCpuMs(g_pEngine->PlayerThreadHandle()) - cpu0;
    printf("unpaced: %.0f s of audio in %.0f ms; player thread CPU %.2f ms per second of audio "
           "(memcpy of the same bytes: %.3f ms)\n",
           seconds, wall, cpu / seconds, MemcpyMsPerSecondOfAudio());
}

} // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 5.0;
    SimKs_Reset();
    SimKs_AddDefaultDevices();
    SimKs_SetCapture(FALSE, NULL);
    SimKs_Install(GetModuleHandleA(NULL));
    Out_Module* mod = winampGetOutModule();
    mod->Init();
    printf("== Packets (standard streaming)\n");
    OpenToFirstPacket(mod);
    RealTimeStream(mod, seconds);
    UnpacedStream(mod, 60);
    printf("== WaveRT, event-driven\n");
    WaveRtFigures(mod, seconds, false);
    printf("== WaveRT, polled\n");
    WaveRtFigures(mod, seconds, true);
    printf("== WaveRT, polled, on the coarse system timer\n");
    CoarseTimerFigures(mod);
    mod->Quit();
    SimKs_Remove(GetModuleHandleA(NULL));
    return 0;
}
