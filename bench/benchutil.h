// What the engine's benchmarks share: the player thread's CPU time, and writing audio as the
// player does, paced by CanWrite.
#pragma once

#include "host/out_module.h"

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
