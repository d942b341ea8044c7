// What the engine's benchmarks share: the player thread's CPU time, and writing audio as the
// player does, paced by CanWrite.
#pragma once

#include "engine/kscore.h"
#include "host/out_module.h"
#include "testbed/simks.h"

#include <windows.h>

#include <vector>

// CPU time the thread has used, in milliseconds; -1 when it cannot be read.
inline double ThreadCpuMs(HANDLE thread) {
    FILETIME create, exit, kernel, user;
    if (!GetThreadTimes(thread, &create, &exit, &kernel, &user))
        return -1;
    ULONGLONG k = ((ULONGLONG)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime;
    ULONGLONG u = ((ULONGLONG)user.dwHighDateTime << 32) | user.dwLowDateTime;
    return (k + u) / 10000.0;
}

// Writes the audio as the player does, in chunks of 4096 bytes whenever CanWrite allows.
inline void Stream(Out_Module* mod, const std::vector<char>& pcm) {
    size_t pos = 0;
    while (pos < pcm.size()) {
        size_t chunk = pcm.size() - pos < 4096 ? pcm.size() - pos : 4096;
        if ((size_t)mod->CanWrite() < chunk) {
            Sleep(10);
            continue;
        }
        mod->Write((char*)pcm.data() + pos, (int)chunk);
        pos += chunk;
    }
}

// One stream written in real time and measured: opened, written as the player does (allocations
// counted meanwhile) and closed; the player thread's CPU time and passes over all of it.
struct StreamRun {
    int stream = -1;       // the simulated stream it played on
    ULONG allocations = 0; // while the audio was written
    ULONG closing = 0;     // in Close
    double cpuMs = 0;
    LONG passes = 0;
};

inline StreamRun RunStream(Out_Module* mod, const std::vector<char>& pcm, int rate, int channels,
                           int bits) {
    StreamRun run;
    mod->Open(rate, channels, bits, -1, -1);
    run.stream = SimKs_StreamCount() - 1;
    double cpu0 = ThreadCpuMs(g_pEngine->PlayerThreadHandle());
    LONG passes0 = g_pEngine->Snapshot().passes;
    SimKs_ArmAllocations(0);
    Stream(mod, pcm);
    run.allocations = SimKs_DisarmAllocations();
    SimKs_ArmAllocations(0);
    mod->Close();
    run.closing = SimKs_DisarmAllocations();
    run.cpuMs = ThreadCpuMs(g_pEngine->PlayerThreadHandle()) - cpu0;
    run.passes = g_pEngine->Snapshot().passes - passes0;
    return run;
}
